// The console on Windows: arguments come as UTF-16 and become UTF-8 (so a file in a folder named
// in any script can be given), output goes to the console as UTF-8, and the console interprets
// the progress bar's escapes.

#include <windows.h>
#include <shellapi.h>

#include "cli/Console.h"
#include "component/WindowsText.h"

namespace quillet::cli {

std::vector<std::string> PrepareProcess(int, char**) {
  ::SetConsoleOutputCP(CP_UTF8);
  const HANDLE err = ::GetStdHandle(STD_ERROR_HANDLE);
  DWORD mode = 0;
  if (::GetConsoleMode(err, &mode)) ::SetConsoleMode(err, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);

  std::vector<std::string> arguments;
  int count = 0;
  if (LPWSTR* wide = ::CommandLineToArgvW(::GetCommandLineW(), &count)) {
    for (int i = 1; i < count; ++i) arguments.push_back(NarrowToUtf8(wide[i]));
    ::LocalFree(wide);
  }
  return arguments;
}

bool ErrorStreamIsTerminal() {
  DWORD mode = 0;
  return ::GetConsoleMode(::GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

int ErrorStreamColumns() {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (!::GetConsoleScreenBufferInfo(::GetStdHandle(STD_ERROR_HANDLE), &info)) return 0;
  return info.srWindow.Right - info.srWindow.Left + 1;
}

}  // namespace quillet::cli
