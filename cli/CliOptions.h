#pragma once
// The command line of quillet-cli: one command, its arguments, and options that may come before
// or after it. Parsing is pure, so every rule is tested without a programmer.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cli/station/StationOptions.h"
#include "engine/Wire.h"

namespace quillet::cli {

// The process's exit status, as documented in --help and the README.
enum ExitCode : int {
  kExitOk = 0,
  kExitFailed = 1,        // verify mismatch, failure reply, no chip on the connector
  kExitUsage = 2,         // bad usage or a bad input file
  kExitNoProgrammer = 3,  // none attached, or it cannot be opened
  kExitNoAnswer = 4,      // the programmer stopped answering
};

enum class Command { None, List, Detect, Read, Write, Verify, Convert, Station, StationReport };
enum class Verbosity { Quiet, Normal, Verbose };

struct CliOptions {
  Command command = Command::None;
  std::vector<std::string> arguments;  // the command's positional arguments
  std::string chip;                    // the catalogue name CHIP stands for
  std::string output;                  // read -o
  // The task flags, defaulting as the window's check boxes do.
  TaskFlags flags{.verify = true, .resetRun = true, .erase = true, .encrypt = false};
  bool readback = false;
  std::string snapshotDir;
  bool watch = false;
  bool notify = false;  // a desktop notification when each watched write ends
  std::optional<uint32_t> simulateFlashSize;
  std::string serial;
  std::string device;
  Verbosity verbosity = Verbosity::Normal;
  bool json = false;
  station::StationOptions station;  // station and station-report
  bool help = false;
  bool version = false;
  std::string error;  // non-empty: bad usage, and why
};

// `arguments` excludes the program name.
CliOptions ParseCliOptions(const std::vector<std::string>& arguments);

// The catalogue name a user's CHIP stands for: the names without regard to case, "-" for "_",
// the "NRF24" prefix optional, and any unambiguous beginning ("le1", "lu1_32k"). Empty with
// `error` set when it names none or more than one.
std::string MatchChip(const std::string& text, std::string& error);
// The flash size of the catalogue's chip `chip`; 0 when it names none.
uint32_t FlashSizeOf(const std::string& chip);

std::string CliUsage();

}  // namespace quillet::cli
