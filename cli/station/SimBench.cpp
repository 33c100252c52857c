#include "cli/station/SimBench.h"

#include <cstdio>

#include "sim/BoardControl.h"
#include "sim/SimHidModels.h"

namespace quillet::cli::station {

SimBench::SimBench(Options options) : options_(std::move(options)) {
  backend_ = SimulatedHidBackend(std::make_shared<sim::SimHidPlatform>());
  positions_.resize(static_cast<size_t>(options_.size));
  for (int i = 0; i < options_.size; ++i) {
    sim::SimProgrammerConfig config;
    config.flashSize = options_.flashSize;
    config.chipConnected = false;
    if (static_cast<size_t>(i) < options_.faults.size()) config.faults = options_.faults[static_cast<size_t>(i)];
    positions_[static_cast<size_t>(i)].programmer = std::make_shared<sim::SimProgrammer>(config);
    Plug(i);
  }
}

std::string SimBench::Serial(int i) const {
  if (static_cast<size_t>(i) < options_.serials.size()) return options_.serials[static_cast<size_t>(i)];
  char text[24];
  std::snprintf(text, sizeof text, "SIMBENCH%02d", i + 1);
  return text;
}

sim::SimHidDeviceConfig SimBench::Device(int i) const {
  sim::SimHidDeviceConfig d =
      sim::ProgrammerDeviceConfig(positions_[static_cast<size_t>(i)].programmer, options_.reportInterval);
  d.serial = Serial(i);
  return d;
}

void SimBench::Unplug(int i) {
  Position& p = positions_[static_cast<size_t>(i)];
  if (p.path.empty()) return;
  backend_.simulator->Detach(p.path);
  p.path.clear();
}

void SimBench::Plug(int i) {
  Position& p = positions_[static_cast<size_t>(i)];
  if (p.path.empty()) p.path = backend_.simulator->Attach(Device(i));
}

void SimBench::Tend(Clock::time_point now, const SlotState& state) {
  for (int i = 0; i < Size(); ++i) {
    Position& p = positions_[static_cast<size_t>(i)];
    const auto s = state(Serial(i), p.path);
    const bool done = s == SlotMachine::State::Flashed || s == SlotMachine::State::Held;
    // A finished board waits to be taken off; an empty connector, for its slot to have seen it
    // empty (so the slot's next Flashed is about the next board).
    const bool waiting = p.boardOn ? done : s == SlotMachine::State::Empty;
    if (!waiting) {
      p.since.reset();
      continue;
    }
    if (!p.since) p.since = now;
    if (now - *p.since < (p.boardOn ? options_.dwell : options_.gap)) continue;
    p.since.reset();
    if (p.boardOn) {
      p.programmer->SetChipConnected(false);
      p.takenOff.push_back(p.programmer->Flash());
      p.boardOn = false;
    } else {
      p.programmer->SetFlash(options_.freshFlash ? options_.freshFlash(i, p.seated) : sim::FactoryFlash(options_.flashSize, ++boards_));
      p.programmer->SetChipConnected(true);
      p.boardOn = true;
      ++p.seated;
    }
  }
}

}  // namespace quillet::cli::station
