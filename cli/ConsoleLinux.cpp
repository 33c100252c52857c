#include <sys/ioctl.h>
#include <unistd.h>

#include <csignal>

#include "cli/Console.h"

namespace quillet::cli {

std::vector<std::string> PrepareProcess(int argc, char** argv) {
  // A reader of stdout that goes away (| head) ends the output, not the process mid-write.
  std::signal(SIGPIPE, SIG_IGN);
  return std::vector<std::string>(argv + 1, argv + argc);
}

bool ErrorStreamIsTerminal() { return ::isatty(STDERR_FILENO); }

int ErrorStreamColumns() {
  winsize w{};
  return ::ioctl(STDERR_FILENO, TIOCGWINSZ, &w) == 0 ? int{w.ws_col} : 0;
}

}  // namespace quillet::cli
