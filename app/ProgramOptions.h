#pragma once
// The program's own command-line options. Options come out first, so that what is left are the
// positional arguments (the image file rules count only those).

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quillet {

struct ProgramOptions {
  // Flash size of the simulated programmer's chip; nothing: use the real USB devices.
  std::optional<uint32_t> simulateFlashSize;
  bool help = false;
  bool version = false;
  std::vector<std::string> positional;
  std::string error;  // non-empty: the arguments are not usable, and this says why
};

// `arguments` excludes the program name.
ProgramOptions ParseProgramOptions(const std::vector<std::string>& arguments);

std::string ProgramUsage(const std::string& programName);

}  // namespace quillet
