#pragma once
// The commands of quillet-cli over a programmer session, and the process around them: output
// streams, JSON records, the simulated programmer's set-up, watch mode.

#include <string>
#include <vector>

namespace quillet::cli {

// The whole program; `arguments` excludes the program name. Returns the exit status.
int RunCli(const std::vector<std::string>& arguments);

}  // namespace quillet::cli
