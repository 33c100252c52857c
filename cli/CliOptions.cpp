#include "cli/CliOptions.h"

#include <algorithm>
#include <cctype>

#include "sim/Backend.h"

namespace quillet::cli {

namespace {

std::string Normalised(std::string s) {
  for (char& c : s) c = c == '-' ? '_' : static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (s.rfind("NRF24", 0) == 0) s.erase(0, 5);
  return s;
}

struct CommandEntry {
  const char* name;
  Command command;
  size_t arguments;  // positional arguments it takes
};
constexpr CommandEntry kCommands[] = {
    {"list", Command::List, 0},     {"detect", Command::Detect, 0}, {"read", Command::Read, 0},
    {"write", Command::Write, 1},   {"verify", Command::Verify, 1}, {"convert", Command::Convert, 2},
};

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

bool Uses(Command c, std::initializer_list<Command> set) {
  return std::find(set.begin(), set.end(), c) != set.end();
}

// What a command accepts beyond the common options; the first misuse found, or empty.
std::string CheckApplicable(const CliOptions& o, const std::vector<std::string>& taskFlagsGiven) {
  using enum Command;
  const Command c = o.command;
  const bool onChip = Uses(c, {Read, Write, Verify});
  if (!o.chip.empty() && !onChip) return "-c/--chip applies to read, write and verify";
  if (onChip && o.chip.empty()) return std::string(CommandName(c)) + " needs -c CHIP";
  if (!o.output.empty() && c != Read) return "-o/--output applies to read only";
  if (c == Read && o.output.empty()) return "read needs -o FILE";
  if (c != Write) {
    if (!taskFlagsGiven.empty()) return taskFlagsGiven.front() + " applies to write only";
    if (o.readback) return "--readback applies to write only";
    if (!o.snapshotDir.empty()) return "--snapshot applies to write only";
    if (o.watch) return "--watch applies to write only";
  }
  if (Uses(c, {List, Convert}) && (!o.serial.empty() || !o.device.empty()))
    return std::string("--serial and --device do not apply to ") + CommandName(c);
  if (c == Convert && o.simulateFlashSize) return "--simulate does not apply to convert";
  if (!o.serial.empty() && !o.device.empty()) return "give --serial or --device, not both";
  return {};
}

}  // namespace

const char* CommandName(Command command) {
  for (const CommandEntry& e : kCommands)
    if (e.command == command) return e.name;
  return "";
}

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
    error = "unknown chip \"" + text + "\"; the chips are " + names;
  } else {
    for (const std::string& m : matches) names += (names.empty() ? "" : " or ") + m;
    error = "chip \"" + text + "\" is ambiguous: " + names;
  }
  return {};
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
        if (i + 1 >= arguments.size()) return fail(a + " needs a value");
        value = arguments[++i];
      }
      if (value.empty()) return fail(std::string(valued->longName) + " needs a non-empty value");
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
      return fail("unknown option " + a);
    }
  }
  if (o.help || o.version) return o;
  if (quiet && verbose) return fail("-q and -v exclude each other");
  o.verbosity = quiet ? Verbosity::Quiet : verbose ? Verbosity::Verbose : Verbosity::Normal;

  if (positional.empty()) return fail("no command given");
  const CommandEntry* entry = nullptr;
  for (const CommandEntry& e : kCommands)
    if (positional.front() == e.name) entry = &e;
  if (!entry) return fail("unknown command \"" + positional.front() + "\"");
  o.command = entry->command;
  o.arguments.assign(positional.begin() + 1, positional.end());
  if (o.arguments.size() != entry->arguments) {
    static const char* const kWanted[] = {"no arguments", "one FILE", "IN.hex and OUT.bin"};
    return fail(std::string(entry->name) + " takes " + kWanted[entry->arguments] + ", not " +
                std::to_string(o.arguments.size()));
  }
  if (!chipText.empty()) {
    std::string why;
    o.chip = MatchChip(chipText, why);
    if (o.chip.empty()) return fail(why);
  }
  if (std::string why = CheckApplicable(o, taskFlagsGiven); !why.empty()) return fail(why);
  return o;
}

std::string CliUsage() {
  return R"(Usage: quillet-cli COMMAND [OPTIONS]
Programs nRF24LE1 and nRF24LU1 chips through the USB programmer (04d8:003f).

Commands:
  list                     the programmers attached: device node, product, serial, and
                           whether this user may open it (if not, why)
  detect                   ask the programmer who it is and whether a chip answers
  read -c CHIP -o FILE     the whole flash to FILE: Intel HEX when FILE ends in .hex
                           (records for the bytes that are not FF), raw binary otherwise
  write -c CHIP FILE       program FILE (Intel HEX or raw .bin); the image is checked
                           before the programmer is touched
  verify -c CHIP FILE      read the chip back and compare it with FILE
  convert IN.hex OUT.bin   convert Intel HEX to a flat binary image (gaps are FF)

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

The programmer's checksum is an 8-bit XOR of the image: it cannot see two flipped bits
in the same bit position (or any even number of them). --readback compares every byte.

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
