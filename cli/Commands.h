#pragma once
// The commands of quillet-cli, and the program that dispatches to them.

#include <string>
#include <vector>

#include "cli/CliOptions.h"

namespace quillet::cli {

class Output;

int RunList(const CliOptions& o, Output& out);
int RunDetect(const CliOptions& o, Output& out);
int RunRead(const CliOptions& o, Output& out);
int RunWrite(const CliOptions& o, Output& out);
int RunVerify(const CliOptions& o, Output& out);
int RunConvert(const CliOptions& o, Output& out);

// The whole program; `arguments` excludes the program name. Returns the exit status.
int RunCli(const std::vector<std::string>& arguments);

}  // namespace quillet::cli
