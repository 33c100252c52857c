#pragma once
// Test-only settings of the simulate mode, read from the environment in this one place and kept
// out of --help: the tests need a simulated programmer that misbehaves, and a simulated chip
// whose content outlives one run.
//
//   QUILLET_SIM_FLASH=FILE    the chip's flash is loaded from FILE at start (when it exists) and
//                             saved back to it after every operation
//   QUILLET_SIM_FAULTS=LIST   comma-separated: connect-reply=0x81, read-reply=0x85,
//                             write-reply=0x86, verify-reply=0x87, stall-read=N (data reports),
//                             drop-read=N, wrong-check-word, corrupt-checksum, no-chip,
//                             stuck=ADDR:ZEROS:ONES (bits stuck at 0 and at 1; repeatable),
//                             takes-output=N (the device stops taking output reports after N)
//   QUILLET_SYSFS_ROOT, QUILLET_DEV_ROOT
//                             where the system backend looks for /sys and /dev

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "hid/LinuxHidPlatform.h"
#include "sim/SimHidPlatform.h"
#include "sim/SimProgrammer.h"

namespace quillet::cli {

struct SimKnobs {
  sim::SimProgrammerFaults faults;
  bool chipConnected = true;
  int takesOutputReports = -1;
  std::string flashFile;
};

// Empty `error` on success.
SimKnobs ParseSimKnobs(const char* faults, const char* flashFile, std::string& error);
SimKnobs SimKnobsFromEnvironment(std::string& error);

hid::LinuxHidPaths HidPathsFromEnvironment();

}  // namespace quillet::cli
