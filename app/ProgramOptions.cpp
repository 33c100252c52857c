#include "app/ProgramOptions.h"

#include <algorithm>
#include <cctype>
#include <string_view>

#include "engine/Wire.h"

namespace quillet {

namespace {
constexpr std::string_view kSimulateWithSize = "--simulate=";

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
  return s;
}
}  // namespace

ProgramOptions ParseProgramOptions(const std::vector<std::string>& arguments) {
  ProgramOptions o;
  bool optionsEnded = false;
  for (const std::string& a : arguments) {
    if (optionsEnded || a.size() < 2 || a[0] != '-') {
      o.positional.push_back(a);
    } else if (a == "--") {
      optionsEnded = true;
    } else if (a == "--simulate") {
      o.simulateFlashSize = kFlash16K;
    } else if (a.rfind(kSimulateWithSize, 0) == 0) {
      const std::string given = a.substr(kSimulateWithSize.size());
      const std::string size = Lower(given);
      if (size == "16k") {
        o.simulateFlashSize = kFlash16K;
      } else if (size == "32k") {
        o.simulateFlashSize = kFlash32K;
      } else {
        o.error = "--simulate takes 16k or 32k, not \"" + given + "\"";
        return o;
      }
    } else if (a == "--help" || a == "-h") {
      o.help = true;
    } else if (a == "--version") {
      o.version = true;
    } else {
      o.error = "unknown option " + a;
      return o;
    }
  }
  return o;
}

std::string ProgramUsage(const std::string& programName) {
  return "Usage: " + programName + " [--simulate[=16k|32k]] [FILE]\n"
         "Writes, reads and checks the flash of nRF24LE1 and nRF24LU1 chips through the USB\n"
         "programmer (04d8:003f).\n\n"
         "  --simulate[=16k|32k]  run against a simulated programmer with a 16 KiB (default) or\n"
         "                        32 KiB chip instead of the USB devices\n"
         "  --help                show this text and exit\n"
         "  --version             show the version and exit\n\n"
         "F9 writes the chip from anywhere on the desktop (X11), as the Write button does.\n";
}

}  // namespace quillet
