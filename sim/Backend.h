#pragma once
// Where the HID component finds its devices: the system's hidraw nodes with a udev monitor for
// plug and unplug, or a simulated platform with the programmer attached, for use without hardware.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "hid/DeviceChangeSource.h"
#include "hid/HidPlatform.h"
#include "sim/SimHidPlatform.h"
#include "sim/SimKnobs.h"
#include "sim/SimProgrammer.h"

namespace quillet {

struct HidBackend {
  std::shared_ptr<hid::IHidPlatform> platform;
  std::shared_ptr<hid::IDeviceChangeSource> changes;  // null: no plug notifications
  std::string changesError;                            // why there are none
  // Simulate mode only: the platform and the programmer attached to it.
  std::shared_ptr<sim::SimHidPlatform> simulator;
  std::shared_ptr<sim::SimProgrammer> programmer;
  std::string programmerPath;
  // The programmer's device as it was first attached, to plug it in again.
  std::function<sim::SimHidDeviceConfig()> programmerDevice;
  std::string flashFile;  // where the chip's flash is kept between runs; empty: nowhere
};

// The programs' "--simulate" (16 KiB) or "--simulate=16k|32k" (either case): the simulated chip's
// flash size. Nothing when `argument` is another option; with `error` set when the size is not one.
std::optional<uint32_t> ParseSimulateOption(const std::string& argument, std::string& error);

// What a front end runs over: the system's devices (under the test-only QUILLET_SYSFS_ROOT and
// QUILLET_DEV_ROOT when set), or with `simulateFlashSize` the simulated programmer as the test-only
// knobs in the environment set it (sim/SimKnobs.h). Nothing, with `error`, when they cannot be used.
std::optional<HidBackend> HidBackendFromEnvironment(std::optional<uint32_t> simulateFlashSize,
                                                    std::string& error);
// Simulate mode: the chip's flash back to its file, so the next run finds the same chip. Empty on
// success or when there is no file, else why.
std::string SaveSimulatedFlash(const HidBackend& backend);

// The system's devices, one file per operating system (SystemBackendLinux.cpp, ...). On Linux the
// test-only QUILLET_SYSFS_ROOT and QUILLET_DEV_ROOT may stand a tree of their own in for /sys and
// /dev; the udev monitor is the system's all the same. Nothing, with `error`, where the system's
// devices cannot be used.
std::optional<HidBackend> SystemHidBackend(std::string& error);
// The simulated programmer, paced at one report per millisecond as a full-speed device, as
// configured (faults, chip); `device` may adjust how it enumerates
// and takes reports before it is attached.
HidBackend SimulatedHidBackend(sim::SimProgrammerConfig config,
                               const std::function<void(sim::SimHidDeviceConfig&)>& device = {});
// The simulated programmer as the test-only knobs set it: its faults and chip, how many output
// reports its device takes, and its chip's flash from the knobs' file (kept as `flashFile`).
// Nothing, with `error`, when that file cannot be read.
std::optional<HidBackend> SimulatedHidBackend(uint32_t flashSize, const sim::SimKnobs& knobs,
                                              std::string& error);
// Over a simulated platform the caller set up.
HidBackend SimulatedHidBackend(std::shared_ptr<sim::SimHidPlatform> platform);

}  // namespace quillet
