// Whole exchanges between the engine and the simulated programmer, with the console's part
// (filling the task record, framing reports, delivering replies) played by the fixture.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>

#include "engine/Cpro.h"
#include "sim/SimProgrammer.h"
#include "tests/support/EngineRecorder.h"
#include "tests/support/Values.h"

namespace quillet {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using sim::SimProgrammer;
using sim::SimProgrammerConfig;
using sim::SimProgrammerFaults;
using test::EngineRecorder;
using test::RandomBytes;
using test::Recorded;

class Exchange {
 public:
  explicit Exchange(SimProgrammerConfig config = {}) : sim(config) {
    rec.forward = [this](const uint8_t* b, size_t n) {
      const auto report = FrameOutputReport(b, n);
      sim.HandleOutputReport(report.data(), report.size());
    };
    sim.SetInputSink([this](const uint8_t* report, size_t length) {
      engine.HandleReport(report + 1, length - 1);
    });
  }

  void Read(const char* chip) {
    engine.SelectChip(chip);
    const uint32_t size = engine.Chip().FlashSize;
    engine.EditTask([&](ProgrammerTask& t) { FillTask(t, OP_READ, {true, true, true, false}, size); });
    engine.SendTask();
    sim.DeliverAll();
  }

  void Write(const std::vector<uint8_t>& image, TaskFlags flags) {
    engine.EditWriteImage([&](uint8_t* buffer, size_t) { std::copy(image.begin(), image.end(), buffer); });
    engine.EditTask([&](ProgrammerTask& t) { FillTask(t, OP_WRITE, flags, uint32_t(image.size())); });
    engine.SendTask();
    sim.DeliverAll();
  }

  std::vector<uint8_t> ReadImage(size_t n) const {
    std::vector<uint8_t> out(n);
    engine.CopyReadImage(0, out.data(), n);
    return out;
  }
  std::vector<int32_t> Verdicts() const {
    std::vector<int32_t> out;
    for (const auto& r : rec.Of(Recorded::Event, EVT_VERIFY)) out.push_back(r.value);
    return out;
  }

  CPro engine;
  EngineRecorder rec{engine};
  SimProgrammer sim;
};

const TaskFlags kVerifyErase{true, true, true, false};

TEST(ExchangeTest, ConnectAnswersWithIdentityAndTheRightCheckWord) {
  Exchange x({16384, true, 7, 42, {}});
  x.engine.Connect();
  EXPECT_EQ(x.sim.PendingInputReports(), 1u);  // queued, not delivered inside the send
  EXPECT_THAT(x.rec.Of(Recorded::Event), IsEmpty());
  x.sim.DeliverAll();

  const auto identity = x.rec.Of(Recorded::Event, EVT_IDENTITY);
  ASSERT_EQ(identity.size(), 1u);
  const auto& p = identity[0].bytes;
  EXPECT_THAT(std::vector<uint8_t>(p.begin(), p.begin() + 4), ElementsAre(OP_CONNECT, 1, 7, 42));
  EXPECT_EQ(LoadU16(&p[4]), ExpectedCheckWord(x.engine.Request()));
}

TEST(ExchangeTest, ConnectFaultsShowInTheIdentityReply) {
  Exchange x({16384, false, 3, 12, {.wrongCheckWord = true}});
  x.engine.Connect();
  x.sim.DeliverAll();
  const auto p = x.rec.Of(Recorded::Event, EVT_IDENTITY).at(0).bytes;
  EXPECT_EQ(p[1], 0);  // no chip on the connector
  EXPECT_EQ(LoadU16(&p[4]), 5);
}

struct ChipCase {
  const char* chip;
  uint32_t flashSize;
};
void PrintTo(const ChipCase& c, std::ostream* os) { *os << c.chip; }

class ReadExchangeTest : public ::testing::TestWithParam<ChipCase> {};

TEST_P(ReadExchangeTest, ReadsTheWholeFlashIntoReadImage) {
  Exchange x({GetParam().flashSize, true, 3, 12, {}});
  const auto flash = RandomBytes(GetParam().flashSize, 1);
  x.sim.SetFlash(flash);
  x.Read(GetParam().chip);
  EXPECT_EQ(x.engine.State(), Idle);
  EXPECT_EQ(x.engine.Received(), int32_t(GetParam().flashSize));
  EXPECT_EQ(x.ReadImage(flash.size()), flash);
  EXPECT_EQ(x.rec.Of(Recorded::Event, EVT_READ_PROGRESS).size(), GetParam().flashSize / 64);
  EXPECT_THAT(x.rec.Texts(), ElementsAre("开始读FLASH..." + std::to_string(GetParam().flashSize)));
}

INSTANTIATE_TEST_SUITE_P(Chips, ReadExchangeTest,
                         ::testing::Values(ChipCase{"NRF24LE1_16K", 16384}, ChipCase{"NRF24LU1_32K", 32768}));

TEST(ExchangeTest, WriteWithVerifyProgramsTheChipAndAgrees) {
  Exchange x;
  x.sim.SetFlash(RandomBytes(16384, 2));  // old content, erased by the task
  const auto image = RandomBytes(16384, 3);
  x.Write(image, kVerifyErase);
  EXPECT_EQ(x.sim.Flash(), image);
  EXPECT_THAT(x.Verdicts(), ElementsAre(1));
  EXPECT_THAT(x.rec.Texts(), ElementsAre("开始写FLASH"));
  EXPECT_EQ(x.rec.Of(Recorded::Event, EVT_WRITE_PROGRESS).back().value, 16384);
}

TEST(ExchangeTest, AShortImageProgramsOnlyItsLength) {
  Exchange x;
  auto image = RandomBytes(100, 4);
  x.Write(image, kVerifyErase);
  auto flash = x.sim.Flash();
  EXPECT_EQ(std::vector<uint8_t>(flash.begin(), flash.begin() + 100), image);
  EXPECT_THAT(std::vector<uint8_t>(flash.begin() + 100, flash.end()), ::testing::Each(0xFF));
  EXPECT_THAT(x.Verdicts(), ElementsAre(1));
}

TEST(ExchangeTest, WriteWithoutEraseOnlyClearsBitsAndVerifyCatchesIt) {
  Exchange x;
  x.sim.SetFlash({0x0F, 0xFF, 0xFF});
  const std::vector<uint8_t> image{0xF0, 0x12, 0x34};
  x.Write(image, {.verify = true, .erase = false});

  const std::vector<uint8_t> held{0x00, 0x12, 0x34};  // 0x0F programmed with 0xF0
  const auto flash = x.sim.Flash();
  EXPECT_EQ(std::vector<uint8_t>(flash.begin(), flash.begin() + 3), held);
  EXPECT_THAT(x.Verdicts(), ElementsAre(0));
  EXPECT_EQ(x.rec.Texts().back(), "本地校验：" + std::to_string(XorChecksum(image.data(), 3)) +
                                      " 设备端校验：" + std::to_string(XorChecksum(held.data(), 3)));
}

TEST(ExchangeTest, VerifyFailureLogsBothChecksums) {
  Exchange x({16384, true, 3, 12, {.corruptChecksum = true}});
  const auto image = RandomBytes(1000, 5);
  x.Write(image, kVerifyErase);
  const int local = XorChecksum(image.data(), image.size());
  const int device = local ^ 0x5A;
  EXPECT_THAT(x.Verdicts(), ElementsAre(0));
  EXPECT_EQ(x.rec.Texts().back(),
            "本地校验：" + std::to_string(local) + " 设备端校验：" + std::to_string(device));
}

TEST(ExchangeTest, WriteWithoutVerifyGetsNoVerifyReply) {
  Exchange x;
  x.Write(RandomBytes(256, 6), {.erase = true});
  EXPECT_THAT(x.Verdicts(), IsEmpty());
  EXPECT_EQ(x.sim.PendingInputReports(), 0u);
}

TEST(ExchangeTest, AStalledReadStaysInTheStreamUntilResetOrConnect) {
  Exchange x({16384, true, 3, 12, {.stallAfterDataReports = 16}});
  x.Read("NRF24LE1_16K");
  EXPECT_EQ(x.engine.State(), ReadStream);
  EXPECT_EQ(x.engine.Received(), 1024);

  x.engine.SetState(Idle);  // the watchdog expired
  x.sim.SetFaults({});
  x.Read("NRF24LE1_16K");
  EXPECT_EQ(x.engine.State(), Idle);
  EXPECT_EQ(x.engine.Received(), 16384);
}

TEST(ExchangeTest, ADroppedReportLeavesTheStreamOneShort) {
  Exchange x({16384, true, 3, 12, {.dropDataReport = 10}});
  const auto flash = RandomBytes(16384, 7);
  x.sim.SetFlash(flash);
  x.Read("NRF24LE1_16K");
  EXPECT_EQ(x.engine.State(), ReadStream);
  EXPECT_EQ(x.engine.Received(), 16384 - 64);
  const auto image = x.ReadImage(64 * 11);
  // Report 11 landed where report 10 belonged: the hole shows as shifted data.
  EXPECT_EQ(std::vector<uint8_t>(image.begin() + 640, image.begin() + 704),
            std::vector<uint8_t>(flash.begin() + 704, flash.begin() + 768));
  x.engine.Connect();
  EXPECT_EQ(x.engine.State(), Idle);
}

struct FailureCase {
  const char* name;
  SimProgrammerFaults faults;
  bool chipConnected;
  const char* log;
};
void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }

class FailureExchangeTest : public ::testing::TestWithParam<FailureCase> {};

TEST_P(FailureExchangeTest, AFailureReplyIsLoggedAndLeavesTheEngineIdle) {
  const FailureCase& c = GetParam();
  Exchange x({16384, c.chipConnected, 3, 12, c.faults});
  x.engine.Connect();
  x.sim.DeliverAll();
  x.Read("NRF24LE1_16K");
  x.Write(RandomBytes(128, 8), kVerifyErase);
  EXPECT_EQ(x.engine.State(), Idle);
  const auto texts = x.rec.Texts();
  EXPECT_EQ(std::count(texts.begin(), texts.end(), std::string(c.log)), 1) << ::testing::PrintToString(texts);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, FailureExchangeTest,
    ::testing::Values(FailureCase{"Connect", {.connectReply = 0x81}, true, "操作失败:81  80"},
                      FailureCase{"Read", {.readReply = 0x85}, true, "操作失败:85  80"},
                      FailureCase{"Write", {.writeReply = 0x86}, true, "操作失败:86  80"},
                      FailureCase{"Verify", {.verifyReply = 0x87}, true, "操作失败:87  80"},
                      FailureCase{"NoChipRead", {}, false, "操作失败:85  80"},
                      FailureCase{"NoChipWrite", {}, false, "操作失败:86  80"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SimProgrammerTest, IgnoresShortAndUnknownReportsSafely) {
  SimProgrammer sim;
  const uint8_t unknown[] = {0, 0x42};
  sim.HandleOutputReport(unknown, sizeof unknown);
  sim.HandleOutputReport(nullptr, 0);
  const uint8_t connect[] = {0, OP_CONNECT};  // the rest reads as zero: check word 0
  sim.HandleOutputReport(connect, sizeof connect);
  SimProgrammer::Report r;
  ASSERT_TRUE(sim.TakeInputReport(r));
  EXPECT_EQ(r[0], 0);
  EXPECT_EQ(r[1], OP_CONNECT);
  EXPECT_EQ(LoadU16(&r[5]), 0);
  EXPECT_FALSE(sim.TakeInputReport(r));
}

// Drives the model directly, as the host's reports reach it, with a clock the test moves.
class SimProgrammerDirect : public ::testing::Test {
 protected:
  SimProgrammerConfig Config(SimProgrammerFaults faults = {}) {
    SimProgrammerConfig c;
    c.faults = std::move(faults);
    c.clock = [this] { return now; };
    return c;
  }
  static void Send(SimProgrammer& sim, const uint8_t* payload, size_t length) {
    const auto report = FrameOutputReport(payload, length);
    sim.HandleOutputReport(report.data(), report.size());
  }
  static void SendTask(SimProgrammer& sim, uint8_t op, TaskFlags flags, uint32_t size) {
    ProgrammerTask t;
    FillTask(t, op, flags, size);
    Send(sim, t.bytes.data(), t.bytes.size());
  }
  static std::vector<SimProgrammer::Report> Replies(SimProgrammer& sim) {
    std::vector<SimProgrammer::Report> out;
    SimProgrammer::Report r;
    while (sim.TakeInputReport(r)) out.push_back(r);
    return out;
  }
  std::chrono::steady_clock::time_point now{};
};

struct CutStreamCase {
  const char* name;
  std::chrono::milliseconds pause;
  bool connectAnswered;  // else the request is taken as image data
};
void PrintTo(const CutStreamCase& c, std::ostream* os) { *os << c.name; }

class SimProgrammerCutWrite : public SimProgrammerDirect, public ::testing::WithParamInterface<CutStreamCase> {};

// A write stream that stops ends the write once the programmer's watchdog runs out; what follows
// is a request again.
TEST_P(SimProgrammerCutWrite, ARequestAfterTheWatchdogIsAnswered) {
  SimProgrammer sim(Config());
  SendTask(sim, OP_WRITE, kVerifyErase, 256);  // four image reports expected
  const uint8_t image[64] = {};
  Send(sim, image, sizeof image);
  Send(sim, image, sizeof image);
  Replies(sim);
  now += GetParam().pause;
  Send(sim, ConnectRequest::kBytes.data(), ConnectRequest::kBytes.size());
  const auto replies = Replies(sim);
  if (GetParam().connectAnswered) {
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0][1], OP_CONNECT);
    EXPECT_EQ(sim.PendingImageReports(), 0u);
  } else {
    EXPECT_TRUE(replies.empty());
    EXPECT_EQ(sim.PendingImageReports(), 1u);
  }
}

INSTANTIATE_TEST_SUITE_P(Pauses, SimProgrammerCutWrite,
                         ::testing::Values(CutStreamCase{"WithinTheWatchdog", std::chrono::milliseconds(2000), false},
                                           CutStreamCase{"BeyondTheWatchdog", std::chrono::milliseconds(2001), true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(SimProgrammerDirect, AWriteNeverStreamedEndsAtTheWatchdogToo) {
  SimProgrammer sim(Config());
  SendTask(sim, OP_WRITE, kVerifyErase, 128);
  Replies(sim);
  now += std::chrono::milliseconds(2001);
  SendTask(sim, OP_READ, {}, 64);
  const auto replies = Replies(sim);
  ASSERT_FALSE(replies.empty());
  EXPECT_EQ(replies[0][1], OP_READ);
}

struct ReadSizeCase {
  uint32_t size;
  size_t dataReports;
};
void PrintTo(const ReadSizeCase& c, std::ostream* os) { *os << c.size; }

class SimProgrammerReadSize : public SimProgrammerDirect, public ::testing::WithParamInterface<ReadSizeCase> {};

// As many reports as the engine waits for: ceil(Size / 64), the last one full.
TEST_P(SimProgrammerReadSize, SendsEveryStartedReport) {
  SimProgrammer sim(Config());
  SendTask(sim, OP_READ, {}, GetParam().size);
  const auto replies = Replies(sim);
  ASSERT_FALSE(replies.empty());
  EXPECT_EQ(replies[0][1], OP_READ);
  EXPECT_EQ(replies.size() - 1, GetParam().dataReports);
}

INSTANTIATE_TEST_SUITE_P(Sizes, SimProgrammerReadSize,
                         ::testing::Values(ReadSizeCase{0, 0}, ReadSizeCase{1, 1}, ReadSizeCase{64, 1},
                                           ReadSizeCase{100, 2}, ReadSizeCase{16383, 256},
                                           ReadSizeCase{16384, 256}));

TEST(ExchangeTest, StuckCellsShowInTheReadBackAndFailTheVerify) {
  // Bit 0 of 0x10 cannot be cleared, bit 7 of 0x20 cannot be set.
  Exchange x({16384, true, 3, 12, {.stuckCells = {{0x10, 0x00, 0x01}, {0x20, 0x80, 0x00}}}});
  std::vector<uint8_t> image(64, 0x00);
  image[0x20] = 0xFF;
  x.Write(image, kVerifyErase);
  std::vector<uint8_t> held = image;
  held[0x10] = 0x01;
  held[0x20] = 0x7F;
  const auto flash = x.sim.Flash();
  EXPECT_EQ(std::vector<uint8_t>(flash.begin(), flash.begin() + 64), held);
  EXPECT_THAT(x.Verdicts(), ElementsAre(0));
  x.Read("NRF24LE1_16K");
  EXPECT_EQ(x.ReadImage(64), held);
}

TEST(ExchangeTest, StuckCellsHoldThroughEraseAndSetFlash) {
  Exchange x({16384, true, 3, 12, {.stuckCells = {{0, 0xF0, 0x00}, {1, 0x00, 0x0F}}}});
  x.sim.SetFlash({0xFF, 0x00});
  EXPECT_EQ(x.sim.Flash()[0], 0x0F);
  EXPECT_EQ(x.sim.Flash()[1], 0x0F);
  x.Write({0xAA}, kVerifyErase);  // the erase cannot set the stuck-at-0 bits either
  EXPECT_EQ(x.sim.Flash()[0], 0x0A);
  EXPECT_EQ(x.sim.Flash()[1], 0xFF);
}

TEST(SimProgrammerTest, RefusesAWriteLargerThanItsFlash) {
  SimProgrammer sim;
  ProgrammerTask t;
  FillTask(t, OP_WRITE, kVerifyErase, 16385);
  const auto report = FrameOutputReport(t.bytes.data(), t.bytes.size());
  sim.HandleOutputReport(report.data(), report.size());
  SimProgrammer::Report r;
  ASSERT_TRUE(sim.TakeInputReport(r));
  EXPECT_EQ(r[1], OP_WRITE | OP_FAIL);
  EXPECT_EQ(sim.PendingImageReports(), 0u);
}

}  // namespace
}  // namespace quillet
