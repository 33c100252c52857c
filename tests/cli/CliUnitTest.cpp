// The command line's pure parts: options, chip names, the command table, progress text.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <iterator>
#include <set>
#include <sstream>

#include "cli/CliOptions.h"
#include "cli/Commands.h"
#include "cli/Progress.h"

namespace quillet::cli {
namespace {

using ::testing::HasSubstr;

// ---- options --------------------------------------------------------------------------------

TEST(CliOptions, AWriteWithEveryOptionInAnyOrder) {
  const CliOptions o = ParseCliOptions({"--no-erase", "write", "fw.hex", "-c", "lu1-32", "--no-verify",
                                        "--encrypt", "--no-reset", "--readback", "--snapshot=snaps",
                                        "--watch", "--simulate=32K", "--serial", "S1", "-v", "--json"});
  ASSERT_EQ(o.error, "");
  EXPECT_EQ(o.command, Command::Write);
  EXPECT_EQ(o.arguments, std::vector<std::string>{"fw.hex"});
  EXPECT_EQ(o.chip, "NRF24LU1_32K");
  EXPECT_FALSE(o.flags.erase || o.flags.verify || o.flags.resetRun);
  EXPECT_TRUE(o.flags.encrypt && o.readback && o.watch && o.json);
  EXPECT_EQ(o.snapshotDir, "snaps");
  EXPECT_EQ(o.simulateFlashSize, 32768u);
  EXPECT_EQ(o.serial, "S1");
  EXPECT_EQ(o.verbosity, Verbosity::Verbose);
}

TEST(CliOptions, DefaultsAreTheWindowsCheckBoxes) {
  const CliOptions o = ParseCliOptions({"read", "--chip=le1", "--output", "x.bin", "-q", "--", "-odd"});
  // "--" ends the options: what follows is an argument, and read takes none.
  EXPECT_THAT(o.error, HasSubstr("read takes no arguments, not 1"));
  const CliOptions r = ParseCliOptions({"read", "--chip=le1", "--output", "x.bin", "-q"});
  ASSERT_EQ(r.error, "");
  EXPECT_TRUE(r.flags.verify && r.flags.resetRun && r.flags.erase && !r.flags.encrypt);
  EXPECT_EQ(r.output, "x.bin");
  EXPECT_EQ(r.verbosity, Verbosity::Quiet);
  EXPECT_FALSE(r.simulateFlashSize);
}

struct UsageCase {
  std::vector<std::string> args;
  const char* error;
};

TEST(CliOptions, MisuseSaysWhatIsWrong) {
  const UsageCase cases[] = {
      {{}, "no command given"},
      {{"flash"}, "unknown command \"flash\""},
      {{"detect", "--frobnicate"}, "unknown option --frobnicate"},
      {{"write", "fw.hex"}, "write needs -c CHIP"},
      {{"read", "-c", "le1"}, "read needs -o FILE"},
      {{"write", "-c", "le1"}, "write takes one FILE, not 0"},
      {{"convert", "a.hex"}, "convert takes IN.hex and OUT.bin, not 1"},
      {{"detect", "-c", "le1"}, "-c/--chip applies to read, write and verify"},
      {{"write", "-c", "le1", "-o", "x", "fw.bin"}, "-o/--output applies to read only"},
      {{"verify", "-c", "le1", "fw.bin", "--no-erase"}, "--no-erase applies to write only"},
      {{"read", "-c", "le1", "-o", "x", "--readback"}, "--readback applies to write only"},
      {{"detect", "--watch"}, "--watch applies to write only"},
      {{"verify", "-c", "le1", "f.bin", "--snapshot", "d"}, "--snapshot applies to write only"},
      {{"list", "--serial", "x"}, "--serial and --device do not apply to list"},
      {{"detect", "--serial", "x", "--device", "y"}, "give --serial or --device, not both"},
      {{"convert", "a", "b", "--simulate"}, "--simulate does not apply to convert"},
      {{"detect", "--simulate=64k"}, "--simulate takes 16k or 32k, not \"64k\""},
      {{"detect", "-q", "-v"}, "-q and -v exclude each other"},
      {{"read", "-o"}, "-o needs a value"},
      {{"read", "-c", "", "-o", "x"}, "--chip needs a non-empty value"},
      {{"write", "-c", "lu1", "fw.bin"}, "chip \"lu1\" is ambiguous: NRF24LU1_16K or NRF24LU1_32K"},
  };
  for (const UsageCase& c : cases) EXPECT_EQ(ParseCliOptions(c.args).error, c.error) << ::testing::PrintToString(c.args);
}

TEST(CliOptions, HelpAndVersionNeedNothingElse) {
  EXPECT_TRUE(ParseCliOptions({"--help"}).help);
  EXPECT_TRUE(ParseCliOptions({"write", "-h"}).help);
  EXPECT_TRUE(ParseCliOptions({"--version"}).version);
}

TEST(CliOptions, TheHelpDocumentsTheExitStatusesAndTheChecksumsBlindSpot) {
  const std::string usage = CliUsage();
  for (const char* needed : {"0  success", "1  the operation failed", "2  bad usage or a bad input file",
                             "3  no programmer", "4  the programmer stopped answering",
                             "cannot see two flipped bits", "in the same bit position"})
    EXPECT_THAT(usage, HasSubstr(needed));
  // The test knobs stay out of the help.
  EXPECT_THAT(usage, ::testing::Not(HasSubstr("QUILLET_")));
}

TEST(MatchChip, CaseShortFormsAndAmbiguity) {
  const std::pair<const char*, const char*> cases[] = {
      {"NRF24LE1_16K", "NRF24LE1_16K"}, {"nrf24le1_16k", "NRF24LE1_16K"}, {"le1", "NRF24LE1_16K"},
      {"LE1-16K", "NRF24LE1_16K"},      {"lu1_16", "NRF24LU1_16K"},      {"Lu1-32k", "NRF24LU1_32K"},
      {"nrf24lu1_32", "NRF24LU1_32K"},  {"lu1", ""},                     {"le2", ""},
      {"", ""},                         {"NRF24LE1_16KX", ""},
  };
  for (const auto& [text, chip] : cases) {
    std::string error;
    EXPECT_EQ(MatchChip(text, error), chip) << text;
    EXPECT_EQ(error.empty(), *chip != '\0') << text;
  }
  std::string error;
  MatchChip("le2", error);
  EXPECT_EQ(error, "unknown chip \"le2\"; the chips are NRF24LE1_16K, NRF24LU1_16K, NRF24LU1_32K");
}

// ---- the command table ----------------------------------------------------------------------

TEST(CommandTable, EachCommandIsNamedOnceRunsAndIsInTheHelp) {
  const std::string usage = CliUsage();
  std::set<std::string> names;
  for (const CommandEntry& c : CommandTable()) {
    EXPECT_TRUE(names.insert(c.name).second) << c.name;
    EXPECT_NE(c.run, nullptr) << c.name;
    EXPECT_EQ(FindCommand(c.command), &c) << c.name;
    EXPECT_THAT(usage, HasSubstr("\n  " + std::string(c.name) + " ")) << c.name;
  }
  EXPECT_EQ(FindCommand(Command::None), nullptr);
  EXPECT_STREQ(CommandName(Command::None), "");
}

// The parser takes each command's arguments from its entry: exactly those are accepted.
TEST(CommandTable, EachCommandTakesTheArgumentsItsEntryNames) {
  for (const CommandEntry& c : CommandTable()) {
    std::vector<std::string> args{c.name};
    std::istringstream files(c.files);
    args.insert(args.end(), std::istream_iterator<std::string>(files), std::istream_iterator<std::string>());
    if (c.chip) args.insert(args.end(), {"-c", "le1"});
    if (c.output) args.insert(args.end(), {"-o", "out.bin"});
    const CliOptions o = ParseCliOptions(args);
    EXPECT_EQ(o.error, "") << c.name;
    EXPECT_EQ(o.command, c.command) << c.name;
    args.push_back("extra");
    EXPECT_THAT(ParseCliOptions(args).error, ::testing::StartsWith(std::string(c.name) + " takes ")) << c.name;
  }
}

// The commands' part of --help is made from the table; its columns are what users and scripts see.
TEST(CommandTable, TheHelpListsTheCommandsInTheirColumns) {
  const std::string usage = CliUsage();
  const size_t begin = usage.find("Commands:\n"), end = usage.find("\nCHIP:");
  ASSERT_NE(begin, std::string::npos);
  ASSERT_NE(end, std::string::npos);
  EXPECT_EQ(usage.substr(begin, end - begin), R"(Commands:
  list                     the programmers attached: device node, product, serial, and
                           whether this user may open it (if not, why)
  detect                   ask the programmer who it is and whether a chip answers
  read -c CHIP -o FILE     the whole flash to FILE: Intel HEX when FILE ends in .hex
                           (records for the bytes that are not FF), raw binary otherwise
  write -c CHIP FILE       program FILE (Intel HEX or raw .bin); the image is checked
                           before the programmer is touched
  verify -c CHIP FILE      read the chip back and compare it with FILE
  convert IN.hex OUT.bin   convert Intel HEX to a flat binary image (gaps are FF)
)");
}

// ---- progress text --------------------------------------------------------------------------

TEST(ProgressText, TheBarFillsItsWidthAndTheLineSaysHowItEnded) {
  const std::string half = FormatProgressBar("writing", 8192, 16384, 0.5, 80);
  EXPECT_EQ(half.size(), 80u - 1u);
  EXPECT_THAT(half, ::testing::StartsWith("writing   ["));
  EXPECT_THAT(half, HasSubstr("] 8192/16384 B  16.0 KiB/s  0.5 s"));
  const size_t open = half.find('['), close = half.find(']');
  const std::string cells = half.substr(open + 1, close - open - 1);
  EXPECT_EQ(std::count(cells.begin(), cells.end(), '#'), static_cast<long>(cells.size() / 2));
  // A narrow terminal still gets ten cells.
  const std::string narrow = FormatProgressBar("reading", 0, 100, 0, 20);
  EXPECT_THAT(narrow, HasSubstr("[----------]"));
  EXPECT_EQ(FormatPhaseLine("reading", 16384, 16384, 0.25, true), "reading: 16384 of 16384 bytes in 0.25 s, 64.0 KiB/s");
  EXPECT_EQ(FormatPhaseLine("writing", 640, 16384, 2.0, false),
            "writing: 640 of 16384 bytes in 2.00 s, 0.3 KiB/s, stopped short");
}

}  // namespace
}  // namespace quillet::cli
