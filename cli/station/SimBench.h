#pragma once
// A bench of simulated programmers for the station without hardware: each has its own chip, and
// an operator's hand seats a fresh board on an empty connector, and takes a board off once its
// slot is done with it (flashed or held), each after a short pause.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/station/SlotMachine.h"
#include "sim/Backend.h"
#include "sim/SimProgrammer.h"

namespace quillet::cli::station {

class SimBench {
 public:
  using Clock = std::chrono::steady_clock;
  struct Options {
    int size = 1;
    uint32_t flashSize = 16384;
    std::chrono::milliseconds dwell{300};  // a finished board stays this long before it is taken off
    std::chrono::milliseconds gap{300};    // an empty connector stays so this long
    std::chrono::microseconds reportInterval{1000};  // full-speed pacing
    std::vector<sim::SimProgrammerFaults> faults;    // by position; missing: none
    std::vector<std::string> serials;                // by position; missing: SIMBENCHnn
    // The flash a fresh board arrives with, by position and board (0-based); empty: what the
    // factory left, a pattern that differs from board to board.
    std::function<std::vector<uint8_t>(int position, int board)> freshFlash;
  };

  explicit SimBench(Options options);
  HidBackend Backend() const { return backend_; }
  int Size() const { return static_cast<int>(positions_.size()); }
  std::string Serial(int i) const;
  sim::SimProgrammer& Programmer(int i) { return *positions_[static_cast<size_t>(i)].programmer; }

  // Moves the boards along; `state` tells a slot's state by its programmer's serial number and node.
  using SlotState = std::function<std::optional<SlotMachine::State>(const std::string& serial, const std::string& node)>;
  void Tend(Clock::time_point now, const SlotState& state);
  // The flash of every board taken off position `i`, in order.
  const std::vector<std::vector<uint8_t>>& BoardsTakenOff(int i) const {
    return positions_[static_cast<size_t>(i)].takenOff;
  }
  int BoardsSeated(int i) const { return positions_[static_cast<size_t>(i)].seated; }
  // A hand on the programmer's cable.
  void Unplug(int i);
  void Plug(int i);

 private:
  struct Position {
    std::shared_ptr<sim::SimProgrammer> programmer;
    std::string path;  // while attached
    bool boardOn = false;
    std::optional<Clock::time_point> since;  // when the current wait began
    int seated = 0;
    std::vector<std::vector<uint8_t>> takenOff;
  };
  sim::SimHidDeviceConfig Device(int i) const;

  Options options_;
  HidBackend backend_;
  std::vector<Position> positions_;
  uint32_t boards_ = 0;  // seeds each fresh board's content
};

}  // namespace quillet::cli::station
