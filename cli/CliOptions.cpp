#include "cli/CliOptions.h"

#include <algorithm>
#include <cctype>
#include <iterator>
#include <sstream>

#include "cli/Commands.h"
#include "programmer/MessageCatalogue.h"
#include "sim/Backend.h"

namespace quillet::cli {

namespace {

using logtext::Say;
using logtext::Translate;

std::string Normalised(std::string s) {
  for (char& c : s) c = c == '-' ? '_' : static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (s.rfind("NRF24", 0) == 0) s.erase(0, 5);
  return s;
}

// An option that takes a value: "--name VALUE", "--name=VALUE", or "-x VALUE".
struct ValueOption {
  const char* longName;
  const char* shortName;  // null: none
  std::string CliOptions::*field;
};
const ValueOption kValueOptions[] = {
    {"--chip", "-c", &CliOptions::chip},         {"--output", "-o", &CliOptions::output},
    {"--snapshot", nullptr, &CliOptions::snapshotDir}, {"--serial", nullptr, &CliOptions::serial},
    {"--device", nullptr, &CliOptions::device},
};

std::vector<std::string> Words(const char* text) {
  std::istringstream in(text);
  return {std::istream_iterator<std::string>(in), std::istream_iterator<std::string>()};
}

// "a", "a and b", "a, b and c", in the user's language.
std::string Enumeration(const std::vector<std::string>& items) {
  std::string text;
  for (size_t i = 0; i < items.size(); ++i)
    text += (i == 0 ? "" : i + 1 == items.size() ? Translate(" and ") : Translate(", ")) + items[i];
  return text;
}

// The misuse of an option given to a command of `section` that does not take it: "--watch applies
// to write only", "-c/--chip applies to read, write and verify".
std::string AppliesTo(const std::string& option, bool CommandEntry::*takes, Section section) {
  std::vector<std::string> names;
  for (const CommandEntry& e : CommandTable())
    if (e.*takes && e.section == section) names.push_back(e.name);
  if (names.size() == 1) return Say("%s applies to %s only", option.c_str(), names.front().c_str());
  return Say("%s applies to %s", option.c_str(), Enumeration(names).c_str());
}

// What a command accepts beyond the common options; the first misuse found, or empty.
std::string CheckApplicable(const CliOptions& o, const CommandEntry& c,
                            const std::vector<std::string>& taskFlagsGiven) {
  const std::string name = c.name;
  if (!o.chip.empty() && !c.chip) return AppliesTo("-c/--chip", &CommandEntry::chip, c.section);
  if (c.chip && o.chip.empty()) return Say("%s needs -c CHIP", name.c_str());
  if (!o.output.empty() && !c.output) return AppliesTo("-o/--output", &CommandEntry::output, c.section);
  if (c.output && o.output.empty()) return Say("%s needs -o FILE", name.c_str());
  if (!c.writeOptions) {
    const auto writeOnly = [&](const std::string& option) {
      return AppliesTo(option, &CommandEntry::writeOptions, Section::Programming);
    };
    if (!taskFlagsGiven.empty()) return writeOnly(taskFlagsGiven.front());
    if (o.readback) return writeOnly("--readback");
    if (!o.snapshotDir.empty()) return writeOnly("--snapshot");
    if (o.watch) return writeOnly("--watch");
  }
  if (o.notify && !o.watch) return Translate("--notify applies to write --watch");
  if (c.reach != Reach::OneProgrammer && (!o.serial.empty() || !o.device.empty()))
    return Say("--serial and --device do not apply to %s", name.c_str());
  if (c.reach == Reach::FilesOnly && o.simulateFlashSize) return Say("--simulate does not apply to %s", name.c_str());
  if (!o.serial.empty() && !o.device.empty()) return Translate("give --serial or --device, not both");
  return {};
}

// The command's positional arguments as its misuse names them: "no arguments", "one FILE".
std::string ArgumentsWanted(const std::vector<std::string>& files) {
  if (files.empty()) return Translate("no arguments");
  return files.size() == 1 ? Say("one %s", files.front().c_str()) : Enumeration(files);
}

// A command's lines in --help: how it is called, and what it does.
std::string CommandUsage(const CommandEntry& c) {
  std::string call = c.name;
  if (c.chip) call += " -c CHIP";
  if (c.output) call += " -o FILE";
  for (const std::string& file : Words(c.files)) call += " " + file;
  constexpr size_t kCallWidth = 25;
  const std::string indent(2 + kCallWidth, ' ');
  call.resize(std::max(kCallWidth, call.size() + 1), ' ');
  std::string text = "  " + call;
  for (const char* s = c.summary; *s; ++s) text += *s == '\n' ? "\n" + indent : std::string(1, *s);
  return text + "\n";
}

}  // namespace

std::string MatchChip(const std::string& text, std::string& error) {
  const std::string wanted = Normalised(text);
  std::vector<std::string> matches;
  for (const ChipInfo& chip : kChipCatalogue) {
    const std::string name(chip.name);
    const std::string candidate = Normalised(name);
    if (candidate == wanted) return name;
    if (!wanted.empty() && candidate.rfind(wanted, 0) == 0) matches.push_back(name);
  }
  if (matches.size() == 1) return matches.front();
  std::string names;
  if (matches.empty()) {
    for (const ChipInfo& chip : kChipCatalogue)
      names += (names.empty() ? "" : ", ") + std::string(chip.name);
    error = Say("unknown chip \"%s\"; the chips are %s", text.c_str(), names.c_str());
  } else {
    for (const std::string& m : matches) names += (names.empty() ? "" : Translate(" or ")) + m;
    error = Say("chip \"%s\" is ambiguous: %s", text.c_str(), names.c_str());
  }
  return {};
}

uint32_t FlashSizeOf(const std::string& chip) {
  for (const ChipInfo& c : kChipCatalogue)
    if (c.name == chip) return c.flashSize;
  return 0;
}

CliOptions ParseCliOptions(const std::vector<std::string>& arguments) {
  CliOptions o;
  std::vector<std::string> positional;
  std::vector<std::string> taskFlagsGiven;
  std::string chipText;
  bool quiet = false, verbose = false, optionsEnded = false;
  auto fail = [&o](std::string why) {
    o.error = std::move(why);
    return o;
  };

  for (size_t i = 0; i < arguments.size(); ++i) {
    const std::string& a = arguments[i];
    if (optionsEnded || a.size() < 2 || a[0] != '-') {
      positional.push_back(a);
      continue;
    }
    if (a == "--") {
      optionsEnded = true;
      continue;
    }
    const ValueOption* valued = nullptr;
    std::string value;
    bool haveValue = false;
    for (const ValueOption& v : kValueOptions) {
      const std::string longName = v.longName;
      if (a == longName || (v.shortName && a == v.shortName)) {
        valued = &v;
      } else if (a.rfind(longName + "=", 0) == 0) {
        valued = &v;
        value = a.substr(longName.size() + 1);
        haveValue = true;
      }
      if (valued) break;
    }
    if (valued) {
      if (!haveValue) {
        if (i + 1 >= arguments.size()) return fail(Say("%s needs a value", a.c_str()));
        value = arguments[++i];
      }
      if (value.empty()) return fail(Say("%s needs a non-empty value", valued->longName));
      std::string& field = valued->field == &CliOptions::chip ? chipText : o.*(valued->field);
      field = value;
      continue;
    }
    if (a == "--simulate" || a.rfind("--simulate=", 0) == 0) {
      std::string error;
      o.simulateFlashSize = ParseSimulateOption(a, error);
      if (!error.empty()) return fail(error);
    } else if (a == "--no-erase") {
      o.flags.erase = false;
      taskFlagsGiven.push_back(a);
    } else if (a == "--no-verify") {
      o.flags.verify = false;
      taskFlagsGiven.push_back(a);
    } else if (a == "--encrypt") {
      o.flags.encrypt = true;
      taskFlagsGiven.push_back(a);
    } else if (a == "--no-reset") {
      o.flags.resetRun = false;
      taskFlagsGiven.push_back(a);
    } else if (a == "--readback") {
      o.readback = true;
    } else if (a == "--watch") {
      o.watch = true;
    } else if (a == "--notify") {
      o.notify = true;
    } else if (std::string why; station::TakeStationOption(arguments, i, o.station, why)) {
      if (!why.empty()) return fail(why);
    } else if (a == "-q" || a == "--quiet") {
      quiet = true;
    } else if (a == "-v" || a == "--verbose") {
      verbose = true;
    } else if (a == "--json") {
      o.json = true;
    } else if (a == "-h" || a == "--help") {
      o.help = true;
    } else if (a == "--version") {
      o.version = true;
    } else {
      return fail(Say("unknown option %s", a.c_str()));
    }
  }
  if (o.help || o.version) return o;
  if (quiet && verbose) return fail(Translate("-q and -v exclude each other"));
  o.verbosity = quiet ? Verbosity::Quiet : verbose ? Verbosity::Verbose : Verbosity::Normal;

  if (positional.empty()) return fail(Translate("no command given"));
  const CommandEntry* entry = nullptr;
  for (const CommandEntry& e : CommandTable())
    if (positional.front() == e.name) entry = &e;
  if (!entry) return fail(Say("unknown command \"%s\"", positional.front().c_str()));
  o.command = entry->command;
  o.arguments.assign(positional.begin() + 1, positional.end());
  if (const std::vector<std::string> files = Words(entry->files); o.arguments.size() != files.size())
    return fail(Say("%s takes %s, not %zu", entry->name, ArgumentsWanted(files).c_str(), o.arguments.size()));
  if (!chipText.empty()) {
    std::string why;
    o.chip = MatchChip(chipText, why);
    if (o.chip.empty()) return fail(why);
  }
  if (std::string why = CheckApplicable(o, *entry, taskFlagsGiven); !why.empty()) return fail(why);
  if (std::string why = station::CheckStationOptions(o.station, o.command == Command::Station,
                                                     o.command == Command::StationReport);
      !why.empty())
    return fail(why);
  return o;
}

std::string CliUsage() {
  std::string commands, production;
  for (const CommandEntry& c : CommandTable())
    (c.section == Section::Production ? production : commands) += CommandUsage(c);
  return R"(Usage: quillet-cli COMMAND [OPTIONS]
Programs nRF24LE1 and nRF24LU1 chips through the USB programmer (04d8:003f).

Commands:
)" + commands + R"(
CHIP: NRF24LE1_16K, NRF24LU1_16K or NRF24LU1_32K, in any case; a beginning that names
one chip will do (le1, lu1-32k).

Write options (defaults as the window's check boxes):
  --no-erase               do not erase the flash first
  --no-verify              do not ask for the programmer's checksum
  --encrypt                ask the programmer to encrypt
  --no-reset               do not reset and run the chip afterwards
  --readback               read the whole flash after writing and compare it with the
                           image; a mismatch names the first differing address and
                           counts the bits that went 1->0 and 0->1
  --snapshot DIR           save the chip's content as a time-stamped .bin in DIR first
  --watch                  keep the programmer open and write again whenever FILE is
                           rewritten (also after a rename onto it); Ctrl-C ends it
  --notify                 with --watch: a desktop notification as each write ends

The programmer's checksum is an 8-bit XOR of the image: it cannot see two flipped bits
in the same bit position (or any even number of them). --readback compares every byte.

Production:
)" + production + R"(
station -c CHIP FILE [options]: every attached programmer (or those --programmers lists) is
a slot. A board counts as seated once two answers in a row (about every 250 ms) say a chip is
there; it is flashed once (erase, write, checksum, then the whole flash read back and compared)
and the slot waits for it to be removed. A slot that fails three boards in a row is held until
its programmer is replugged. Ctrl-C stops taking boards, lets those in flight finish and prints
a summary; a second Ctrl-C stops at once.
  --journal PATH           the journal (JSON Lines, one checksummed record per event,
                           flushed before each board's erase and after its result); only
                           one station at a time may use it (default without serial
                           numbers: )" + std::string(station::kDefaultJournal) + R"()
  --serial-at ADDR         patch a serial number into each board's image at ADDR (the
                           image is padded with FF up to it; never past the chip, never
                           over bytes the image uses unless --serial-overwrite)
  --serial-start N         the first number; a restart continues after the highest number
                           the journal ever reserved, so none is issued twice
  --serial-step K          between numbers (default 1)
  --serial-width 1..8      bytes (default 4)
  --serial-endian le|be    byte order (default le)
  --serial-end M           the last number: no board starts that could not be numbered
  --serial-overwrite       the number may replace bytes the image uses
  --keep-serial            read each board first: a number this journal issued, found at
                           ADDR, is kept (a reflash) instead of taking a new one
  --programmers S,...      only these programmers (serial numbers or device nodes)
  --max-boards N           stop after N boards passed
  --simulate-bench=N[,16k|32k]
                           N simulated programmers whose boards come and go by themselves
  --csv                    station-report: one line per slot as CSV

Common options:
  --simulate[=16k|32k]     a simulated programmer with a 16 KiB (default) or 32 KiB chip
  --serial S               use the programmer with serial number S
  --device NODE            use the programmer at device node NODE (e.g. /dev/hidraw3)
  -q, --quiet              no progress or messages; errors only
  -v, --verbose            also the programmer console's log, time-stamped
  --json                   one JSON object per operation on stdout
  -h, --help               this text
  --version                the version

Progress and messages go to stderr; stdout carries only data (list, detect, --json).

Exit status:
  0  success
  1  the operation failed (verify or read-back mismatch, failure reply, no chip on the
     connector)
  2  bad usage or a bad input file
  3  no programmer, or it cannot be opened (a permission refusal says how to install
     the udev rule)
  4  the programmer stopped answering (nothing for 2000 ms)
)";
}

}  // namespace quillet::cli
