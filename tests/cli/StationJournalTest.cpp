// The production journal: its lines, what a start makes of a journal a crash or a full disk left
// behind, and the lock that keeps two stations off one journal.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <string>

#include "cli/station/JournalFile.h"
#include "cli/station/JournalReport.h"
#include "cli/station/JournalRecord.h"
#include "tests/support/FileSizeLimit.h"
#include "tests/support/TempDir.h"

namespace quillet::cli::station {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

JournalRecord Reserve(uint64_t board, std::optional<uint64_t> serial, bool reflash = false) {
  JournalRecord r;
  r.event = JournalEvent::Reserve;
  r.time = "2026-12-11T10:00:00.000Z";
  r.run = "r1";
  r.board = board;
  r.slotSerial = "PROG-A";
  r.slotNode = "/dev/hidraw3";
  r.chip = "NRF24LE1_16K";
  r.imageSha256 = "ab12";
  r.serial = serial;
  r.serialBytes = serial ? "e8030000" : "";
  r.reflash = reflash;
  return r;
}

JournalRecord Result(uint64_t board, BoardResult result) {
  JournalRecord r = Reserve(board, 1000 + board);
  r.event = JournalEvent::Result;
  r.result = result;
  if (result == BoardResult::Fail) {
    r.phase = "write";
    r.failure = "failure reply 0x85";
  }
  r.phaseSeconds = {{"erase_write", 1.25}, {"read_back", 0.5}};
  return r;
}

std::string Text(const std::vector<JournalRecord>& records) {
  std::string text;
  for (const JournalRecord& r : records) text += FormatJournalLine(r);
  return text;
}

JournalFile::Opened OpenOk(const std::string& path) {
  auto opened = JournalFile::Open(path, "r2", "2026-12-11T11:00:00.000Z");
  if (auto* e = std::get_if<JournalError>(&opened)) ADD_FAILURE() << DescribeJournalError(*e);
  return std::get<JournalFile::Opened>(std::move(opened));
}

JournalScan ScanFile(const std::string& path) {
  std::string text;
  EXPECT_EQ(ReadJournalText(path, text), 0);
  return ScanJournal(text);
}

TEST(JournalLine, EveryFieldSurvivesTheLineAndItEndsInItsChecksum) {
  for (const JournalRecord& r : {Reserve(7, 1007, true), Result(7, BoardResult::Fail), Reserve(8, std::nullopt)}) {
    const std::string line = FormatJournalLine(r);
    ASSERT_EQ(line.back(), '\n');
    EXPECT_THAT(line, HasSubstr(",\"crc32\":\""));
    const auto back = ParseJournalLine(std::string_view(line).substr(0, line.size() - 1));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->event, r.event);
    EXPECT_EQ(back->board, r.board);
    EXPECT_EQ(back->serial, r.serial);
    EXPECT_EQ(back->serialBytes, r.serialBytes);
    EXPECT_EQ(back->reflash, r.reflash);
    EXPECT_EQ(back->slotSerial, r.slotSerial);
    EXPECT_EQ(back->slotNode, r.slotNode);
    EXPECT_EQ(back->imageSha256, r.imageSha256);
    EXPECT_EQ(back->result, r.result);
    EXPECT_EQ(back->phase, r.phase);
    EXPECT_EQ(back->failure, r.failure);
    EXPECT_EQ(back->phaseSeconds, r.phaseSeconds);
  }
}

TEST(JournalLine, ASlotSharingItsSerialNumberIsMarkedAndNamedByItsNode) {
  JournalRecord r = Result(9, BoardResult::Pass);
  EXPECT_EQ(FormatJournalLine(r).find("shared"), std::string::npos);  // lines as they always were
  r.slotShared = true;
  const std::string line = FormatJournalLine(r);
  EXPECT_THAT(line, HasSubstr("\"shared\":true"));
  const auto back = ParseJournalLine(std::string_view(line).substr(0, line.size() - 1));
  ASSERT_TRUE(back);
  EXPECT_TRUE(back->slotShared);
  EXPECT_EQ(SlotName(back->slotSerial, back->slotNode, back->slotShared), "PROG-A@hidraw3");
  EXPECT_EQ(SlotName("PROG-A", "/dev/hidraw3"), "PROG-A");
  EXPECT_EQ(SlotName("", "/dev/hidraw3", true), "/dev/hidraw3");
}

TEST(JournalLine, AnyChangedOrMissingByteIsCaught) {
  std::string line = FormatJournalLine(Result(3, BoardResult::Pass));
  line.pop_back();
  for (size_t i = 0; i < line.size(); ++i) {
    std::string changed = line;
    changed[i] = static_cast<char>(changed[i] ^ 0x01);
    EXPECT_FALSE(ParseJournalLine(changed)) << "byte " << i;
    EXPECT_FALSE(ParseJournalLine(line.substr(0, i))) << "cut at " << i;
  }
}

TEST(JournalScan, DuplicatesUnfinishedBoardsAndTheHighestNumbers) {
  const JournalScan scan = ScanJournal(Text({Reserve(1, 1001), Result(1, BoardResult::Pass), Reserve(2, 1002),
                                             Reserve(3, 1001), Result(3, BoardResult::Fail),
                                             // A reflash keeps a number on purpose: no duplicate.
                                             Reserve(4, 1002, true), Result(4, BoardResult::Pass)}));
  EXPECT_TRUE(scan.damagedLines.empty());
  EXPECT_THAT(scan.duplicateSerials, ElementsAre(1001u));
  ASSERT_EQ(scan.unfinished.size(), 1u);
  EXPECT_EQ(scan.unfinished[0].board, 2u);
  EXPECT_EQ(scan.highestSerial, 1002u);
  EXPECT_EQ(scan.highestBoard, 4u);
}

TEST(JournalScan, ADamagedLineIsCountedAndATornTailKeptApart) {
  std::string text = Text({Reserve(1, 1001), Result(1, BoardResult::Pass)});
  text[10] = '#';
  const std::string whole = Text({Reserve(2, 1002)});
  const std::string torn = FormatJournalLine(Reserve(3, 1050)).substr(0, 40);
  const JournalScan scan = ScanJournal(text + whole + torn);
  EXPECT_THAT(scan.damagedLines, ElementsAre(1u));
  EXPECT_EQ(scan.records.size(), 2u);
  EXPECT_EQ(scan.tornTail, torn);
  EXPECT_EQ(scan.wholeBytes, text.size() + whole.size());
  EXPECT_EQ(scan.highestSerial, 1002u);
}

TEST(JournalScan, AWholeReservationLackingOnlyItsNewlineStillUsesItsNumber) {
  std::string last = FormatJournalLine(Reserve(5, 1077));
  last.pop_back();
  const JournalScan scan = ScanJournal(Text({Reserve(1, 1001)}) + last);
  EXPECT_EQ(scan.tornTail, last);
  EXPECT_EQ(scan.highestSerial, 1077u);
  EXPECT_EQ(scan.highestBoard, 5u);
}

TEST(JournalFile, ATornLastLineIsCutOffKeptAsARecordAndReported) {
  test::TempDir dir;
  const std::string path = dir / "bench.jsonl";
  const std::string torn = FormatJournalLine(Reserve(2, 1002)).substr(0, 30);
  test::WriteFile(path, Text({Reserve(1, 1001), Result(1, BoardResult::Pass)}) + torn);
  {
    JournalFile::Opened opened = OpenOk(path);
    EXPECT_EQ(opened.scan.tornTail, torn);
    ASSERT_FALSE(opened.file->Append(Reserve(2, 1002)));
  }
  const JournalScan after = ScanFile(path);
  EXPECT_TRUE(after.tornTail.empty());
  EXPECT_TRUE(after.damagedLines.empty());
  ASSERT_EQ(after.records.size(), 4u);
  EXPECT_EQ(after.records[2].event, JournalEvent::Torn);
  EXPECT_EQ(after.records[2].text, torn);
  EXPECT_EQ(after.records[3].serial, 1002u);
}

TEST(JournalFile, AReservationWithNoResultIsRecordedInterruptedOnce) {
  test::TempDir dir;
  const std::string path = dir / "bench.jsonl";
  test::WriteFile(path, Text({Reserve(1, 1001), Result(1, BoardResult::Pass), Reserve(2, 1002)}));
  {
    JournalFile::Opened opened = OpenOk(path);
    ASSERT_EQ(opened.scan.unfinished.size(), 1u);
  }
  JournalFile::Opened again = OpenOk(path);
  EXPECT_TRUE(again.scan.unfinished.empty());
  const JournalRecord& last = again.scan.records.back();
  EXPECT_EQ(last.event, JournalEvent::Result);
  EXPECT_EQ(last.result, BoardResult::Interrupted);
  EXPECT_EQ(last.board, 2u);
  EXPECT_EQ(last.serial, 1002u);
  EXPECT_EQ(last.slotSerial, "PROG-A");
  EXPECT_EQ(last.run, "r2");
  EXPECT_THAT(last.failure, HasSubstr("run r1"));
}

TEST(JournalFile, ASecondStationIsKeptOffUntilTheFirstLetsGo) {
  test::TempDir dir;
  const std::string path = dir / "bench.jsonl";
  {
    JournalFile::Opened first = OpenOk(path);
    auto second = JournalFile::Open(path, "r3", "t");
    ASSERT_TRUE(std::holds_alternative<JournalError>(second));
    EXPECT_EQ(std::get<JournalError>(second).kind, JournalError::kLocked);
    EXPECT_THAT(DescribeJournalError(std::get<JournalError>(second)), HasSubstr("in use by another station"));
  }
  OpenOk(path);
}

TEST(JournalFile, ADamagedLineBeforeTheLastStopsTheStart) {
  test::TempDir dir;
  const std::string path = dir / "bench.jsonl";
  std::string text = Text({Reserve(1, 1001), Result(1, BoardResult::Pass), Reserve(2, 1002)});
  text[text.find("1002") + 1] = '9';
  test::WriteFile(path, text + Text({Result(2, BoardResult::Pass)}));
  auto opened = JournalFile::Open(path, "r2", "t");
  ASSERT_TRUE(std::holds_alternative<JournalError>(opened));
  EXPECT_EQ(std::get<JournalError>(opened).kind, JournalError::kDamaged);
  EXPECT_EQ(std::get<JournalError>(opened).line, 3u);
}

TEST(JournalFile, AFullDiskFailsTheAppendLeavesNoHalfLineAndRefusesMore) {
  test::TempDir dir;
  const std::string path = dir / "bench.jsonl";
  const std::string before = Text({Reserve(1, 1001), Result(1, BoardResult::Pass)});
  test::WriteFile(path, before);
  JournalFile::Opened opened = OpenOk(path);
  {
    test::FileSizeLimit limit(before.size() + 40);
    ASSERT_TRUE(limit.Ok());
    const auto error = opened.file->Append(Reserve(2, 1002));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->kind, JournalError::kWrite);
    EXPECT_EQ(error->error, EFBIG);
    EXPECT_THAT(DescribeJournalError(*error), HasSubstr("cannot write the journal"));
  }
  EXPECT_TRUE(opened.file->Failed());
  EXPECT_TRUE(opened.file->Append(Reserve(3, 1003)));
  EXPECT_EQ(test::ReadFile(path).size(), before.size());
  EXPECT_TRUE(ScanFile(path).tornTail.empty());
}

TEST(JournalFile, AJournalRemovedOrReplacedUnderTheStationTakesNoMoreRecords) {
  for (const bool replace : {false, true}) {
    test::TempDir dir;
    const std::string path = dir / "bench.jsonl";
    JournalFile::Opened opened = OpenOk(path);
    ASSERT_FALSE(opened.file->Append(Reserve(1, 1001)));
    std::filesystem::remove(path);
    if (replace) test::WriteFile(path, "");
    const auto error = opened.file->Append(Result(1, BoardResult::Pass));
    ASSERT_TRUE(error) << replace;
    EXPECT_EQ(error->kind, JournalError::kRemoved);
    EXPECT_THAT(DescribeJournalError(*error), HasSubstr("was removed or replaced while the station ran"));
    EXPECT_TRUE(opened.file->Failed());
  }
}

TEST(JournalFile, AFolderThatIsNotThereIsAnOpenError) {
  auto opened = JournalFile::Open("/nonexistent-folder/bench.jsonl", "r", "t");
  ASSERT_TRUE(std::holds_alternative<JournalError>(opened));
  EXPECT_EQ(std::get<JournalError>(opened).kind, JournalError::kOpen);
  EXPECT_EQ(std::get<JournalError>(opened).error, ENOENT);
}

TEST(JournalTime, IsoUtcWithMilliseconds) {
  EXPECT_EQ(IsoUtc(0), "1970-01-01T00:00:00.000Z");
  EXPECT_EQ(IsoUtc(1796997491123), "2026-12-11T13:58:11.123Z");
}

}  // namespace
}  // namespace quillet::cli::station
