#pragma once
// What the command line needs of its process and console that differs per system
// (ConsoleLinux.cpp, ConsoleWindows.cpp): the arguments as UTF-8, the console made ready for the
// UTF-8 text and the progress bar's escapes, and standard error's terminal and its width.

#include <string>
#include <vector>

namespace quillet::cli {

// Call first in main: the program's arguments, without its own name, as UTF-8.
std::vector<std::string> PrepareProcess(int argc, char** argv);

bool ErrorStreamIsTerminal();
// Columns of the terminal standard error writes to; 0 when unknown.
int ErrorStreamColumns();

}  // namespace quillet::cli
