#include "sim/Backend.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <string_view>
#include <stdexcept>

#include "sim/SimHidModels.h"

namespace quillet {

std::optional<uint32_t> ParseSimulateOption(const std::string& argument, std::string& error) {
  constexpr std::string_view kWithSize = "--simulate=";
  if (argument == "--simulate") return kFlash16K;
  if (argument.rfind(kWithSize, 0) != 0) return std::nullopt;
  const std::string given = argument.substr(kWithSize.size());
  std::string size = given;
  std::transform(size.begin(), size.end(), size.begin(), [](unsigned char c) { return std::tolower(c); });
  if (size == "16k") return kFlash16K;
  if (size == "32k") return kFlash32K;
  error = "--simulate takes 16k or 32k, not \"" + given + "\"";
  return std::nullopt;
}

HidBackend SimulatedHidBackend(std::shared_ptr<sim::SimHidPlatform> platform) {
  HidBackend b;
  b.simulator = std::move(platform);
  b.platform = b.simulator;
  // The change source lives inside the platform; share the platform's ownership.
  b.changes = std::shared_ptr<hid::IDeviceChangeSource>(b.simulator, &b.simulator->Changes());
  return b;
}

HidBackend SimulatedHidBackend(sim::SimProgrammerConfig config,
                               const std::function<void(sim::SimHidDeviceConfig&)>& device) {
  HidBackend b = SimulatedHidBackend(std::make_shared<sim::SimHidPlatform>());
  b.programmer = std::make_shared<sim::SimProgrammer>(std::move(config));
  b.programmerDevice = [programmer = b.programmer, device] {
    auto d = sim::ProgrammerDeviceConfig(programmer, std::chrono::milliseconds(1));
    if (device) device(d);
    return d;
  };
  // Before anyone listens: the attach is not news to a program that has not started yet.
  b.programmerPath = b.simulator->Attach(b.programmerDevice());
  return b;
}

std::optional<HidBackend> SimulatedHidBackend(uint32_t flashSize, const sim::SimKnobs& knobs,
                                              std::string& error) {
  sim::SimProgrammerConfig config;
  config.flashSize = flashSize;
  config.faults = knobs.faults;
  config.chipConnected = knobs.chipConnected;
  const int takes = knobs.takesOutputReports;
  const bool refused = knobs.accessRefused;
  HidBackend b = SimulatedHidBackend(std::move(config), [takes, refused](sim::SimHidDeviceConfig& d) {
    d.takesOutputReports = takes;
    if (refused)
      d.refusedAccess = {hid::HidAccess::ReadWrite, hid::HidAccess::ReadOnly, hid::HidAccess::WriteOnly,
                         hid::HidAccess::None};
  });
  b.flashFile = knobs.flashFile;
  error = sim::LoadFlashFile(b.flashFile, *b.programmer);
  if (!error.empty()) return std::nullopt;
  return b;
}

std::optional<HidBackend> HidBackendFromEnvironment(std::optional<uint32_t> simulateFlashSize,
                                                    std::string& error) {
  if (!simulateFlashSize) return SystemHidBackend(error);
  const sim::SimKnobs knobs = sim::SimKnobsFromEnvironment(error);
  if (!error.empty()) return std::nullopt;
  return SimulatedHidBackend(*simulateFlashSize, knobs, error);
}

std::string SaveSimulatedFlash(const HidBackend& backend) {
  return backend.programmer ? sim::SaveFlashFile(backend.flashFile, *backend.programmer) : std::string();
}

}  // namespace quillet
