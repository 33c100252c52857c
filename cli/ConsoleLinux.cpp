#include <sys/ioctl.h>
#include <unistd.h>

#include <clocale>
#include <csignal>

#include "cli/Console.h"

namespace quillet::cli {

std::vector<std::string> PrepareProcess(int argc, char** argv) {
  // A reader of stdout that goes away (| head) ends the output, not the process mid-write.
  std::signal(SIGPIPE, SIG_IGN);
  // The system's messages (strerror) in the user's language, as UTF-8 like all the output; the
  // other categories (numbers above all, which JSON needs with a point) stay C's.
  std::setlocale(LC_CTYPE, "C.UTF-8");
  std::setlocale(LC_MESSAGES, "");
  return std::vector<std::string>(argv + 1, argv + argc);
}

bool ErrorStreamIsTerminal() { return ::isatty(STDERR_FILENO); }

int ErrorStreamColumns() {
  winsize w{};
  return ::ioctl(STDERR_FILENO, TIOCGWINSZ, &w) == 0 ? int{w.ws_col} : 0;
}

}  // namespace quillet::cli
