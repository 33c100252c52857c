#include "app/ProgramOptions.h"

#include "sim/Backend.h"

namespace quillet {

ProgramOptions ParseProgramOptions(const std::vector<std::string>& arguments) {
  ProgramOptions o;
  bool optionsEnded = false;
  for (const std::string& a : arguments) {
    if (optionsEnded || a.size() < 2 || a[0] != '-') {
      o.positional.push_back(a);
    } else if (a == "--") {
      optionsEnded = true;
    } else if (auto size = ParseSimulateOption(a, o.error)) {
      o.simulateFlashSize = size;
    } else if (!o.error.empty()) {
      return o;
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
