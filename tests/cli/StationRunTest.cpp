// The station end to end over a bench of simulated programmers in this process: boards seated,
// flashed, read back and taken off; faults kept in their slot; the journal's promises across a
// restart, a crash mid-board, a full disk and a number range that runs out.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>

#include "cli/station/JournalFile.h"
#include "cli/station/SimBench.h"
#include "cli/station/Station.h"
#include "tests/support/FileSizeLimit.h"
#include "tests/support/TempDir.h"
#include "tests/support/Values.h"

namespace quillet::cli::station {
namespace {

using namespace std::chrono_literals;
using ::testing::HasSubstr;
using Bytes = std::vector<uint8_t>;

constexpr uint32_t kSerialAt = 0x3FF0;

SimBench::Options FastBench(int size, std::vector<sim::SimProgrammerFaults> faults = {}) {
  SimBench::Options o;
  o.size = size;
  o.dwell = 20ms;
  o.gap = 20ms;
  o.reportInterval = 0us;
  o.faults = std::move(faults);
  return o;
}

StationSetUp StationFor(const Bytes& image, std::optional<uint64_t> maxBoards, uint64_t start = 5000) {
  StationSetUp s;
  s.chip = "NRF24LE1_16K";
  s.image = image;
  SerialPlan plan;
  plan.address = kSerialAt;
  plan.width = 4;
  plan.endian = Endian::Big;
  plan.start = start;
  s.serial = plan;
  s.maxBoards = maxBoards;
  s.run = "test";
  return s;
}

struct RunResult {
  std::vector<JournalRecord> results;  // as the station reported them
  std::string failure;
  bool stoppedAtOnce = false;
  std::vector<SlotView> slots;
};

// Runs a station over `bench` until it stops by itself; `during` may act on it at every tick. A
// hang guard stops it at once after a minute (the test then fails on stoppedAtOnce).
RunResult RunStation(SimBench& bench, const StationSetUp& setUp, const std::string& journal,
                     const std::function<void(Station&)>& during = {}) {
  RunResult r;
  auto opened = JournalFile::Open(journal, setUp.run, "2026-12-11T00:00:00.000Z");
  if (auto* e = std::get_if<JournalError>(&opened)) {
    r.failure = DescribeJournalError(*e);
    return r;
  }
  auto& j = std::get<JournalFile::Opened>(opened);
  Station::Events events;
  events.boardEnded = [&r](const JournalRecord& result) { r.results.push_back(result); };
  Station st(bench.Backend(), setUp, *j.file, j.scan, events);
  st.Every(10ms, [&] {
    bench.Tend(SimBench::Clock::now(), [&](const std::string& serial, const std::string& node) { return st.StateOf(serial, node); });
    if (during) during(st);
  });
  st.Every(60s, [&] { st.StopNow(); });
  st.Run();
  r.failure = st.Failure();
  r.stoppedAtOnce = st.StoppedAtOnce();
  r.slots = st.Slots();
  return r;
}

JournalScan ScanFile(const std::string& path) {
  std::string text;
  EXPECT_EQ(ReadJournalText(path, text), 0);
  return ScanJournal(text);
}

Bytes Patched(const Bytes& image, uint64_t serial) {
  SerialPlan plan = *StationFor(image, {}).serial;
  return PatchSerial(image, plan, serial);
}

// Every board taken off a position that passed holds the image with its own number; returns the
// numbers found.
std::set<uint64_t> CheckBoardsTakenOff(SimBench& bench, const Bytes& image, const std::vector<JournalRecord>& results) {
  std::map<std::string, std::vector<uint64_t>> passedBySlot;
  for (const JournalRecord& r : results)
    if (r.result == BoardResult::Pass) passedBySlot[r.slotSerial].push_back(*r.serial);
  std::set<uint64_t> found;
  for (int i = 0; i < bench.Size(); ++i) {
    const auto& passed = passedBySlot[bench.Serial(i)];
    const auto& boards = bench.BoardsTakenOff(i);
    for (size_t b = 0; b < passed.size() && b < boards.size(); ++b) {
      const Bytes want = Patched(image, passed[b]);
      EXPECT_TRUE(std::equal(want.begin(), want.end(), boards[b].begin()))
          << bench.Serial(i) << " board " << b << " serial " << passed[b];
      found.insert(passed[b]);
    }
  }
  return found;
}

TEST(StationRun, ThreeSlotsPassEveryBoardHoldsItsOwnNumberAndNoneRepeats) {
  test::TempDir dir;
  const Bytes image = test::RandomBytes(5000, 7);
  SimBench bench(FastBench(3));
  const RunResult r = RunStation(bench, StationFor(image, 6), dir / "j.jsonl");
  EXPECT_EQ(r.failure, "");
  ASSERT_FALSE(r.stoppedAtOnce);
  ASSERT_EQ(r.results.size(), 6u);  // no more boards started than needed
  std::set<uint64_t> numbers;
  std::set<std::string> slots;
  for (const JournalRecord& res : r.results) {
    EXPECT_EQ(res.result, BoardResult::Pass) << res.failure;
    EXPECT_TRUE(numbers.insert(*res.serial).second) << *res.serial;
    slots.insert(res.slotSerial);
    EXPECT_GE(*res.serial, 5000u);
  }
  EXPECT_EQ(slots.size(), 3u);  // every slot took boards
  EXPECT_FALSE(CheckBoardsTakenOff(bench, image, r.results).empty());
  const JournalScan scan = ScanFile(dir / "j.jsonl");
  EXPECT_TRUE(scan.damagedLines.empty());
  EXPECT_TRUE(scan.duplicateSerials.empty());
  EXPECT_TRUE(scan.unfinished.empty());
}

TEST(StationRun, AFaultedSlotIsHeldWhileTheOtherTwoKeepPassing) {
  test::TempDir dir;
  const Bytes image = test::RandomBytes(5000, 8);
  sim::SimProgrammerFaults failing;
  failing.writeReply = 0x85;
  SimBench bench(FastBench(3, {{}, failing, {}}));
  const RunResult r = RunStation(bench, StationFor(image, 8), dir / "j.jsonl");
  ASSERT_FALSE(r.stoppedAtOnce);
  std::map<std::string, BoardCounts> counts;
  std::set<uint64_t> numbers;
  for (const JournalRecord& res : r.results) {
    BoardCounts& c = counts[res.slotSerial];
    ++(res.result == BoardResult::Pass ? c.passed : c.failed);
    EXPECT_TRUE(numbers.insert(*res.serial).second) << "number " << *res.serial << " given twice";
    if (res.result == BoardResult::Fail) {
      EXPECT_EQ(res.phase, "write");
      EXPECT_THAT(res.failure, HasSubstr("failure reply 0x85"));
    }
  }
  EXPECT_EQ(counts[bench.Serial(1)].passed, 0u);
  EXPECT_EQ(counts[bench.Serial(1)].failed, 3u);  // then held
  EXPECT_EQ(counts[bench.Serial(0)].failed + counts[bench.Serial(2)].failed, 0u);
  EXPECT_EQ(counts[bench.Serial(0)].passed + counts[bench.Serial(2)].passed, 8u);
  const auto held = std::find_if(r.slots.begin(), r.slots.end(), [&](const SlotView& s) { return s.name == bench.Serial(1); });
  ASSERT_NE(held, r.slots.end());
  EXPECT_EQ(held->state, SlotMachine::State::Held);
  CheckBoardsTakenOff(bench, image, r.results);
}

// A hang (no checksum ever comes: the watchdog ends it) and worn flash the checksum cannot see
// (two bits stuck at 0 in the same position) fail boards on their own slots only.
TEST(StationRun, AHangAndAReadBackMismatchStayInTheirSlots) {
  test::TempDir dir;
  Bytes image = test::RandomBytes(5000, 17);
  image[0x10] = image[0x11] = 0x01;
  sim::SimProgrammerFaults hang;
  hang.withholdChecksum = true;
  sim::SimProgrammerFaults worn;
  worn.stuckCells = {{0x10, 0x01, 0x00}, {0x11, 0x01, 0x00}};
  SimBench bench(FastBench(3, {hang, worn, {}}));
  const RunResult r = RunStation(bench, StationFor(image, 4), dir / "j.jsonl");
  ASSERT_FALSE(r.stoppedAtOnce);
  std::map<std::string, std::vector<JournalRecord>> bySlot;
  for (const JournalRecord& res : r.results) bySlot[res.slotSerial].push_back(res);
  ASSERT_FALSE(bySlot[bench.Serial(0)].empty());
  for (const JournalRecord& res : bySlot[bench.Serial(0)]) {
    EXPECT_EQ(res.result, BoardResult::Fail);
    EXPECT_EQ(res.phase, "write");
    EXPECT_THAT(res.failure, HasSubstr("sent no checksum"));
  }
  ASSERT_FALSE(bySlot[bench.Serial(1)].empty());
  for (const JournalRecord& res : bySlot[bench.Serial(1)]) {
    EXPECT_EQ(res.result, BoardResult::Fail);
    EXPECT_EQ(res.phase, "read_back");
    EXPECT_THAT(res.failure, HasSubstr("the read-back differs at 0x0010 (expected 01, read 00); 2 of"));
  }
  ASSERT_EQ(bySlot[bench.Serial(2)].size(), 4u);
  for (const JournalRecord& res : bySlot[bench.Serial(2)]) EXPECT_EQ(res.result, BoardResult::Pass);
}

TEST(StationRun, NumbersContinueAfterARestartAndAfterACrashMidBoard) {
  test::TempDir dir;
  const std::string journal = dir / "j.jsonl";
  const Bytes image = test::RandomBytes(3000, 9);
  uint64_t highest = 0;
  {
    SimBench bench(FastBench(2));
    const RunResult r = RunStation(bench, StationFor(image, 2), journal);
    ASSERT_FALSE(r.results.empty());
    for (const JournalRecord& res : r.results) highest = std::max(highest, *res.serial);
  }
  // A crash after the next reservation reached the disk and before the board's result did.
  {
    auto opened = JournalFile::Open(journal, "crashed", "2026-12-11T00:00:00.000Z");
    auto& j = std::get<JournalFile::Opened>(opened);
    JournalRecord reserve;
    reserve.event = JournalEvent::Reserve;
    reserve.run = "crashed";
    reserve.board = j.scan.highestBoard + 1;
    reserve.serial = highest + 1;
    reserve.slotSerial = "SIMBENCH01";
    ASSERT_FALSE(j.file->Append(reserve));
  }
  SimBench bench(FastBench(2));
  const RunResult r = RunStation(bench, StationFor(image, 2), journal);
  ASSERT_FALSE(r.results.empty());
  for (const JournalRecord& res : r.results) EXPECT_GT(*res.serial, highest + 1) << "reissued";
  const JournalScan scan = ScanFile(journal);
  EXPECT_TRUE(scan.duplicateSerials.empty());
  EXPECT_TRUE(scan.unfinished.empty());
  const auto interrupted = std::find_if(scan.records.begin(), scan.records.end(), [](const JournalRecord& rec) {
    return rec.event == JournalEvent::Result && rec.result == BoardResult::Interrupted;
  });
  ASSERT_NE(interrupted, scan.records.end());
  EXPECT_EQ(interrupted->serial, highest + 1);
}

TEST(StationRun, NoBoardStartsThatCouldNotBeNumbered) {
  test::TempDir dir;
  const Bytes image = test::RandomBytes(3000, 10);
  StationSetUp setUp = StationFor(image, std::nullopt);
  setUp.serial->end = setUp.serial->start + 2;
  SimBench bench(FastBench(2));
  const RunResult r = RunStation(bench, setUp, dir / "j.jsonl");
  EXPECT_THAT(r.failure, HasSubstr("serial numbers ran out"));
  ASSERT_FALSE(r.stoppedAtOnce);
  const JournalScan scan = ScanFile(dir / "j.jsonl");
  std::set<uint64_t> reserved;
  for (const JournalRecord& rec : scan.records)
    if (rec.event == JournalEvent::Reserve) reserved.insert(*rec.serial);
  EXPECT_EQ(reserved, (std::set<uint64_t>{5000, 5001, 5002}));
  EXPECT_EQ(r.results.size(), 3u);
}

TEST(StationRun, AJournalThatCannotBeWrittenStopsNewBoardsAndNoUnrecordedNumberIsFlashed) {
  test::TempDir dir;
  const std::string journal = dir / "j.jsonl";
  const Bytes image = test::RandomBytes(3000, 11);
  SimBench bench(FastBench(2));
  test::FileSizeLimit limit(2500);  // a few records, then the disk is full
  ASSERT_TRUE(limit.Ok());
  const RunResult r = RunStation(bench, StationFor(image, std::nullopt), journal);
  EXPECT_THAT(r.failure, HasSubstr("cannot write the journal"));
  ASSERT_FALSE(r.stoppedAtOnce);
  const JournalScan scan = ScanFile(journal);
  EXPECT_TRUE(scan.tornTail.empty());
  std::set<uint64_t> reserved;
  for (const JournalRecord& rec : scan.records)
    if (rec.event == JournalEvent::Reserve) reserved.insert(*rec.serial);
  // Whatever a board took off the bench holds, its number was on disk first.
  for (int i = 0; i < bench.Size(); ++i)
    for (const Bytes& flash : bench.BoardsTakenOff(i)) {
      const Bytes at(flash.begin() + kSerialAt, flash.begin() + kSerialAt + 4);
      if (at == Bytes(4, 0xFF)) continue;
      const uint64_t n = uint64_t{at[0]} << 24 | uint64_t{at[1]} << 16 | uint64_t{at[2]} << 8 | at[3];
      if (n >= 5000 && n < 6000) {
        EXPECT_TRUE(reserved.count(n)) << n;
      }
    }
}

TEST(StationRun, AProgrammerUnpluggedMidBoardFailsThatBoardOnlyAndComesBack) {
  test::TempDir dir;
  const Bytes image = test::RandomBytes(12000, 12);
  SimBench::Options options = FastBench(2);
  options.reportInterval = 1000us;  // paced, so the write lasts long enough to be cut
  SimBench bench(options);
  bool unplugged = false, plugged = false;
  SimBench* b = &bench;
  const RunResult r = RunStation(bench, StationFor(image, 4), dir / "j.jsonl", [&](Station& st) {
    if (!unplugged && b->Programmer(0).PendingImageReports() > 20) {
      b->Unplug(0);
      unplugged = true;
    } else if (unplugged && !plugged && st.StateOf(b->Serial(0)) == SlotMachine::State::Gone) {
      b->Plug(0);
      plugged = true;
    }
  });
  ASSERT_TRUE(unplugged);
  ASSERT_FALSE(r.stoppedAtOnce);
  const auto cut = std::find_if(r.results.begin(), r.results.end(),
                                [](const JournalRecord& res) { return res.result == BoardResult::Fail; });
  ASSERT_NE(cut, r.results.end());
  EXPECT_EQ(cut->slotSerial, bench.Serial(0));
  EXPECT_EQ(cut->phase, "write");
  EXPECT_THAT(cut->failure, HasSubstr("unplugged"));
  size_t passes = 0;
  for (const JournalRecord& res : r.results) passes += res.result == BoardResult::Pass;
  EXPECT_EQ(passes, 4u);
  EXPECT_TRUE(ScanFile(dir / "j.jsonl").duplicateSerials.empty());
}

TEST(StationRun, KeepSerialKeepsANumberThisJournalIssuedAndNumbersAnyOtherBoardAnew) {
  test::TempDir dir;
  const std::string journal = dir / "j.jsonl";
  const Bytes image = test::RandomBytes(3000, 14);
  Bytes first;
  uint64_t issued = 0;
  {
    SimBench bench(FastBench(1));
    const RunResult r = RunStation(bench, StationFor(image, 1), journal);
    ASSERT_EQ(r.results.size(), 1u);
    issued = *r.results[0].serial;
    first = bench.Programmer(0).Flash();  // the board, still seated when the station stopped
  }
  // The same board comes back, then one carrying a number this journal never issued.
  Bytes stranger = first;
  stranger[kSerialAt + 3] ^= 0x40;
  SimBench::Options options = FastBench(1);
  options.freshFlash = [&](int, int board) { return board == 0 ? first : stranger; };
  SimBench bench(options);
  StationSetUp setUp = StationFor(image, 2);
  setUp.keepSerial = true;
  const RunResult r = RunStation(bench, setUp, journal);
  ASSERT_EQ(r.results.size(), 2u);
  EXPECT_EQ(r.results[0].serial, issued);
  EXPECT_TRUE(r.results[0].reflash);
  EXPECT_EQ(r.results[0].result, BoardResult::Pass);
  EXPECT_EQ(r.results[1].serial, issued + 1);
  EXPECT_FALSE(r.results[1].reflash);
  EXPECT_GT(r.results[0].phaseSeconds.count("read"), 0u);
  CheckBoardsTakenOff(bench, image, r.results);
  EXPECT_TRUE(ScanFile(journal).duplicateSerials.empty());
}

TEST(StationRun, AProgrammerPluggedInWhileRunningBecomesASlot) {
  test::TempDir dir;
  const Bytes image = test::RandomBytes(3000, 15);
  SimBench bench(FastBench(2));
  bench.Unplug(1);
  bool plugged = false;
  SimBench* b = &bench;
  const RunResult r = RunStation(bench, StationFor(image, 4), dir / "j.jsonl", [&](Station& st) {
    if (!plugged && st.Slots().size() == 1) {
      b->Plug(1);
      plugged = true;
    }
  });
  ASSERT_TRUE(plugged);
  ASSERT_EQ(r.slots.size(), 2u);
  std::set<std::string> slots;
  for (const JournalRecord& res : r.results) slots.insert(res.slotSerial);
  EXPECT_TRUE(slots.count(bench.Serial(1)));
}

// Programmers that share a serial number each get a slot of their own, named by number and node;
// each board taken off holds the number its own slot gave it, and the report keeps them apart.
TEST(StationRun, ProgrammersSharingASerialNumberEachHaveTheirOwnSlot) {
  test::TempDir dir;
  const Bytes image = test::RandomBytes(3000, 16);
  SimBench::Options options = FastBench(3);
  options.serials = {"TWIN", "TWIN", "SOLO"};
  SimBench bench(options);
  std::vector<std::string> messages;
  auto opened = JournalFile::Open(dir / "j.jsonl", "r", "t");
  auto& j = std::get<JournalFile::Opened>(opened);
  Station::Events events;
  std::vector<JournalRecord> results;
  events.message = [&](const std::string& line) { messages.push_back(line); };
  events.boardEnded = [&](const JournalRecord& r) { results.push_back(r); };
  Station st(bench.Backend(), StationFor(image, 9), *j.file, j.scan, events);
  st.Every(10ms, [&] {
    bench.Tend(SimBench::Clock::now(), [&](const std::string& s, const std::string& n) { return st.StateOf(s, n); });
  });
  st.Every(60s, [&] { st.StopNow(); });
  st.Run();
  ASSERT_FALSE(st.StoppedAtOnce());
  std::set<std::string> names;
  for (const SlotView& v : st.Slots()) names.insert(v.name);
  EXPECT_EQ(names, (std::set<std::string>{"TWIN@hidraw0", "TWIN@hidraw1", "SOLO"}));
  EXPECT_EQ(std::count_if(messages.begin(), messages.end(),
                          [](const std::string& m) {
                            return m == "programmers at /sim/hidraw0 and /sim/hidraw1 share the serial number TWIN: "
                                        "each has its own slot, named by its node";
                          }),
            1);
  std::map<std::string, std::vector<uint64_t>> passedByNode;
  std::set<uint64_t> numbers;
  for (const JournalRecord& r : results) {
    ASSERT_EQ(r.result, BoardResult::Pass) << r.failure;
    EXPECT_TRUE(numbers.insert(*r.serial).second) << *r.serial;
    EXPECT_EQ(r.slotShared, r.slotSerial == "TWIN");
    passedByNode[r.slotNode].push_back(*r.serial);
  }
  for (int i = 0; i < 3; ++i) {
    const auto& passed = passedByNode["/sim/hidraw" + std::to_string(i)];
    const auto& boards = bench.BoardsTakenOff(i);
    EXPECT_FALSE(passed.empty()) << i;
    for (size_t b = 0; b < passed.size() && b < boards.size(); ++b) {
      const Bytes want = Patched(image, passed[b]);
      EXPECT_TRUE(std::equal(want.begin(), want.end(), boards[b].begin()))
          << "position " << i << " board " << b << " serial " << passed[b];
    }
  }
  const JournalSummary summary = SummariseJournal(ScanFile(dir / "j.jsonl"));
  EXPECT_EQ(summary.slots.size(), 3u);
  EXPECT_EQ(summary.slots.count("TWIN@hidraw0") + summary.slots.count("TWIN@hidraw1"), 2u);
}

// A second programmer with a slot's number, plugged in while the station runs, splits it: the
// first keeps flashing under its node's name, the second gets its own slot, and unplugged and
// plugged in again at another node it takes its own slot back rather than a third.
TEST(StationRun, ATwinPluggedInLaterGetsItsOwnSlotAndTakesItBackWhenReplugged) {
  test::TempDir dir;
  const Bytes image = test::RandomBytes(3000, 17);
  SimBench::Options options = FastBench(2);
  options.serials = {"TWIN", "TWIN"};
  SimBench bench(options);
  bench.Unplug(1);
  SimBench* b = &bench;
  int step = 0;
  std::set<std::string> namesSeen;
  const RunResult r = RunStation(bench, StationFor(image, 8), dir / "j.jsonl", [&](Station& st) {
    const auto slots = st.Slots();
    for (const SlotView& v : slots) namesSeen.insert(v.name);
    const auto passed = [&](size_t i) { return i < slots.size() ? slots[i].counts.passed : 0; };
    if (step == 0 && passed(0) >= 1) {
      b->Plug(1);
      ++step;
    } else if (step == 1 && passed(1) >= 1) {
      b->Unplug(1);
      ++step;
    } else if (step == 2 && slots[1].state == SlotMachine::State::Gone) {
      b->Plug(1);
      ++step;
    }
  });
  ASSERT_FALSE(r.stoppedAtOnce);
  EXPECT_EQ(step, 3);
  ASSERT_EQ(r.slots.size(), 2u);
  EXPECT_EQ(r.slots[0].name, "TWIN@hidraw0");
  EXPECT_EQ(r.slots[1].name, "TWIN@hidraw3");  // its node after the replug
  EXPECT_TRUE(namesSeen.count("TWIN"));          // alone, it was named by its number
  EXPECT_TRUE(namesSeen.count("TWIN@hidraw2"));  // the twin's first node (the bench's first was hidraw1)
  std::set<uint64_t> numbers;
  for (const JournalRecord& res : r.results) {
    EXPECT_EQ(res.result, BoardResult::Pass) << res.failure;
    EXPECT_TRUE(numbers.insert(*res.serial).second) << *res.serial;
  }
  EXPECT_GE(r.slots[1].counts.passed, 2u);  // before and after the replug
  EXPECT_TRUE(ScanFile(dir / "j.jsonl").duplicateSerials.empty());
}

TEST(StationRun, StoppedAtOnceTheBoardsInFlightAreRecordedInterrupted) {
  test::TempDir dir;
  const Bytes image = test::RandomBytes(12000, 13);
  SimBench::Options options = FastBench(2);
  options.reportInterval = 1000us;
  SimBench bench(options);
  SimBench* b = &bench;
  const RunResult r = RunStation(bench, StationFor(image, std::nullopt), dir / "j.jsonl", [&](Station& st) {
    if (b->Programmer(0).PendingImageReports() > 20) st.StopNow();
  });
  EXPECT_TRUE(r.stoppedAtOnce);
  ASSERT_FALSE(r.results.empty());
  EXPECT_EQ(r.results.back().result, BoardResult::Interrupted);
  const JournalScan scan = ScanFile(dir / "j.jsonl");
  EXPECT_TRUE(scan.unfinished.empty());
}

}  // namespace
}  // namespace quillet::cli::station
