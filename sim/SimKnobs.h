#pragma once
// Test-only settings of the simulate mode, read from the environment in this one place and kept
// out of --help: the tests need a simulated programmer that misbehaves, and a simulated chip
// whose content outlives one run. Both front ends honour them.
//
//   QUILLET_SIM_FLASH=FILE    the chip's flash is loaded from FILE at start (when it exists) and
//                             saved back to it (after every operation of quillet-cli; when the
//                             window closes)
//   QUILLET_SIM_FAULTS=LIST   comma-separated: connect-reply=0x81, read-reply=0x85,
//                             write-reply=0x86, verify-reply=0x87, stall-read=N (data reports),
//                             drop-read=N, wrong-check-word, corrupt-checksum,
//                             withhold-checksum (the verify reply never comes), no-chip,
//                             stuck=ADDR:ZEROS:ONES (bits stuck at 0 and at 1; repeatable),
//                             takes-output=N (the device stops taking output reports after N),
//                             refuse-access (this user may not open the programmer's node)
//
// Where the system backend looks for /sys and /dev is hid/LinuxHidPlatform.h's knob.

#include <string>

#include "sim/SimProgrammer.h"

namespace quillet::sim {

struct SimKnobs {
  SimProgrammerFaults faults;
  bool chipConnected = true;
  int takesOutputReports = -1;
  bool accessRefused = false;
  std::string flashFile;
};

// Empty `error` on success.
SimKnobs ParseSimKnobs(const char* faults, const char* flashFile, std::string& error);
SimKnobs SimKnobsFromEnvironment(std::string& error);

// The chip's flash from `file` (the knobs' flashFile), when there is one. Empty on success, else
// why, naming the file.
std::string LoadFlashFile(const std::string& file, SimProgrammer& programmer);
// The chip's flash back to `file`, replaced whole or not at all. Empty on success (or with no
// file), else why, naming the file.
std::string SaveFlashFile(const std::string& file, const SimProgrammer& programmer);

}  // namespace quillet::sim
