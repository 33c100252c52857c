// Process entry of quillet-cli.

#include <csignal>
#include <string>
#include <vector>

#include "cli/Commands.h"

int main(int argc, char** argv) {
  // A reader of stdout that goes away (| head) ends the output, not the process mid-write.
  std::signal(SIGPIPE, SIG_IGN);
  return quillet::cli::RunCli(std::vector<std::string>(argv + 1, argv + argc));
}
