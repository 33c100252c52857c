#pragma once
// The commands of quillet-cli: one table names each command with the arguments it takes and the
// function that runs it; the command line is parsed and the program dispatched through it.

#include <span>
#include <string>
#include <vector>

#include "cli/CliOptions.h"

namespace quillet::cli {

class Output;

// What a command runs over, which decides whether --simulate, --serial and --device apply.
enum class Reach { FilesOnly, AllProgrammers, OneProgrammer };
// Where --help lists a command; an option's misuse names the commands of its section that take it.
enum class Section { Programming, Production };

struct CommandEntry {
  Command command;
  const char* name;
  const char* files;   // its positional arguments, space-separated, as --help names them
  bool chip;           // needs -c CHIP
  bool output;         // needs -o FILE
  bool writeOptions;   // takes the write options
  Reach reach;
  Section section;
  const char* summary;  // --help's description; each "\n" begins a continuation line
  int (*run)(const CliOptions&, Output&);
};

std::span<const CommandEntry> CommandTable();
// Null when there is no such command.
const CommandEntry* FindCommand(Command command);
const char* CommandName(Command command);

int RunList(const CliOptions& o, Output& out);
int RunDetect(const CliOptions& o, Output& out);
int RunRead(const CliOptions& o, Output& out);
int RunWrite(const CliOptions& o, Output& out);
int RunVerify(const CliOptions& o, Output& out);
int RunConvert(const CliOptions& o, Output& out);
int RunStation(const CliOptions& o, Output& out);
int RunStationReport(const CliOptions& o, Output& out);

// The whole program; `arguments` excludes the program name. Returns the exit status.
int RunCli(const std::vector<std::string>& arguments);

}  // namespace quillet::cli
