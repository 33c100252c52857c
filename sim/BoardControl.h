#pragma once
// A hand at a simulated programmer's connector, told from outside what to do: seat a board (a
// fresh chip with its own flash content), take it off (keeping what it holds), make writes hang
// as a stuck fixture does, pull the cable. Commands are text lines, one each; every command is
// answered with one line, so a script can wait for it to have been done.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/SimProgrammer.h"

namespace quillet::sim {

// What a new chip holds before it is first erased: a pattern of its own for each `seed`.
std::vector<uint8_t> FactoryFlash(uint32_t size, uint32_t seed);

class BoardControl {
 public:
  using Say = std::function<void(const std::string& line)>;
  // `seed` makes this connector's boards differ from another's; `faults` are those it was started with.
  BoardControl(SimProgrammer& model, uint32_t flashSize, bool chipOn, uint32_t seed, SimProgrammerFaults faults, Say say);

  // Carries out one command line; false when it asks for the cable to be pulled.
  bool Command(std::string_view line);
  // Called after each output report the model took (report ID byte first): tells when a write's
  // image stream begins and when it has all been taken, and when the host has asked twice whether
  // a chip is on the connector since a board was seated or removed (a station takes two answers
  // in a row for a change; a script waits for this line before it changes the connector again).
  void AfterOutput(const uint8_t* report, size_t length);

  bool Seated() const { return seated_; }
  int Boards() const { return boards_; }

  static const char* Help();

 private:
  SimProgrammer& model_;
  uint32_t flashSize_;
  uint32_t seed_;
  SimProgrammerFaults faults_;
  Say say_;
  bool seated_;
  int boards_;
  bool writing_ = false;
  int asked_ = 0;  // identity requests since the connector last changed
};

// Splits what a stream descriptor delivers, in pieces of any size, into lines. A line longer than
// `kLongest` is cut there (no command is that long, so it is refused), never kept growing.
class LineSplitter {
 public:
  static constexpr size_t kLongest = 4096;
  // Takes `bytes` and calls `line` for each line they complete (without its end).
  void Feed(std::string_view bytes, const std::function<void(std::string_view)>& line);

 private:
  std::string pending_;
  bool overlong_ = false;  // the rest of a line that was cut
};

}  // namespace quillet::sim
