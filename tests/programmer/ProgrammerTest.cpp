#include "programmer/Programmer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sim/SimHidModels.h"
#include "sim/SimHidPlatform.h"
#include "sim/SimProgrammer.h"
#include "tests/programmer/OwnerStub.h"
#include "tests/support/Values.h"
#include "tests/support/Wait.h"

namespace quillet {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using namespace std::chrono_literals;
using test::RandomBytes;
using test::WaitUntil;

constexpr TaskFlags kFlags{.verify = true, .resetRun = true, .erase = true, .encrypt = false};

// One programmer with its own owner's queue, log and clock, over a platform it may share with
// others: the test's thread is the owner's thread and pumps what the reader hands over.
class Rig {
 public:
  explicit Rig(std::shared_ptr<sim::SimHidPlatform> platform)
      : programmer(std::move(platform), Host()) {}

  ProgrammerHost Host() {
    return owner_.Host([this](std::chrono::milliseconds) { ++timerStarts; });
  }

  void Pump() { owner_.Pump(); }

  // A new operation's callback; outcomes counts its calls.
  Programmer::Done Done() {
    outcome.reset();
    outcomes = 0;
    return [this](const OperationOutcome& o) {
      ++outcomes;
      outcome = o;
    };
  }

  // Pumps until the operation under way has ended.
  bool AwaitOutcome() {
    return WaitUntil([&] {
      Pump();
      return outcome.has_value();
    });
  }

  // The owner's timer fires once the watchdog's interval has passed without input.
  void ExpireWatchdog() {
    owner_.Advance(OperationWatchdog::kInterval);
    programmer.WatchdogTimerFired();
  }

  std::vector<std::string> Lines() { return owner_.Lines(); }

  bool Open() {
    const auto r = programmer.Rescan(Done());
    return r.opened && AwaitOutcome() && outcome->Ok();
  }

  test::OwnerStub owner_;  // before the programmer, which hands its calls to it
  Programmer programmer;
  std::optional<OperationOutcome> outcome;
  int outcomes = 0;
  int timerStarts = 0;

};

class ProgrammerFixture : public ::testing::Test {
 protected:
  std::string Attach(sim::SimProgrammerConfig config = {}, std::chrono::microseconds pacing = {}) {
    sim = std::make_shared<sim::SimProgrammer>(config);
    return platform->Attach(sim::ProgrammerDeviceConfig(sim, pacing));
  }

  std::shared_ptr<sim::SimHidPlatform> platform = std::make_shared<sim::SimHidPlatform>();
  std::shared_ptr<sim::SimProgrammer> sim;
};

// ---- every typed outcome, from the simulated programmer's faults ----------------------------

enum class Run { Detect, Read, Write, Verify };

struct FaultCase {
  const char* name;
  Run run;
  std::function<void(sim::SimProgrammerConfig&)> fault;
  std::function<void(const OperationOutcome&)> check;
  bool needsWatchdog = false;  // the outcome comes when the watchdog runs out
};
void PrintTo(const FaultCase& c, std::ostream* os) { *os << c.name; }

class FaultOutcome : public ProgrammerFixture, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(FaultOutcome, EndsOnceWithItsTypedOutcome) {
  const FaultCase& c = GetParam();
  sim::SimProgrammerConfig config;
  Attach(config);
  Rig rig(platform);
  ASSERT_TRUE(rig.Open());
  // The fault is set once the programmer has said who it is, so that it hits the operation.
  c.fault(config);
  sim->SetFaults(config.faults);
  sim->SetChipConnected(config.chipConnected);

  const auto image = RandomBytes(1000, 3);
  switch (c.run) {
    case Run::Detect: rig.programmer.Detect(rig.Done()); break;
    case Run::Read: rig.programmer.Read(kFlags, rig.Done()); break;
    case Run::Write: rig.programmer.Write(image, kFlags, rig.Done()); break;
    case Run::Verify: rig.programmer.Verify(image, kFlags, rig.Done()); break;
  }
  if (c.needsWatchdog) {
    // Nothing more is coming: let what was sent settle, then let the countdown run out.
    std::this_thread::sleep_for(50ms);
    rig.Pump();
    ASSERT_FALSE(rig.outcome) << "ended before the watchdog";
    rig.ExpireWatchdog();
  }
  ASSERT_TRUE(rig.AwaitOutcome());
  c.check(*rig.outcome);
  // Exactly once: a later watchdog expiry or stray reply adds nothing.
  rig.ExpireWatchdog();
  std::this_thread::sleep_for(20ms);
  rig.Pump();
  EXPECT_EQ(rig.outcomes, 1);
}

template <class F>
const F& Failure(const OperationOutcome& o) {
  EXPECT_TRUE(o.failure.has_value());
  const F* f = o.As<F>();
  EXPECT_NE(f, nullptr);
  static const F none{};
  return f ? *f : none;
}

INSTANTIATE_TEST_SUITE_P(
    Faults, FaultOutcome,
    ::testing::Values(
        FaultCase{"DetectSucceeds", Run::Detect, [](auto&) {},
                  [](const OperationOutcome& o) {
                    EXPECT_TRUE(o.Ok());
                    ASSERT_TRUE(o.identity);
                    EXPECT_EQ(o.identity->firmwareVersion, 12);
                  }},
        FaultCase{"NoChip", Run::Detect, [](auto& c) { c.chipConnected = false; },
                  [](const OperationOutcome& o) {
                    Failure<failure::NoChip>(o);
                    ASSERT_TRUE(o.identity);
                    EXPECT_FALSE(o.identity->chipConnected);
                  }},
        FaultCase{"WrongCheckWord", Run::Detect, [](auto& c) { c.faults.wrongCheckWord = true; },
                  [](const OperationOutcome& o) {
                    const auto& f = Failure<failure::CheckWordMismatch>(o);
                    EXPECT_EQ(f.received, 5);
                    EXPECT_EQ(f.expected, 4);
                  }},
        FaultCase{"ConnectFailureReply", Run::Detect, [](auto& c) { c.faults.connectReply = 0x81; },
                  [](const OperationOutcome& o) { EXPECT_EQ(Failure<failure::FailureReply>(o).reply, 0x81); }},
        FaultCase{"ReadSucceeds", Run::Read, [](auto&) {},
                  [](const OperationOutcome& o) {
                    EXPECT_TRUE(o.Ok());
                    EXPECT_EQ(o.flash.size(), 16384u);
                  }},
        FaultCase{"ReadFailureReply", Run::Read, [](auto& c) { c.faults.readReply = 0x85; },
                  [](const OperationOutcome& o) { EXPECT_EQ(Failure<failure::FailureReply>(o).reply, 0x85); }},
        FaultCase{"ReadWithoutAChip", Run::Read, [](auto& c) { c.chipConnected = false; },
                  [](const OperationOutcome& o) { EXPECT_EQ(Failure<failure::FailureReply>(o).reply, 0x85); }},
        FaultCase{"ReadStalls", Run::Read, [](auto& c) { c.faults.stallAfterDataReports = 16; },
                  [](const OperationOutcome& o) {
                    const auto& t = Failure<failure::Timeout>(o);
                    EXPECT_EQ(t.phase, Phase::Data);
                    EXPECT_EQ(t.received, 1024);
                    EXPECT_EQ(t.size, 16384u);
                  },
                  true},
        FaultCase{"WriteSucceeds", Run::Write, [](auto&) {},
                  [](const OperationOutcome& o) {
                    EXPECT_TRUE(o.Ok());
                    EXPECT_EQ(o.checksumAgrees, true);
                  }},
        FaultCase{"WriteFailureReply", Run::Write, [](auto& c) { c.faults.writeReply = 0x86; },
                  [](const OperationOutcome& o) { EXPECT_EQ(Failure<failure::FailureReply>(o).reply, 0x86); }},
        FaultCase{"VerifyFailureReply", Run::Write, [](auto& c) { c.faults.verifyReply = 0x87; },
                  [](const OperationOutcome& o) { EXPECT_EQ(Failure<failure::FailureReply>(o).reply, 0x87); }},
        FaultCase{"ChecksumDiffers", Run::Write, [](auto& c) { c.faults.corruptChecksum = true; },
                  [](const OperationOutcome& o) {
                    const auto& f = Failure<failure::ChecksumMismatch>(o);
                    EXPECT_NE(f.local, f.device);
                    EXPECT_EQ(o.checksumAgrees, false);
                  }},
        FaultCase{"ChecksumNeverComes", Run::Write, [](auto& c) { c.faults.withholdChecksum = true; },
                  [](const OperationOutcome& o) {
                    const auto& t = Failure<failure::Timeout>(o);
                    EXPECT_EQ(t.phase, Phase::Checksum);
                    EXPECT_EQ(t.size, 1000u);
                  },
                  true},
        FaultCase{"VerifyOfAnErasedChip", Run::Verify, [](auto&) {},
                  [](const OperationOutcome& o) {
                    // The chip was never written: every byte of the image that is not FF differs.
                    const auto& m = Failure<failure::ReadBackMismatch>(o);
                    EXPECT_GT(m.bytes, 0u);
                    EXPECT_EQ(m.compared, 1000u);
                    EXPECT_EQ(m.actual, 0xFF);
                    EXPECT_GT(m.bitsZeroToOne, 0u);
                    EXPECT_EQ(m.bitsOneToZero, 0u);
                  }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ProgrammerFixture, AReadBackThatDiffersSaysWhereAndHow) {
  Attach();
  Rig rig(platform);
  ASSERT_TRUE(rig.Open());
  auto image = RandomBytes(512, 4);
  rig.programmer.Write(image, kFlags, rig.Done());
  ASSERT_TRUE(rig.AwaitOutcome());
  ASSERT_TRUE(rig.outcome->Ok());
  // Two bits of one byte read otherwise than written: one 1→0, one 0→1.
  const uint8_t want = 0b1010'0000;
  image[300] = want;
  auto flash = sim->Flash();
  flash[300] = 0b1001'0000;
  sim->SetFlash(flash);
  rig.programmer.Verify(image, kFlags, rig.Done());
  ASSERT_TRUE(rig.AwaitOutcome());
  const auto& m = Failure<failure::ReadBackMismatch>(*rig.outcome);
  EXPECT_EQ(m.address, 300u);
  EXPECT_EQ(m.expected, want);
  EXPECT_EQ(m.actual, 0b1001'0000);
  EXPECT_EQ(m.bytes, 1u);
  EXPECT_EQ(m.bitsOneToZero, 1u);
  EXPECT_EQ(m.bitsZeroToOne, 1u);
}

// ---- the connection -------------------------------------------------------------------------

TEST_F(ProgrammerFixture, AProgrammerThisUserMayNotOpenIsRefusedPermissionWithTheWayToAccess) {
  auto config = sim::ProgrammerDeviceConfig(std::make_shared<sim::SimProgrammer>());
  config.refusedAccess = {hid::HidAccess::ReadWrite, hid::HidAccess::ReadOnly, hid::HidAccess::WriteOnly,
                          hid::HidAccess::None};
  const std::string node = platform->Attach(config);
  Rig rig(platform);
  const auto r = rig.programmer.Rescan(rig.Done());
  EXPECT_FALSE(r.opened);
  ASSERT_TRUE(r.failure);
  const auto* refused = std::get_if<failure::PermissionRefused>(&*r.failure);
  ASSERT_NE(refused, nullptr);
  EXPECT_EQ(refused->node, node);
  EXPECT_EQ(refused->hint, kProgrammerAccessHint);
  EXPECT_FALSE(refused->message.empty());
  EXPECT_FALSE(rig.programmer.IsOpen());
  EXPECT_FALSE(rig.programmer.Watchdog().Running());  // nothing was asked of it
}

TEST_F(ProgrammerFixture, AnOperationWithoutAProgrammerTimesOut) {
  Rig rig(platform);
  EXPECT_FALSE(rig.programmer.Rescan().opened);
  rig.programmer.Detect(rig.Done());
  rig.ExpireWatchdog();
  ASSERT_TRUE(rig.AwaitOutcome());
  EXPECT_EQ(Failure<failure::Timeout>(*rig.outcome).phase, Phase::Answer);
  EXPECT_THAT(rig.Lines(), ElementsAre("连接编程器", "操作超时 0  0"));
}

TEST_F(ProgrammerFixture, AProgrammerPulledOutDuringAWriteIsReportedRemoved) {
  const std::string node = Attach({}, 1ms);
  Rig rig(platform);
  ASSERT_TRUE(rig.Open());
  rig.programmer.Write(RandomBytes(16384, 5), kFlags, rig.Done());
  ASSERT_TRUE(WaitUntil([&] { return sim->PendingImageReports() > 0 && sim->PendingImageReports() < 200; }));
  ASSERT_TRUE(platform->Detach(node));
  ASSERT_TRUE(rig.AwaitOutcome());
  Failure<failure::Removed>(*rig.outcome);
}

TEST_F(ProgrammerFixture, AProgrammerThatStopsTakingTheImageIsAStoppedStream) {
  const std::string node = Attach({}, 1ms);
  Rig rig(platform);
  ASSERT_TRUE(rig.Open());
  rig.programmer.Write(RandomBytes(16384, 6), kFlags, rig.Done());
  platform->SetTakesWrites(node, false);
  ASSERT_TRUE(rig.AwaitOutcome());
  const auto& f = Failure<failure::StreamStopped>(*rig.outcome);
  EXPECT_EQ(f.reports, 256);
  EXPECT_GE(f.report, 1);
  EXPECT_TRUE(rig.programmer.IsOpen());
}

TEST_F(ProgrammerFixture, ARefusedImageSendsNothingAndSaysWhy) {
  Attach();
  Rig rig(platform);
  ASSERT_TRUE(rig.Open());
  rig.programmer.Write(std::vector<uint8_t>(16385, 0), kFlags, rig.Done());
  ASSERT_TRUE(rig.AwaitOutcome());
  const auto& f = Failure<failure::ImageRefused>(*rig.outcome);
  EXPECT_EQ(f.reason, failure::ImageRefused::TooLarge);
  EXPECT_EQ(f.capacity, 16384u);
  EXPECT_THAT(rig.Lines(), Contains("烧录文件超过芯片容量！"));
  EXPECT_FALSE(rig.programmer.Watchdog().Running());
}

TEST_F(ProgrammerFixture, ANewOperationEndsTheOneUnderWayAsReplaced) {
  Attach({}, 1ms);
  Rig rig(platform);
  ASSERT_TRUE(rig.Open());
  std::vector<OperationOutcome> seen;
  rig.programmer.Read(kFlags, [&](const OperationOutcome& o) { seen.push_back(o); });
  rig.programmer.Detect([&](const OperationOutcome& o) { seen.push_back(o); });
  ASSERT_TRUE(WaitUntil([&] {
    rig.Pump();
    return seen.size() == 2;
  }));
  EXPECT_EQ(seen[0].operation, Operation::Read);
  Failure<failure::Replaced>(seen[0]);
  EXPECT_EQ(seen[1].operation, Operation::Detect);
  EXPECT_TRUE(seen[1].Ok());
}

// Two programmers on two simulated devices work at once, each on its own state; ThreadSanitizer
// watches their readers.
TEST_F(ProgrammerFixture, TwoProgrammersWorkSideBySide) {
  auto first = std::make_shared<sim::SimProgrammer>();
  sim::SimProgrammerConfig big;
  big.flashSize = 32768;
  auto second = std::make_shared<sim::SimProgrammer>(big);
  const std::string a = platform->Attach(sim::ProgrammerDeviceConfig(first, 200us));
  const std::string b = platform->Attach(sim::ProgrammerDeviceConfig(second, 200us));
  Rig one(platform), two(platform);
  one.programmer.SetFilter([&](const hid::THidDevice& d) { return d.InterfacePath == a; });
  two.programmer.SetFilter([&](const hid::THidDevice& d) { return d.InterfacePath == b; });
  ASSERT_TRUE(one.Open());
  ASSERT_TRUE(two.Open());
  two.programmer.SelectChip("NRF24LU1_32K");

  const auto imageOne = RandomBytes(16384, 1);
  const auto imageTwo = RandomBytes(32768, 2);
  const auto bothEnded = [&] {
    return WaitUntil([&] {
      one.Pump();
      two.Pump();
      return one.outcome && two.outcome;
    });
  };
  one.programmer.Write(imageOne, kFlags, one.Done());
  two.programmer.Write(imageTwo, kFlags, two.Done());
  ASSERT_TRUE(bothEnded());
  EXPECT_TRUE(one.outcome->Ok());
  EXPECT_TRUE(two.outcome->Ok());

  one.programmer.Verify(imageOne, kFlags, one.Done());
  two.programmer.Verify(imageTwo, kFlags, two.Done());
  ASSERT_TRUE(bothEnded());
  EXPECT_TRUE(one.outcome->Ok());
  EXPECT_TRUE(two.outcome->Ok());
  EXPECT_EQ(one.outcome->flash.size(), 16384u);
  EXPECT_EQ(two.outcome->flash.size(), 32768u);
  EXPECT_EQ(one.programmer.Node(), a);
  EXPECT_EQ(two.programmer.Node(), b);
}

}  // namespace
}  // namespace quillet
