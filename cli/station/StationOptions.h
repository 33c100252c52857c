#pragma once
// The production commands' own options (station, station-report). Parsed apart from the common
// options so each rule is tested without a programmer.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cli/station/SerialNumber.h"

namespace quillet::cli::station {

// Where the journal goes when no --journal is given and no serial number is patched.
inline constexpr char kDefaultJournal[] = "quillet-station.jsonl";

struct StationOptions {
  std::string journal;  // empty: kDefaultJournal
  std::optional<SerialPlan> serial;  // with --serial-at, once checked
  bool keepSerial = false;
  std::vector<std::string> programmers;  // serial numbers or device nodes; empty: every one
  std::optional<uint64_t> maxBoards;
  int benchSize = 0;               // --simulate-bench=N: N simulated programmers
  uint32_t benchFlashSize = 0;    // 0: the chosen chip's, so that its boards can pass
  bool csv = false;

  // As given, before the check.
  std::optional<uint64_t> serialAt, serialStart, serialStep, serialWidth, serialEnd;
  std::optional<Endian> serialEndian;
  bool serialOverwrite = false;
  std::vector<std::string> given;  // the options seen, in order
};

// When arguments[i] is one of these options, takes it (and its value, moving `i` past it) and
// returns true; `error` says what is wrong with it.
bool TakeStationOption(const std::vector<std::string>& arguments, size_t& i, StationOptions& s, std::string& error);

// Once the command is known: the first misuse, or empty (and the serial plan built).
std::string CheckStationOptions(StationOptions& s, bool isStation, bool isReport);

// "16384", "0x3FF0": a whole number, decimal or hex.
std::optional<uint64_t> ParseWholeNumber(const std::string& text);

}  // namespace quillet::cli::station
