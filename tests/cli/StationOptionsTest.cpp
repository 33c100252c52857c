// The production commands' options: what station and station-report take, and every misuse.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "cli/CliOptions.h"
#include "cli/Commands.h"

namespace quillet::cli {
namespace {

using ::testing::HasSubstr;

TEST(StationOptions, AFullStationCommandLine) {
  const CliOptions o = ParseCliOptions({"station", "-c", "le1", "fw.hex", "--journal", "bench.jsonl",
                                        "--serial-at", "0x3FF0", "--serial-start=1000", "--serial-step", "2",
                                        "--serial-width", "2", "--serial-endian", "BE", "--serial-end", "0xFFFF",
                                        "--serial-overwrite", "--keep-serial", "--programmers", "P1,/dev/hidraw4",
                                        "--max-boards", "50", "--simulate-bench=3,32k", "--json"});
  ASSERT_EQ(o.error, "");
  EXPECT_EQ(o.command, Command::Station);
  EXPECT_EQ(o.chip, "NRF24LE1_16K");
  EXPECT_EQ(o.station.journal, "bench.jsonl");
  ASSERT_TRUE(o.station.serial);
  const station::SerialPlan& p = *o.station.serial;
  EXPECT_EQ(p.address, 0x3FF0u);
  EXPECT_EQ(p.start, 1000u);
  EXPECT_EQ(p.step, 2u);
  EXPECT_EQ(p.width, 2);
  EXPECT_EQ(p.endian, station::Endian::Big);
  EXPECT_EQ(p.end, 0xFFFFu);
  EXPECT_TRUE(p.overwrite);
  EXPECT_TRUE(o.station.keepSerial);
  EXPECT_EQ(o.station.programmers, (std::vector<std::string>{"P1", "/dev/hidraw4"}));
  EXPECT_EQ(o.station.maxBoards, 50u);
  EXPECT_EQ(o.station.benchSize, 3);
  EXPECT_EQ(o.station.benchFlashSize, 32768u);

  // Without serial numbers the journal may be left to its default; the defaults of a plan.
  const CliOptions plain = ParseCliOptions({"station", "-c", "le1", "fw.bin"});
  ASSERT_EQ(plain.error, "");
  EXPECT_FALSE(plain.station.serial);
  EXPECT_EQ(plain.station.journal, "");
  const CliOptions defaults = ParseCliOptions({"station", "-c", "le1", "fw.bin", "--journal", "j", "--serial-at", "16",
                                               "--serial-start", "7"});
  ASSERT_EQ(defaults.error, "");
  EXPECT_EQ(defaults.station.serial->width, 4);
  EXPECT_EQ(defaults.station.serial->step, 1u);
  EXPECT_EQ(defaults.station.serial->endian, station::Endian::Little);
  EXPECT_FALSE(defaults.station.serial->end);
}

TEST(StationOptions, MisuseSaysWhatIsWrong) {
  const std::pair<std::vector<std::string>, const char*> cases[] = {
      {{"station", "fw.bin"}, "station needs -c CHIP"},
      {{"station", "-c", "le1", "fw.bin", "--serial-at", "16"}, "--serial-at needs --serial-start N"},
      {{"station", "-c", "le1", "fw.bin", "--serial-at", "16", "--serial-start", "1"}, "--serial-at needs --journal PATH"},
      {{"station", "-c", "le1", "fw.bin", "--serial-start", "1"}, "the serial number options need --serial-at ADDR"},
      {{"station", "-c", "le1", "fw.bin", "--keep-serial"}, "the serial number options need --serial-at ADDR"},
      {{"station", "-c", "le1", "fw.bin", "--serial-at", "x10"}, "--serial-at takes a whole number (decimal or 0x hex), not \"x10\""},
      {{"station", "-c", "le1", "fw.bin", "--serial-start", "-1"}, "--serial-start takes a whole number (decimal or 0x hex), not \"-1\""},
      {{"station", "-c", "le1", "fw.bin", "--serial-endian", "middle"}, "--serial-endian takes le or be, not \"middle\""},
      {{"station", "-c", "le1", "fw.bin", "--max-boards", "0"}, "--max-boards must be at least 1"},
      {{"station", "-c", "le1", "fw.bin", "--programmers", "a,,b"}, "--programmers takes serial numbers or device nodes separated by commas"},
      {{"station", "-c", "le1", "fw.bin", "--simulate-bench=0"}, "--simulate-bench takes N[,16k|32k] with N from 1 to 16"},
      {{"station", "-c", "le1", "fw.bin", "--simulate-bench=2,64k"}, "--simulate-bench takes 16k or 32k, not \"64k\""},
      {{"station", "-c", "le1", "fw.bin", "--journal"}, "--journal needs a value"},
      {{"station", "-c", "le1", "fw.bin", "--keep-serial=yes"}, "--keep-serial takes no value"},
      {{"station", "-c", "le1", "fw.bin", "--serial", "S1"}, "--serial and --device do not apply to station"},
      {{"station", "-c", "le1", "fw.bin", "--csv"}, "--csv applies to station-report only"},
      {{"station", "-c", "le1", "fw.bin", "--no-erase"}, "--no-erase applies to write only"},
      {{"write", "-c", "le1", "fw.bin", "--journal", "j"}, "--journal applies to station only"},
      {{"station-report", "j.jsonl", "--max-boards", "3"}, "--max-boards applies to station only"},
      {{"station-report", "j.jsonl", "-c", "le1"}, "-c/--chip applies to station only"},
      {{"station-report"}, "station-report takes one JOURNAL, not 0"},
  };
  for (const auto& [args, error] : cases) EXPECT_EQ(ParseCliOptions(args).error, error) << ::testing::PrintToString(args);
  const CliOptions report = ParseCliOptions({"station-report", "j.jsonl", "--csv"});
  ASSERT_EQ(report.error, "");
  EXPECT_TRUE(report.station.csv);
}

TEST(StationOptions, WholeNumbersInDecimalOrHex) {
  EXPECT_EQ(station::ParseWholeNumber("0"), 0u);
  EXPECT_EQ(station::ParseWholeNumber("16368"), 16368u);
  EXPECT_EQ(station::ParseWholeNumber("0x3ff0"), 0x3FF0u);
  EXPECT_EQ(station::ParseWholeNumber("0X10"), 16u);
  EXPECT_EQ(station::ParseWholeNumber("18446744073709551615"), UINT64_MAX);
  for (const char* bad : {"", "0x", "12a", "+3", " 3", "18446744073709551616", "1e3"})
    EXPECT_EQ(station::ParseWholeNumber(bad), std::nullopt) << bad;
}

TEST(StationOptions, TheHelpListsTheProductionCommandsInTheirOwnSection) {
  const std::string usage = CliUsage();
  const size_t production = usage.find("\nProduction:\n");
  ASSERT_NE(production, std::string::npos);
  EXPECT_GT(production, usage.find("\nCHIP:"));
  EXPECT_NE(usage.find("\n  station -c CHIP FILE", production), std::string::npos);
  EXPECT_NE(usage.find("\n  station-report JOURNAL", production), std::string::npos);
  for (const char* option : {"--journal PATH", "--serial-at ADDR", "--serial-start N", "--serial-step K",
                             "--serial-width 1..8", "--serial-endian le|be", "--serial-end M", "--serial-overwrite",
                             "--keep-serial", "--programmers", "--max-boards N", "--simulate-bench", "--csv"})
    EXPECT_THAT(usage.substr(production), HasSubstr(option));
}

}  // namespace
}  // namespace quillet::cli
