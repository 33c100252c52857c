#include "cli/Commands.h"

#include <cstdio>
#include <exception>

#include "app/Version.h"
#include "cli/Output.h"

namespace quillet::cli {

int RunCli(const std::vector<std::string>& arguments) {
  const CliOptions o = ParseCliOptions(arguments);
  if (o.help) {
    std::fputs(CliUsage().c_str(), stdout);
    return kExitOk;
  }
  if (o.version) {
    std::printf("%s %s\n", kProgram, kVersionText);
    return kExitOk;
  }
  if (!o.error.empty()) {
    std::fprintf(stderr, "%s: %s (quillet-cli --help shows the usage)\n", kProgram, o.error.c_str());
    return kExitUsage;
  }
  Output out(o);
  try {
    switch (o.command) {
      case Command::List: return RunList(o, out);
      case Command::Detect: return RunDetect(o, out);
      case Command::Read: return RunRead(o, out);
      case Command::Write: return RunWrite(o, out);
      case Command::Verify: return RunVerify(o, out);
      case Command::Convert: return RunConvert(o, out);
      case Command::None: break;
    }
  } catch (const std::exception& e) {
    out.Error(e.what());
    return kExitFailed;
  }
  return kExitUsage;
}

}  // namespace quillet::cli
