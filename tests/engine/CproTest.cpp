#include "engine/Cpro.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <future>
#include <numeric>
#include <thread>

#include "tests/support/EngineRecorder.h"

namespace quillet {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;
using test::EngineRecorder;
using test::Recorded;

std::vector<uint8_t> Payload(std::initializer_list<uint8_t> head, uint8_t fill = 0) {
  std::vector<uint8_t> p(kPayloadSize, fill);
  std::copy(head.begin(), head.end(), p.begin());
  return p;
}

class EngineTest : public ::testing::Test {
 protected:
  void Feed(const std::vector<uint8_t>& payload) { engine.HandleReport(payload.data(), payload.size()); }
  void SetTask(uint8_t op, uint32_t size) {
    engine.EditTask([&](ProgrammerTask& t) { FillTask(t, op, {}, size); });
  }
  void SetImage(const std::vector<uint8_t>& bytes) {
    engine.EditWriteImage([&](uint8_t* image, size_t) { std::copy(bytes.begin(), bytes.end(), image); });
  }
  std::vector<uint8_t> ReadImage(size_t count) {
    std::vector<uint8_t> out(count);
    engine.CopyReadImage(0, out.data(), count);
    return out;
  }

  CPro engine;
  EngineRecorder rec{engine};
};

// ---- construction and requests --------------------------------------------------------------

TEST_F(EngineTest, StartsIdleWithDefaultsAndErasedBuffers) {
  EXPECT_EQ(engine.State(), Idle);
  EXPECT_EQ(engine.Chip().ChunkSize, 64u);
  EXPECT_EQ(engine.Chip().FlashSize, 16384u);
  EXPECT_THAT(engine.Task().bytes, ::testing::Each(0));
  std::vector<uint8_t> write(kImageBufferSize), read(kImageBufferSize);
  engine.CopyWriteImage(0, write.data(), write.size());
  engine.CopyReadImage(0, read.data(), read.size());
  EXPECT_THAT(write, ::testing::Each(0xFF));
  EXPECT_THAT(read, ::testing::Each(0xFF));
}

TEST_F(EngineTest, ConnectLogsSendsTheConstantRequestAndEndsAReadStream) {
  SetTask(OP_READ, 16384);
  Feed(Payload({OP_READ}));
  ASSERT_EQ(engine.State(), ReadStream);
  rec.trail.clear();

  engine.Connect();

  EXPECT_EQ(engine.State(), Idle);
  ASSERT_EQ(rec.trail.size(), 2u);
  EXPECT_EQ(rec.trail[0].kind, Recorded::AppendLog);
  EXPECT_EQ(rec.trail[0].text, "连接编程器");
  EXPECT_THAT(rec.trail[1].bytes, ElementsAre(0x01, 0x00, 0x02, 0x02, 0x04, 0x00));
  EXPECT_EQ(ExpectedCheckWord(engine.Request()), 4);
}

TEST_F(EngineTest, SendTaskSendsTheRecordAsItStandsWithoutTouchingState) {
  engine.EditTask([](ProgrammerTask& t) { t.bytes[23] = 0x5A; t.SetSize(77); });
  engine.SendTask();
  ASSERT_EQ(rec.Sends().size(), 1u);
  const std::vector<uint8_t> sent = rec.Sends()[0];
  ASSERT_EQ(sent.size(), 24u);
  EXPECT_EQ(sent[23], 0x5A);
  EXPECT_EQ(LoadU32(&sent[8]), 77u);
  EXPECT_EQ(engine.State(), Idle);
  EXPECT_EQ(engine.Received(), 0);
}

// ---- task record ----------------------------------------------------------------------------

struct TaskCase {
  const char* name;
  bool readFirst;  // a read task was filled earlier in the run
  uint8_t op;
  TaskFlags flags;
  uint32_t size;
  std::array<uint8_t, 24> expected;
};

void PrintTo(const TaskCase& c, std::ostream* os) { *os << c.name; }

class TaskBytesTest : public ::testing::TestWithParam<TaskCase> {};

TEST_P(TaskBytesTest, FillsExactlyTheBytesOfItsOperation) {
  const TaskCase& c = GetParam();
  ProgrammerTask t;
  if (c.readFirst) FillTask(t, OP_READ, {}, 16384);
  FillTask(t, c.op, c.flags, c.size);
  EXPECT_THAT(t.bytes, ElementsAreArray(c.expected));
}

INSTANTIATE_TEST_SUITE_P(
    Tasks, TaskBytesTest,
    ::testing::Values(
        TaskCase{"ReadOf16K", false, OP_READ, {true, true, true, false}, 16384,
                 {0x05, 1, 0, 1, 0, 0, 0, 0, 0x00, 0x40, 0, 0, 0, 1, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0}},
        TaskCase{"ReadOf32KAllFlags", false, OP_READ, {true, true, true, true}, 32768,
                 {0x05, 1, 0, 1, 0, 0, 0, 0, 0x00, 0x80, 0, 0, 1, 1, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0}},
        TaskCase{"WriteBeforeAnyRead", false, OP_WRITE, {true, false, true, false}, 100,
                 {0x06, 1, 0, 0, 0, 0, 0, 0, 100, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
        TaskCase{"WriteAfterARead", true, OP_WRITE, {false, true, false, true}, 16384,
                 {0x06, 0, 0, 1, 0, 0, 0, 0, 0x00, 0x40, 0, 0, 1, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0}},
        TaskCase{"WriteOfNothing", true, OP_WRITE, {}, 0,
                 {0x06, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(EngineTest, ReadMarkerBytesStayFFInEveryTaskAfterTheFirstRead) {
  auto marker = [&] {
    engine.SendTask();
    const auto sent = rec.Sends().back();
    return std::vector<uint8_t>(sent.begin() + 18, sent.begin() + 22);
  };
  engine.EditTask([](ProgrammerTask& t) { FillTask(t, OP_WRITE, {}, 64); });
  EXPECT_THAT(marker(), ElementsAre(0, 0, 0, 0));
  engine.EditTask([](ProgrammerTask& t) { FillTask(t, OP_READ, {}, 16384); });
  EXPECT_THAT(marker(), ElementsAre(0xFF, 0xFF, 0xFF, 0xFF));
  for (int i = 0; i < 3; ++i) {
    engine.EditTask([](ProgrammerTask& t) { FillTask(t, OP_WRITE, {true, true, true, true}, 128); });
    EXPECT_THAT(marker(), ElementsAre(0xFF, 0xFF, 0xFF, 0xFF));
  }
}

// ---- chip catalogue -------------------------------------------------------------------------

struct ChipCase {
  const char* name;
  uint32_t flashSize;
  bool known;
};

void PrintTo(const ChipCase& c, std::ostream* os) { *os << '"' << c.name << '"'; }

class SelectChipTest : public ::testing::TestWithParam<ChipCase> {};

TEST_P(SelectChipTest, SetsTheFlashSizeOrFallsBackToTheDefault) {
  CPro engine;
  EngineRecorder rec(engine);
  engine.SelectChip("NRF24LU1_32K");  // a bigger chip first: an unknown name must undo it
  engine.SelectChip(GetParam().name);
  EXPECT_EQ(engine.Chip().FlashSize, GetParam().flashSize);
  EXPECT_EQ(engine.Chip().ChunkSize, 64u);
  if (GetParam().known)
    EXPECT_THAT(rec.Texts(), IsEmpty());
  else
    EXPECT_THAT(rec.Texts(), ElementsAre("未知芯片类型！"));
}

INSTANTIATE_TEST_SUITE_P(Catalogue, SelectChipTest,
                         ::testing::Values(ChipCase{"NRF24LE1_16K", 16384, true},
                                           ChipCase{"NRF24LU1_16K", 16384, true},
                                           ChipCase{"NRF24LU1_32K", 32768, true},
                                           ChipCase{"nrf24lu1_32k", 16384, false},
                                           ChipCase{"NRF24LU1_32K ", 16384, false},
                                           ChipCase{"Select Device", 16384, false},
                                           ChipCase{"", 16384, false}));

// ---- checksum -------------------------------------------------------------------------------

TEST(XorChecksumTest, SeedsWith1AAndXorsEveryByte) {
  const uint8_t abc[] = {'a', 'b', 'c'};
  EXPECT_EQ(XorChecksum(abc, 0), 0x1A);
  EXPECT_EQ(XorChecksum(abc, 3), 0x7A);
  std::vector<uint8_t> erased(16384, 0xFF);  // an even count of FF cancels out
  EXPECT_EQ(XorChecksum(erased.data(), erased.size()), 0x1A);
  EXPECT_EQ(XorChecksum(erased.data(), erased.size() - 1), 0x1A ^ 0xFF);
}

// ---- replies while idle ---------------------------------------------------------------------

struct ReplyCase {
  const char* name;
  uint8_t first;
  const char* log;  // the one EVT_LOG expected, or nullptr for none
};

void PrintTo(const ReplyCase& c, std::ostream* os) { *os << c.name; }

class IdleReplyTest : public EngineTest, public ::testing::WithParamInterface<ReplyCase> {};

TEST_P(IdleReplyTest, FailureAndUnknownRepliesOnlyLogAndStayIdle) {
  SetTask(OP_READ, 16384);
  rec.trail.clear();
  Feed(Payload({GetParam().first, 0x07, 0x05}));
  EXPECT_EQ(engine.State(), Idle);
  EXPECT_THAT(rec.Sends(), IsEmpty());
  ASSERT_EQ(rec.trail.size(), 1u);
  EXPECT_EQ(rec.trail[0].code, EVT_LOG);
  EXPECT_EQ(rec.trail[0].text, GetParam().log);
}

INSTANTIATE_TEST_SUITE_P(Replies, IdleReplyTest,
                         ::testing::Values(ReplyCase{"FailedRead", 0x85, "操作失败:85  80"},
                                           ReplyCase{"FailedConnect", 0x81, "操作失败:81  80"},
                                           ReplyCase{"FailureFlagAlone", 0x80, "操作失败:80  80"},
                                           ReplyCase{"AllBits", 0xFF, "操作失败:FF  80"},
                                           ReplyCase{"Zero", 0x00, "未知操作"},
                                           ReplyCase{"Two", 0x02, "未知操作"},
                                           ReplyCase{"JustBelowFailure", 0x7F, "未知操作"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(EngineTest, IdentityReplyIsPassedOnWhole) {
  auto p = Payload({OP_CONNECT, 1, 3, 12, 0x04, 0x00});
  p[63] = 0x99;
  Feed(p);
  ASSERT_EQ(rec.trail.size(), 1u);
  EXPECT_EQ(rec.trail[0].code, EVT_IDENTITY);
  EXPECT_EQ(rec.trail[0].bytes, p);
}

// ---- read stream ----------------------------------------------------------------------------

struct ReadCase {
  const char* chip;
  uint32_t size;
};

void PrintTo(const ReadCase& c, std::ostream* os) { *os << c.chip; }

class ReadStreamTest : public EngineTest, public ::testing::WithParamInterface<ReadCase> {};

TEST_P(ReadStreamTest, StoresEveryPayloadAndEndsExactlyAtTheSize) {
  const uint32_t size = GetParam().size;
  engine.SelectChip(GetParam().chip);
  SetTask(OP_READ, engine.Chip().FlashSize);
  Feed(Payload({OP_READ}));
  EXPECT_EQ(rec.Texts().back(), "开始读FLASH..." + std::to_string(size));
  ASSERT_EQ(engine.State(), ReadStream);

  std::vector<uint8_t> flash(size);
  for (size_t i = 0; i < size; ++i) flash[i] = static_cast<uint8_t>(i * 7 + i / 251);
  for (uint32_t off = 0; off < size; off += 64) {
    EXPECT_EQ(engine.State(), ReadStream) << off;
    Feed(std::vector<uint8_t>(flash.begin() + off, flash.begin() + off + 64));
  }
  EXPECT_EQ(engine.State(), Idle);
  EXPECT_EQ(engine.Received(), static_cast<int32_t>(size));
  EXPECT_EQ(ReadImage(size), flash);

  const auto progress = rec.Of(Recorded::Event, EVT_READ_PROGRESS);
  ASSERT_EQ(progress.size(), size / 64);
  for (size_t k = 0; k < progress.size(); ++k) EXPECT_EQ(progress[k].value, 64 * int32_t(k + 1));
  EXPECT_EQ(rec.Texts().size(), 1u);  // payload bytes are never read as replies
}

INSTANTIATE_TEST_SUITE_P(Chips, ReadStreamTest,
                         ::testing::Values(ReadCase{"NRF24LE1_16K", 16384}, ReadCase{"NRF24LU1_32K", 32768}));

TEST_F(EngineTest, PayloadsThatLookLikeRepliesAreDataDuringAReadStream) {
  SetTask(OP_READ, 5 * 64);
  Feed(Payload({OP_READ}));
  rec.trail.clear();
  const uint8_t lookalikes[] = {0x81, OP_READ, OP_WRITE, OP_VERIFY, OP_CONNECT};
  for (uint8_t b : lookalikes) Feed(Payload({b, 0x00}, b));
  EXPECT_EQ(engine.State(), Idle);
  EXPECT_THAT(rec.Sends(), IsEmpty());
  EXPECT_THAT(rec.Texts(), IsEmpty());
  EXPECT_EQ(rec.trail.size(), 5u);
  const auto image = ReadImage(5 * 64);
  for (size_t k = 0; k < 5; ++k) EXPECT_EQ(image[k * 64], lookalikes[k]) << k;
  EXPECT_EQ(image[64 * 3], OP_VERIFY);
  EXPECT_EQ(image[64 * 3 + 63], OP_VERIFY);

  // Once the stream is complete the same bytes are replies again.
  Feed(Payload({0x81}));
  EXPECT_THAT(rec.Texts(), ElementsAre("操作失败:81  80"));
}

TEST_F(EngineTest, AStalledReadStaysInTheStreamUntilReset) {
  SetTask(OP_READ, 16384);
  Feed(Payload({OP_READ}));
  for (int k = 0; k < 16; ++k) Feed(Payload({}, 0x11));
  EXPECT_EQ(engine.State(), ReadStream);
  EXPECT_EQ(engine.Received(), 1024);

  engine.SetState(Idle);  // the watchdog's reset
  rec.trail.clear();
  Feed(Payload({}, 0x11));  // a late data report is now parsed as a reply
  EXPECT_THAT(rec.Texts(), ElementsAre("未知操作"));
  EXPECT_EQ(engine.Received(), 1024);
}

// ---- write stream ---------------------------------------------------------------------------

struct WriteCase {
  const char* name;
  uint32_t size;
  size_t reports;
};

void PrintTo(const WriteCase& c, std::ostream* os) { *os << c.name; }

class WriteStreamTest : public EngineTest, public ::testing::WithParamInterface<WriteCase> {};

TEST_P(WriteStreamTest, SendsWholeChunksFromTheImageBackToBack) {
  const WriteCase& c = GetParam();
  std::vector<uint8_t> image(16384 + 64);
  std::iota(image.begin(), image.end(), 0);
  SetImage(image);
  SetTask(OP_WRITE, c.size);

  Feed(Payload({OP_WRITE}));

  EXPECT_EQ(engine.State(), Idle);
  EXPECT_EQ(engine.Received(), 0);
  ASSERT_FALSE(rec.trail.empty());
  EXPECT_EQ(rec.trail[0].kind, Recorded::AppendLog);
  EXPECT_EQ(rec.trail[0].text, "开始写FLASH");
  const auto sends = rec.Sends();
  const auto progress = rec.Of(Recorded::Event, EVT_WRITE_PROGRESS);
  ASSERT_EQ(sends.size(), c.reports);
  ASSERT_EQ(progress.size(), c.reports);
  for (size_t k = 0; k < c.reports; ++k) {
    EXPECT_EQ(sends[k], std::vector<uint8_t>(image.begin() + 64 * k, image.begin() + 64 * (k + 1))) << k;
    EXPECT_EQ(progress[k].value, int32_t(64 * (k + 1)));
  }
  // Each report is followed by its progress event, before the next report goes out.
  for (size_t i = 1; i < rec.trail.size(); ++i)
    EXPECT_EQ(rec.trail[i].kind, i % 2 ? Recorded::Send : Recorded::Event) << i;
}

INSTANTIATE_TEST_SUITE_P(Sizes, WriteStreamTest,
                         ::testing::Values(WriteCase{"Empty", 0, 0}, WriteCase{"OneByte", 1, 1},
                                           WriteCase{"Hundred", 100, 2}, WriteCase{"OneChunk", 64, 1},
                                           WriteCase{"ChunkAndOne", 65, 2},
                                           WriteCase{"WholeChip", 16384, 256},
                                           WriteCase{"NegativeWhenSigned", 0x80000000u, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(EngineTest, TheLastChunkCarriesWhatTheBufferHoldsPastTheImage) {
  SetImage(std::vector<uint8_t>(100, 0x00));
  SetTask(OP_WRITE, 100);
  Feed(Payload({OP_WRITE}));
  const auto sends = rec.Sends();
  ASSERT_EQ(sends.size(), 2u);
  EXPECT_THAT(std::vector<uint8_t>(sends[1].begin(), sends[1].begin() + 36), ::testing::Each(0x00));
  EXPECT_THAT(std::vector<uint8_t>(sends[1].begin() + 36, sends[1].end()), ::testing::Each(0xFF));
}

struct RefusedCase {
  const char* name;
  int refusedReport;  // 0-based report the device does not take
  const char* line;
};
void PrintTo(const RefusedCase& c, std::ostream* os) { *os << c.name; }

class RefusedReportTest : public ::testing::TestWithParam<RefusedCase> {};

TEST_P(RefusedReportTest, StopsTheStreamAndNeverReportsItComplete) {
  const RefusedCase& c = GetParam();
  CPro engine;
  int attempts = 0;
  std::vector<int32_t> progress;
  std::vector<std::string> lines;
  test::EngineRecorder rec{engine};
  engine.SetSendReport([&](const uint8_t*, size_t) { return attempts++ != c.refusedReport; });
  engine.SetEngineEvent([&](const EngineEvent& e) {
    rec.Record(e);
    const auto& last = rec.trail.back();
    if (last.kind == test::Recorded::Event && last.code == EVT_WRITE_PROGRESS) progress.push_back(last.value);
    if (last.kind == test::Recorded::Event && last.code == EVT_LOG) lines.push_back(last.text);
  });
  engine.EditTask([](ProgrammerTask& t) { FillTask(t, OP_WRITE, {}, 16384); });
  const uint8_t ready[64] = {OP_WRITE};
  engine.HandleReport(ready, 64);

  EXPECT_EQ(attempts, c.refusedReport + 1);  // nothing is sent after the refused report
  ASSERT_EQ(progress.size(), size_t(c.refusedReport));
  if (!progress.empty()) {
    EXPECT_EQ(progress.back(), 64 * c.refusedReport);
  }
  EXPECT_THAT(lines, ElementsAre(c.line));
  EXPECT_EQ(engine.State(), Idle);
}

INSTANTIATE_TEST_SUITE_P(
    Reports, RefusedReportTest,
    ::testing::Values(RefusedCase{"First", 0, "写FLASH失败：第1个数据包（共256个）未被编程器接收"},
                      RefusedCase{"Middle", 99, "写FLASH失败：第100个数据包（共256个）未被编程器接收"},
                      RefusedCase{"Last", 255, "写FLASH失败：第256个数据包（共256个）未被编程器接收"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(EngineSendResultTest, ConnectAndSendTaskReturnWhetherTheReportWentOut) {
  CPro engine;
  EXPECT_FALSE(engine.Connect());  // no hook: nothing can go out
  bool takes = false;
  engine.SetSendReport([&](const uint8_t*, size_t) { return takes; });
  EXPECT_FALSE(engine.Connect());
  EXPECT_FALSE(engine.SendTask());
  takes = true;
  EXPECT_TRUE(engine.Connect());
  EXPECT_TRUE(engine.SendTask());
}

// ---- verify ---------------------------------------------------------------------------------

TEST_F(EngineTest, VerifyAgreeingEmitsOnlyTheFlag) {
  SetImage({'a', 'b', 'c'});
  SetTask(OP_WRITE, 3);
  Feed(Payload({OP_VERIFY, 0x7A}));
  ASSERT_EQ(rec.trail.size(), 1u);
  EXPECT_EQ(rec.trail[0].code, EVT_VERIFY);
  EXPECT_EQ(rec.trail[0].value, 1);
}

TEST_F(EngineTest, VerifyDifferingEmitsTheFlagThenBothChecksums) {
  SetImage({'a', 'b', 'c'});
  SetTask(OP_WRITE, 3);
  Feed(Payload({OP_VERIFY, 0x00}));
  ASSERT_EQ(rec.trail.size(), 2u);
  EXPECT_EQ(rec.trail[0].code, EVT_VERIFY);
  EXPECT_EQ(rec.trail[0].value, 0);
  EXPECT_EQ(rec.trail[1].text, "本地校验：122 设备端校验：0");
}

TEST_F(EngineTest, VerifyAfterAReadChecksTheFlashSizeOfTheWriteImage) {
  SetImage({'a', 'b', 'c'});  // the rest of the 16 KiB is FF: an odd count of FF from byte 3 on
  SetTask(OP_READ, 16384);
  const uint8_t expected = 0x7A ^ 0xFF;
  Feed(Payload({OP_VERIFY, expected}));
  EXPECT_EQ(rec.Of(Recorded::Event, EVT_VERIFY).at(0).value, 1);
}

// ---- malformed input ------------------------------------------------------------------------

TEST_F(EngineTest, ShortPayloadsCountMissingBytesAsZero) {
  SetTask(OP_WRITE, 0);
  const uint8_t verifyOnly[] = {OP_VERIFY};
  engine.HandleReport(verifyOnly, 1);  // byte 1 reads as 0, against 0x1A over nothing
  EXPECT_EQ(rec.Of(Recorded::Event, EVT_VERIFY).at(0).value, 0);
  EXPECT_EQ(rec.Texts().back(), "本地校验：26 设备端校验：0");

  rec.trail.clear();
  engine.HandleReport(nullptr, 0);
  engine.HandleReport(verifyOnly, 0);
  EXPECT_THAT(rec.Texts(), ElementsAre("未知操作", "未知操作"));

  SetTask(OP_READ, 64);
  Feed(Payload({OP_READ}));
  const uint8_t part[] = {1, 2, 3};
  engine.HandleReport(part, sizeof part);
  auto image = ReadImage(64);
  EXPECT_THAT(std::vector<uint8_t>(image.begin(), image.begin() + 4), ElementsAre(1, 2, 3, 0));
  EXPECT_EQ(image[63], 0);
}

TEST_F(EngineTest, ATaskLargerThanTheBufferNeverRunsPastIt) {
  SetTask(OP_READ, 0xFFFFFFFFu);
  Feed(Payload({OP_READ}));
  size_t fed = 0;
  while (engine.State() == ReadStream && fed < kImageBufferSize / 64 + 10) {
    Feed(Payload({}, 0x22));
    ++fed;
  }
  EXPECT_EQ(fed, kImageBufferSize / 64);
  EXPECT_EQ(engine.State(), Idle);

  rec.trail.clear();
  SetTask(OP_WRITE, 0x7FFFFFFFu);
  Feed(Payload({OP_WRITE}));
  EXPECT_EQ(rec.Sends().size(), kImageBufferSize / 64);

  rec.trail.clear();
  Feed(Payload({OP_VERIFY, 0x1A}));  // whole erased buffer: FF cancels out
  EXPECT_EQ(rec.Of(Recorded::Event, EVT_VERIFY).at(0).value, 1);
}

TEST(EngineWithoutHooksTest, EveryOperationIsSafe) {
  CPro engine;
  engine.Connect();
  engine.SelectChip("nope");
  engine.EditTask([](ProgrammerTask& t) { FillTask(t, OP_WRITE, {}, 256); });
  engine.SendTask();
  const uint8_t replies[][2] = {{OP_WRITE, 0}, {OP_VERIFY, 0}, {0x85, 0}, {OP_CONNECT, 0}, {OP_READ, 0}};
  for (const auto& r : replies) engine.HandleReport(r, 2);
  EXPECT_EQ(engine.State(), ReadStream);
}

// ---- threads --------------------------------------------------------------------------------

TEST(EngineThreadsTest, HooksMayReadTheEngineWhileItHoldsItsLock) {
  CPro engine;
  std::vector<uint32_t> sizesSeen;
  engine.SetEngineEvent([&](const EngineEvent& e) {
    if (std::holds_alternative<ReadProgressEvent>(e)) sizesSeen.push_back(engine.Task().Size());
  });
  engine.EditTask([](ProgrammerTask& t) { FillTask(t, OP_READ, {}, 128); });
  const uint8_t start[64] = {OP_READ};
  const uint8_t data[64] = {};
  engine.HandleReport(start, 64);
  engine.HandleReport(data, 64);
  engine.HandleReport(data, 64);
  EXPECT_THAT(sizesSeen, ElementsAre(128u, 128u));
}

// A device slow to take a report must not hold the UI thread: while the reader is inside a send,
// every UI-thread operation goes through, sends included.
TEST(EngineThreadsTest, UiCallsDoNotWaitForAReportTheDeviceIsSlowToTake) {
  CPro engine;
  std::promise<void> insideSend;
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  std::atomic<int> sends{0};
  engine.SetSendReport([&](const uint8_t* bytes, size_t) {
    if (sends++ == 1 && bytes[0] != OP_CONNECT) {  // the second image report hangs
      insideSend.set_value();
      released.wait();
    }
    return true;
  });
  engine.EditTask([](ProgrammerTask& t) { FillTask(t, OP_WRITE, {}, 4096); });
  std::thread reader([&] {
    const uint8_t ready[64] = {OP_WRITE};
    engine.HandleReport(ready, 64);
  });
  insideSend.get_future().wait();

  auto ui = std::async(std::launch::async, [&] {
    (void)engine.Received();
    engine.EditTask([](ProgrammerTask& t) { FillTask(t, OP_READ, {}, 16384); });
    engine.SetState(Idle);
    return engine.Connect();
  });
  const bool uiDone = ui.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
  release.set_value();
  reader.join();
  ASSERT_TRUE(uiDone) << "a UI-thread call waited for the image stream";
  EXPECT_TRUE(ui.get());
  // The stream keeps the size it started with: 64 reports and the connect request.
  EXPECT_EQ(sends.load(), 65);
}

TEST(EngineThreadsTest, ReaderAndUiThreadsUseTheEngineAtOnce) {
  CPro engine;
  std::atomic<int> sent{0};
  std::atomic<int> progress{0};
  engine.SetSendReport([&](const uint8_t*, size_t) { sent.fetch_add(1, std::memory_order_relaxed); });
  engine.SetEngineEvent([&](const EngineEvent& e) {
    if (std::holds_alternative<ReadProgressEvent>(e)) progress.fetch_add(1, std::memory_order_relaxed);
  });
  engine.EditTask([](ProgrammerTask& t) { FillTask(t, OP_READ, {}, 16384); });

  std::atomic<bool> stop{false};
  std::thread reader([&] {
    const uint8_t start[64] = {OP_READ};
    uint8_t data[64];
    std::memset(data, 0x33, sizeof data);
    for (int round = 0; round < 50; ++round) {
      engine.HandleReport(start, 64);
      for (int k = 0; k < 256; ++k) engine.HandleReport(data, 64);
    }
    stop = true;
  });
  int uiCalls = 0;
  while (!stop) {
    // What the UI thread does meanwhile: watchdog reads and resets, new tasks, detect clicks.
    (void)engine.Received();
    engine.EditTask([](ProgrammerTask& t) { FillTask(t, OP_READ, {}, 16384); });
    if (++uiCalls % 7 == 0) engine.Connect();
    if (uiCalls % 5 == 0) engine.SetState(Idle);
    std::vector<uint8_t> copy(64);
    engine.CopyReadImage(1024, copy.data(), copy.size());
  }
  reader.join();
  EXPECT_GT(progress.load(), 0);
  EXPECT_EQ(sent.load(), uiCalls / 7);  // only Connect sends: 0x33 parsed as a reply sends nothing
}

}  // namespace
}  // namespace quillet
