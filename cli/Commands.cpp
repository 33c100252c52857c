#include "cli/Commands.h"

#include <cstdio>
#include <exception>

#include "app/Version.h"
#include "cli/Output.h"
#include "programmer/MessageCatalogue.h"

namespace quillet::cli {

namespace {

constexpr CommandEntry kCommands[] = {
    {.command = Command::List, .name = "list", .files = "", .chip = false, .output = false,
     .writeOptions = false, .reach = Reach::AllProgrammers, .section = Section::Programming,
     .summary = "the programmers attached: device node, product, serial, and\n"
                "whether this user may open it (if not, why)",
     .run = RunList},
    {.command = Command::Detect, .name = "detect", .files = "", .chip = false, .output = false,
     .writeOptions = false, .reach = Reach::OneProgrammer, .section = Section::Programming,
     .summary = "ask the programmer who it is and whether a chip answers", .run = RunDetect},
    {.command = Command::Read, .name = "read", .files = "", .chip = true, .output = true,
     .writeOptions = false, .reach = Reach::OneProgrammer, .section = Section::Programming,
     .summary = "the whole flash to FILE: Intel HEX when FILE ends in .hex\n"
                "(records for the bytes that are not FF), raw binary otherwise",
     .run = RunRead},
    {.command = Command::Write, .name = "write", .files = "FILE", .chip = true, .output = false,
     .writeOptions = true, .reach = Reach::OneProgrammer, .section = Section::Programming,
     .summary = "program FILE (Intel HEX or raw .bin); the image is checked\n"
                "before the programmer is touched",
     .run = RunWrite},
    {.command = Command::Verify, .name = "verify", .files = "FILE", .chip = true, .output = false,
     .writeOptions = false, .reach = Reach::OneProgrammer, .section = Section::Programming,
     .summary = "read the chip back and compare it with FILE", .run = RunVerify},
    {.command = Command::Convert, .name = "convert", .files = "IN.hex OUT.bin", .chip = false,
     .output = false, .writeOptions = false, .reach = Reach::FilesOnly, .section = Section::Programming,
     .summary = "convert Intel HEX to a flat binary image (gaps are FF)", .run = RunConvert},
    {.command = Command::Station, .name = "station", .files = "FILE", .chip = true, .output = false,
     .writeOptions = false, .reach = Reach::AllProgrammers, .section = Section::Production,
     .summary = "flash FILE onto every board seated on any attached programmer,\n"
                "each with its own serial number, recorded in a journal",
     .run = RunStation},
    {.command = Command::StationReport, .name = "station-report", .files = "JOURNAL", .chip = false,
     .output = false, .writeOptions = false, .reach = Reach::FilesOnly, .section = Section::Production,
     .summary = "totals, yield per slot and the numbers a station's journal\n"
                "used; checks it for damaged lines and duplicated numbers",
     .run = RunStationReport},
};

}  // namespace

std::span<const CommandEntry> CommandTable() { return kCommands; }

const CommandEntry* FindCommand(Command command) {
  for (const CommandEntry& e : kCommands)
    if (e.command == command) return &e;
  return nullptr;
}

const char* CommandName(Command command) {
  const CommandEntry* e = FindCommand(command);
  return e ? e->name : "";
}

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
    const std::string error = logtext::Say("%s (quillet-cli --help shows the usage)", o.error.c_str());
    std::fprintf(stderr, "%s: %s\n", kProgram, error.c_str());
    return kExitUsage;
  }
  const CommandEntry* command = FindCommand(o.command);
  if (!command) return kExitUsage;
  Output out(o);
  try {
    return command->run(o, out);
  } catch (const std::exception& e) {
    out.Error(e.what());
    return kExitFailed;
  }
}

}  // namespace quillet::cli
