// quillet-cli station and station-report end to end: the real binary over simulated programmers,
// killed mid-board and started again, stopped with Ctrl-C, kept off a journal in use, and refusing
// a serial number plan before any board. The tests that read its English texts run it in English;
// under a Chinese locale the operator reads Chinese and the journal stays English.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <json/json.h>
#include <sys/file.h>
#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <set>
#include <thread>
#include <tuple>

#include "cli/station/JournalRecord.h"
#include "tests/cli/CliRunner.h"
#include "tests/support/Language.h"
#include "tests/support/TempDir.h"
#include "tests/support/Values.h"

namespace quillet::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using ::testing::HasSubstr;
using ::testing::Not;
using cli::station::BoardResult;
using cli::station::JournalEvent;
using cli::station::JournalScan;

JournalScan Scan(const fs::path& journal) {
  const std::vector<uint8_t> bytes = ReadFile(journal);
  return cli::station::ScanJournal(std::string(bytes.begin(), bytes.end()));
}

size_t Count(const JournalScan& scan, JournalEvent event) {
  return static_cast<size_t>(std::count_if(scan.records.begin(), scan.records.end(),
                                           [event](const auto& r) { return r.event == event; }));
}

class StationCli : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::vector<uint8_t> image = RandomBytes(12000, 21);
    WriteFile(dir / "fw.bin", std::string(image.begin(), image.end()));
  }
  std::vector<std::string> Station(std::vector<std::string> extra) {
    std::vector<std::string> args{"station", "-c", "le1", fw, "--journal", journal, "--serial-at", "0x3FF0",
                                  "--serial-start", "1000"};
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
  }
  TempDir dir;
  std::string fw = dir / "fw.bin";
  std::string journal = dir / "bench.jsonl";
};

// Unless told otherwise, the bench's chips have the chosen chip's flash: with the number near the
// end of a 32 KiB chip, its boards pass (a 16 KiB chip refuses every such write), and a bench of
// 16 KiB chips can still be asked for.
TEST_F(StationCli, TheBenchsChipsAreTheChosenChipsUnlessToldOtherwise) {
  const auto onLu1_32k = [this](std::vector<std::string> extra) {
    std::vector<std::string> args = Station(std::move(extra));
    args[2] = "lu1-32k";
    args[7] = "0x7FF0";
    return args;
  };
  const CliRun run = RunCli(onLu1_32k({"--simulate-bench=1", "--max-boards", "1"}), InEnglish({}));
  EXPECT_EQ(run.exit, 0) << run.err;
  EXPECT_THAT(run.err, HasSubstr(": pass ("));
  fs::remove(journal);
  CliProcess station(onLu1_32k({"--simulate-bench=1,16k"}), InEnglish({}));
  EXPECT_TRUE(station.WaitForStderr(": fail in write")) << station.err;
  station.Signal(SIGINT);
  EXPECT_EQ(station.Finish().exit, 0);
}

TEST_F(StationCli, ThreeProgrammersOneJsonObjectPerBoardAndASoundReport) {
  const CliRun run = RunCli(Station({"--simulate-bench=3", "--max-boards", "5", "--json"}), InEnglish({}));
  ASSERT_EQ(run.exit, 0) << run.err;
  EXPECT_THAT(run.err, HasSubstr("summary:"));
  std::set<uint64_t> serials;
  std::istringstream lines(run.out);
  std::string line;
  int boards = 0;
  while (std::getline(lines, line)) {
    Json::Value v;
    ASSERT_TRUE(Json::Reader().parse(line, v)) << line;
    EXPECT_EQ(v["operation"].asString(), "station");
    EXPECT_EQ(v["result"].asString(), "pass");
    EXPECT_TRUE(serials.insert(v["serial"].asUInt64()).second);
    ++boards;
  }
  EXPECT_EQ(boards, 5);
  const CliRun report = RunCli({"station-report", journal}, InEnglish({}));
  EXPECT_EQ(report.exit, 0) << report.err;
  EXPECT_THAT(report.out, HasSubstr("total: 5 boards, 5 passed"));
  EXPECT_THAT(report.out, HasSubstr("serial numbers 1000 to 1004, 5 used"));
  EXPECT_THAT(report.out, HasSubstr("integrity: whole"));
}

// Killed at several moments of a board (writing, reading back, between boards) and started again:
// the board cut short is recorded interrupted, and no number is ever issued twice.
TEST_F(StationCli, KilledMidBoardAndStartedAgainNoNumberIsIssuedTwice) {
  for (const auto delay : {0ms, 150ms, 350ms, 700ms}) {
    const size_t reservedBefore = fs::exists(journal) ? Count(Scan(journal), JournalEvent::Reserve) : 0;
    CliProcess station(Station({"--simulate-bench=1"}));
    const auto guard = std::chrono::steady_clock::now() + 30s;
    for (;;) {
      // This run's first board is reserved and under way.
      const JournalScan scan = Scan(journal);
      if (Count(scan, JournalEvent::Reserve) > reservedBefore && scan.records.back().event == JournalEvent::Reserve)
        break;
      ASSERT_LT(std::chrono::steady_clock::now(), guard) << "no board started";
      std::this_thread::sleep_for(2ms);
    }
    std::this_thread::sleep_for(delay);
    station.Signal(SIGKILL);
    EXPECT_EQ(station.Finish().exit, 128 + SIGKILL);
  }
  const CliRun last = RunCli(Station({"--simulate-bench=2", "--max-boards", "2"}));
  ASSERT_EQ(last.exit, 0) << last.err;
  const JournalScan scan = Scan(journal);
  EXPECT_TRUE(scan.damagedLines.empty());
  EXPECT_TRUE(scan.unfinished.empty());
  EXPECT_TRUE(scan.duplicateSerials.empty());
  size_t interrupted = 0;
  for (const auto& r : scan.records) interrupted += r.event == JournalEvent::Result && r.result == BoardResult::Interrupted;
  EXPECT_GE(interrupted, 3u);  // the kills while writing and reading back, at least
  const CliRun report = RunCli({"station-report", journal});
  EXPECT_EQ(report.exit, 0) << report.out << report.err;
}

TEST_F(StationCli, CtrlCLetsTheBoardsInFlightFinishAndEndsWithASummary) {
  CliProcess station(Station({"--simulate-bench=2"}), InEnglish({}));
  ASSERT_TRUE(station.WaitForStderr(": pass ("));
  station.Signal(SIGINT);
  const CliRun run = station.Finish();
  EXPECT_EQ(run.exit, 0) << run.err;
  EXPECT_THAT(run.err, HasSubstr("stopping: no new board starts"));
  EXPECT_THAT(run.err, HasSubstr("summary:"));
  EXPECT_THAT(run.err, HasSubstr("total: "));
  EXPECT_TRUE(Scan(journal).unfinished.empty());
}

TEST_F(StationCli, AJournalInUseKeepsASecondStationOff) {
  const int fd = ::open(journal.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
  const CliRun run = RunCli(Station({"--simulate-bench=1", "--max-boards", "1"}), InEnglish({}));
  ::close(fd);
  EXPECT_EQ(run.exit, 1);
  EXPECT_THAT(run.err, HasSubstr("is in use by another station"));
}

TEST_F(StationCli, ASerialPlanThatCannotBeKeptIsRefusedBeforeAnyBoard) {
  const std::pair<std::vector<std::string>, const char*> cases[] = {
      {{"station", "-c", "le1", fw, "--journal", journal, "--serial-at", "0x3FFE", "--serial-start", "1",
        "--simulate-bench=1"},
       "lies past the chip's 16384 bytes"},
      {{"station", "-c", "le1", fw, "--journal", journal, "--serial-at", "0x100", "--serial-start", "1",
        "--simulate-bench=1"},
       "would overwrite the image's byte at 0x100"},
      {{"station", "-c", "le1", fw, "--journal", journal, "--serial-at", "0x3FF0", "--serial-start", "300",
        "--serial-width", "1", "--simulate-bench=1"},
       "--serial-start 300 does not fit in 1 byte"},
  };
  for (const auto& [args, error] : cases) {
    const CliRun run = RunCli(args, InEnglish({}));
    EXPECT_EQ(run.exit, 2) << error;
    EXPECT_THAT(run.err, HasSubstr(error));
    EXPECT_FALSE(fs::exists(journal)) << "the journal was touched for " << error;
  }
}

TEST_F(StationCli, TheReportFailsADamagedJournal) {
  ASSERT_EQ(RunCli(Station({"--simulate-bench=1", "--max-boards", "1"})).exit, 0);
  std::vector<uint8_t> bytes = ReadFile(journal);
  bytes[bytes.size() / 2] ^= 0x01;
  WriteFile(journal, std::string(bytes.begin(), bytes.end()));
  const CliRun report = RunCli({"station-report", journal}, InEnglish({}));
  EXPECT_EQ(report.exit, 1);
  EXPECT_THAT(report.out, HasSubstr("integrity: FAILED"));
  const CliRun station = RunCli(Station({"--simulate-bench=1", "--max-boards", "1"}), InEnglish({}));
  EXPECT_EQ(station.exit, 1);
  EXPECT_THAT(station.err, HasSubstr("is damaged at line"));
}

// Under a Chinese locale the operator's lines are Chinese, while the journal reads as one written
// under English: its records hold the same words, and none in Chinese.
TEST_F(StationCli, UnderAChineseLocaleTheOperatorReadsChineseAndTheJournalStaysEnglish) {
  const std::string english = dir / "english.jsonl";
  const auto run = [&](const std::string& path, const std::string& locale) {
    std::vector<std::string> args = Station({"--simulate-bench=2", "--max-boards", "2"});
    args[5] = path;
    return RunCli(args, InLocale({}, locale));
  };
  const CliRun zh = run(journal, "zh_CN.UTF-8");
  ASSERT_EQ(zh.exit, 0) << zh.err;
  const CliRun en = run(english, "en_US.UTF-8");
  ASSERT_EQ(en.exit, 0) << en.err;

  EXPECT_THAT(zh.err, HasSubstr("工作站：NRF24LE1_16K，"));
  EXPECT_THAT(zh.err, HasSubstr("（12000 字节），日志 " + journal + "，2 个模拟编程器（按 Ctrl-C 停止）"));
  EXPECT_THAT(zh.err, HasSubstr("第 1 块电路板，序列号 1000：通过（"));
  EXPECT_THAT(zh.err, HasSubstr("汇总：\n"));
  EXPECT_THAT(zh.err, HasSubstr("合计：通过 2，失败 0，良率 100.0%，每小时 "));
  EXPECT_THAT(en.err, HasSubstr("station: NRF24LE1_16K, "));
  EXPECT_THAT(en.err, HasSubstr("summary:\n"));
  EXPECT_FALSE(HasCjk(en.err)) << en.err;

  const std::vector<uint8_t> bytes = ReadFile(journal);
  EXPECT_FALSE(HasCjk(std::string(bytes.begin(), bytes.end())));
  // What each record says, in the order of its words: two slots may finish in either order.
  const auto words = [](const JournalScan& scan) {
    std::multiset<std::tuple<JournalEvent, BoardResult, std::optional<uint64_t>, std::string, std::string, std::string>>
        said;
    for (const auto& r : scan.records)
      said.emplace(r.event, r.result, r.serial, r.phase, r.failure, r.event == JournalEvent::Start ? r.text : "");
    return said;
  };
  EXPECT_EQ(words(Scan(journal)), words(Scan(english)));
}

// A board that fails: the operator reads why in Chinese, the journal records it in the words an
// English run records, and the report of that journal is Chinese in turn.
TEST_F(StationCli, AFailedBoardsWordsAreChineseOnScreenAndEnglishInTheJournal) {
  const auto failing = [this](const std::string& path, const std::string& locale, const std::string& failed) {
    // Numbers near the end of a 32 KiB chip on a bench of 16 KiB chips: every write fails.
    std::vector<std::string> args = Station({"--simulate-bench=1,16k"});
    args[2] = "lu1-32k";
    args[5] = path;
    args[7] = "0x7FF0";
    CliProcess station(args, InLocale({}, locale));
    EXPECT_TRUE(station.WaitForStderr(failed)) << station.err;
    station.Signal(SIGINT);
    return station.Finish();
  };
  const std::string english = dir / "english.jsonl";
  const CliRun zh = failing(journal, "zh_CN.UTF-8", "：写入时失败：");
  EXPECT_EQ(zh.exit, 0) << zh.err;
  const CliRun en = failing(english, "en_US.UTF-8", ": fail in write: ");
  EXPECT_EQ(en.exit, 0) << en.err;

  const auto failures = [](const JournalScan& scan) {
    std::set<std::string> words;
    for (const auto& r : scan.records)
      if (r.event == JournalEvent::Result && r.result == BoardResult::Fail) words.insert(r.failure);
    return words;
  };
  const std::set<std::string> zhWords = failures(Scan(journal)), enWords = failures(Scan(english));
  ASSERT_FALSE(zhWords.empty());
  EXPECT_EQ(zhWords, enWords);
  for (const std::string& words : zhWords) {
    EXPECT_FALSE(HasCjk(words)) << words;
    EXPECT_THAT(en.err, HasSubstr(": fail in write: " + words)) << "the English line shows the recorded words";
    EXPECT_THAT(zh.err, Not(HasSubstr(words))) << "the Chinese line shows them translated";
  }
  EXPECT_TRUE(HasCjk(zh.err));
  EXPECT_FALSE(HasCjk(en.err)) << en.err;

  const CliRun report = RunCli({"station-report", journal}, InLocale({}, "zh_CN.UTF-8"));
  EXPECT_EQ(report.exit, 0) << report.err;
  EXPECT_THAT(report.out, HasSubstr("日志 " + journal + "\n"));
  EXPECT_THAT(report.out, HasSubstr("完整性：完好，没有重复的编号"));
  EXPECT_THAT(report.out, HasSubstr(" 块电路板，通过 0，失败 "));
}

}  // namespace
}  // namespace quillet::test
