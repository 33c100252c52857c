// Whole exchanges between the engine and the simulated programmer, with the console's part
// (filling the task record, framing reports, delivering replies) played by the fixture.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <random>

#include "engine/Cpro.h"
#include "sim/SimProgrammer.h"
#include "tests/engine/EngineRecorder.h"

namespace quillet {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using sim::SimProgrammer;
using sim::SimProgrammerConfig;
using sim::SimProgrammerFaults;
using testing::EngineRecorder;
using testing::Recorded;

std::vector<uint8_t> RandomBytes(size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::vector<uint8_t> out(n);
  for (auto& b : out) b = static_cast<uint8_t>(gen());
  return out;
}

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
