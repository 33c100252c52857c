// What the station shows and reports: a journal's summary and integrity check, the dashboard's
// and the plain lines' text, and the image's SHA-256.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "cli/station/JournalReport.h"
#include "cli/station/Sha256.h"
#include "cli/station/StationView.h"

namespace quillet::cli::station {
namespace {

using ::testing::HasSubstr;

JournalRecord Board(JournalEvent event, uint64_t board, const std::string& slot, uint64_t serial, const char* time,
                    BoardResult result = BoardResult::Pass) {
  JournalRecord r;
  r.event = event;
  r.time = time;
  r.run = "r1";
  r.board = board;
  r.slotSerial = slot;
  r.slotNode = "/dev/hidraw" + std::to_string(board);
  r.serial = serial;
  r.result = result;
  return r;
}

std::string Journal(const std::vector<JournalRecord>& records) {
  std::string text;
  for (const JournalRecord& r : records) text += FormatJournalLine(r);
  return text;
}

TEST(JournalSummary, TotalsYieldPerSlotRateRangeAndASoundJournal) {
  const std::string text = Journal({
      Board(JournalEvent::Reserve, 1, "A", 100, "2026-12-11T10:00:00.000Z"),
      Board(JournalEvent::Result, 1, "A", 100, "2026-12-11T10:00:01.000Z"),
      Board(JournalEvent::Reserve, 2, "B", 101, "2026-12-11T10:00:02.000Z"),
      Board(JournalEvent::Result, 2, "B", 101, "2026-12-11T10:00:03.000Z", BoardResult::Fail),
      Board(JournalEvent::Reserve, 3, "A", 102, "2026-12-11T10:00:04.000Z"),
      Board(JournalEvent::Result, 3, "A", 102, "2026-12-11T10:30:00.000Z", BoardResult::Interrupted),
  });
  const JournalSummary s = SummariseJournal(ScanJournal(text));
  EXPECT_EQ(s.total.passed, 1u);
  EXPECT_EQ(s.total.failed, 1u);
  EXPECT_EQ(s.total.interrupted, 1u);
  EXPECT_EQ(s.slots.at("A").passed, 1u);
  EXPECT_EQ(s.slots.at("A").interrupted, 1u);
  EXPECT_EQ(s.slots.at("B").failed, 1u);
  EXPECT_DOUBLE_EQ(s.slots.at("A").Yield(), 0.5);
  EXPECT_DOUBLE_EQ(s.BoardsPerHour(), 6.0);  // three boards in half an hour
  EXPECT_EQ(s.lowestSerial, 100u);
  EXPECT_EQ(s.highestSerial, 102u);
  EXPECT_EQ(s.serialsUsed, 3u);
  EXPECT_TRUE(s.Sound());
  const std::string report = FormatJournalSummary(s, "j.jsonl");
  EXPECT_THAT(report, HasSubstr("A: 1 passed, 0 failed, 1 interrupted, yield 50.0%"));
  EXPECT_THAT(report, HasSubstr("serial numbers 100 to 102, 3 used"));
  EXPECT_THAT(report, HasSubstr("integrity: whole, no duplicated numbers"));
  EXPECT_EQ(FormatJournalSummaryCsv(s),
            "slot,passed,failed,interrupted,yield\nA,1,0,1,0.5000\nB,0,1,0,0.0000\ntotal,1,1,1,0.3333\n");
}

TEST(JournalSummary, DamageTearsAndDuplicatesFailTheIntegrityCheck) {
  std::string damaged = Journal({Board(JournalEvent::Reserve, 1, "A", 100, "2026-12-11T10:00:00.000Z")});
  damaged[5] = 'X';
  const std::string duplicate = Journal({Board(JournalEvent::Reserve, 2, "A", 100, "2026-12-11T10:00:00.000Z"),
                                         Board(JournalEvent::Reserve, 3, "B", 100, "2026-12-11T10:00:01.000Z")});
  const std::pair<std::string, const char*> cases[] = {
      {damaged + duplicate.substr(0, duplicate.find('\n') + 1), "damaged: line 1"},
      {duplicate, "duplicate: serial number 100"},
      {duplicate.substr(0, duplicate.size() - 10), "damaged: the last line is torn"},
  };
  for (const auto& [text, says] : cases) {
    const JournalSummary s = SummariseJournal(ScanJournal(text));
    EXPECT_FALSE(s.Sound()) << says;
    const std::string report = FormatJournalSummary(s, "j");
    EXPECT_THAT(report, HasSubstr(says));
    EXPECT_THAT(report, HasSubstr("integrity: FAILED"));
  }
}

TEST(JournalSummary, TimesBackFromTheirText) {
  EXPECT_EQ(ParseIsoUtc(IsoUtc(1796997491123)), 1796997491123);
  EXPECT_EQ(ParseIsoUtc("2026-12-11T13:58:11Z"), std::nullopt);
  EXPECT_EQ(ParseIsoUtc("yesterday"), std::nullopt);
}

TEST(StationView, TheDashboardShowsEachSlotAndTheFooter) {
  SlotView a;
  a.name = "PROG-A";
  a.state = SlotMachine::State::Flashing;
  a.phase = "write";
  a.serial = 1042;
  a.last = BoardResult::Pass;
  a.counts.passed = 7;
  a.counts.failed = 1;
  SlotView b;
  b.name = "/dev/hidraw5";
  b.state = SlotMachine::State::Held;
  b.last = BoardResult::Fail;
  const auto lines = DashboardLines({a, b}, {3600, 9, "bench.jsonl"}, false);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_THAT(lines[0], HasSubstr("PROG-A"));
  EXPECT_THAT(lines[0], HasSubstr("flashing (write)"));
  EXPECT_THAT(lines[0], HasSubstr("#1042"));
  EXPECT_THAT(lines[0], HasSubstr("pass"));
  EXPECT_THAT(lines[0], HasSubstr("7 passed / 1 failed"));
  EXPECT_THAT(lines[1], HasSubstr("HELD: replug"));
  EXPECT_EQ(lines[2], "8 boards/hour, 9 numbers used, journal bench.jsonl");
  const auto coloured = DashboardLines({a, b}, {3600, 9, "bench.jsonl"}, true);
  EXPECT_THAT(coloured[0], HasSubstr("\x1b[32mpass"));
  EXPECT_THAT(coloured[1], HasSubstr("\x1b[31mfail"));
}

TEST(StationView, ABoardsPlainLineAndJson) {
  JournalRecord r = Board(JournalEvent::Result, 12, "PROG-A", 1042, "2026-12-11T10:00:00.000Z", BoardResult::Fail);
  r.phase = "read_back";
  r.failure = "the read-back differs at 0x0010";
  r.serialBytes = "12040000";
  r.phaseSeconds = {{"write", 0.5}, {"read_back", 0.25}};
  EXPECT_EQ(BoardLine(r), "PROG-A: board 12, serial 1042: fail in read_back: the read-back differs at 0x0010 (0.75 s)");
  const Json::Value v = BoardJson(r);
  EXPECT_EQ(v["result"].asString(), "fail");
  EXPECT_EQ(v["serial"].asUInt64(), 1042u);
  EXPECT_EQ(v["serial_bytes"].asString(), "12040000");
  EXPECT_EQ(v["phase"].asString(), "read_back");
  EXPECT_EQ(v["slot"].asString(), "PROG-A");
}

TEST(Sha256, KnownDigests) {
  const auto hex = [](const std::string& s) {
    return Sha256Hex({reinterpret_cast<const uint8_t*>(s.data()), s.size()});
  };
  EXPECT_EQ(hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  // Two blocks of padding, and more than one block of data.
  EXPECT_EQ(hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
            "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
  EXPECT_EQ(hex(std::string(1000, 'a')), "41edece42d63e8d9bf515a9ba6932e1c20cbc9f5a5d134645adb5db1b9737ea3");
}

}  // namespace
}  // namespace quillet::cli::station
