#include "programmer/ProgrammerConsole.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <numeric>

#include "tests/programmer/ConsoleFixture.h"
#include "tests/support/Values.h"

namespace quillet {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;
using ::testing::MatchesRegex;
using namespace std::chrono_literals;
using test::ConsoleFixture;
using test::RandomBytes;
using test::WaitUntil;

constexpr TaskFlags kDefaultFlags{.verify = true, .resetRun = true, .erase = true, .encrypt = false};
const char kOpenedLine[] = "编程器已打开nRF24LE1/LU1 Programmer SIM000001";

// ---- discovery ------------------------------------------------------------------------------

class Discovery : public ConsoleFixture {};

TEST_F(Discovery, AProgrammerPresentIsOpenedAndAskedWhoItIs) {
  AttachProgrammer();
  console->Rescan();
  ASSERT_TRUE(WaitForLine("芯片已连接！"));
  Pump();
  EXPECT_THAT(Lines(), ElementsAre("HID 设备已打开", kOpenedLine, "连接编程器",
                                   "编程器通讯成功：固件类型3 版本12 ", "芯片已连接！"));
  ASSERT_TRUE(WaitUntil([&] { return !console->Watchdog().Running(); }));
  EXPECT_TRUE(hid.GetActive());
  EXPECT_TRUE(view.buttonsEnabled);
  // No watchdog was armed by discovery, and the identity leaves it stopped.
  EXPECT_THAT(view.timerStarts, IsEmpty());
  EXPECT_FALSE(console->Watchdog().Running());
}

TEST_F(Discovery, NoProgrammerMeansNoLineAndButtonsAsTheyWere) {
  console->Rescan();
  Pump();
  EXPECT_THAT(Lines(), IsEmpty());
  EXPECT_FALSE(hid.GetActive());
  EXPECT_TRUE(view.buttonsEnabled);
}

struct ForeignCase {
  const char* name;
  uint16_t vendor;
  uint16_t product;
};
void PrintTo(const ForeignCase& c, std::ostream* os) { *os << c.name; }
class ForeignDevice : public ConsoleFixture, public ::testing::WithParamInterface<ForeignCase> {};

TEST_P(ForeignDevice, IsNeverOpened) {
  auto config = sim::ProgrammerDeviceConfig(std::make_shared<sim::SimProgrammer>());
  config.vendorId = GetParam().vendor;
  config.productId = GetParam().product;
  platform->Attach(config);
  console->Rescan();
  EXPECT_FALSE(hid.GetActive());
  EXPECT_THAT(Lines(), IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(Ids, ForeignDevice,
                         ::testing::Values(ForeignCase{"OtherProduct", 0x04D8, 0x0040},
                                           ForeignCase{"OtherVendor", 0x04D9, 0x003F},
                                           ForeignCase{"Swapped", 0x003F, 0x04D8}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Discovery, ADeviceHeldByAnotherProcessNeverMatches) {
  auto config = sim::ProgrammerDeviceConfig(std::make_shared<sim::SimProgrammer>());
  config.heldByOtherProcess = true;
  platform->Attach(config);
  console->Rescan();
  EXPECT_FALSE(hid.GetActive());
  EXPECT_THAT(Lines(), IsEmpty());
}

TEST_F(Discovery, AnEmptySerialLeavesOneTrailingBlank) {
  auto config = sim::ProgrammerDeviceConfig(std::make_shared<sim::SimProgrammer>());
  config.serial.clear();
  platform->Attach(config);
  console->Rescan();
  EXPECT_TRUE(Logged("编程器已打开nRF24LE1/LU1 Programmer "));
}

TEST_F(Discovery, UnplugClosesOnceAndReplugConnectsAgain) {
  AttachProgrammer({}, 1ms);
  console->Rescan();
  ASSERT_TRUE(WaitForLine("芯片已连接！"));
  console->Read(kDefaultFlags);
  ASSERT_TRUE(WaitUntil([&] { return engine.Received() >= 1024; }));
  ClearLines();

  ASSERT_TRUE(platform->Detach(path));
  ASSERT_TRUE(WaitForLine("HID 设备已关闭 "));
  console->DeviceChange();
  Pump();
  EXPECT_THAT(Lines(), ElementsAre("HID 设备已关闭 ", "DeviceChange"));
  EXPECT_FALSE(view.buttonsEnabled);

  ClearLines();
  AttachProgrammer();
  console->DeviceChange();
  ASSERT_TRUE(WaitForLine("芯片已连接！"));
  Pump();
  EXPECT_THAT(Lines(), ElementsAre("DeviceChange", "HID 设备已打开", kOpenedLine, "连接编程器",
                                   "编程器通讯成功：固件类型3 版本12 ", "芯片已连接！"));
  EXPECT_TRUE(view.buttonsEnabled);
}

TEST_F(Discovery, AnotherDeviceComingWhileConnectedOnlyAddsTheChangeLine) {
  AttachProgrammer();
  console->Rescan();
  ASSERT_TRUE(WaitForLine("芯片已连接！"));
  ClearLines();
  platform->Attach(sim::SimHidDeviceConfig{});
  console->DeviceChange();
  EXPECT_THAT(Lines(), ElementsAre("DeviceChange"));
  EXPECT_TRUE(hid.GetActive());
}

TEST_F(Discovery, AnOpenRefusedForPermissionRaisesTheSystemMessageWithTheAccessHint) {
  auto config = sim::ProgrammerDeviceConfig(std::make_shared<sim::SimProgrammer>());
  config.refusedAccess = {hid::HidAccess::ReadWrite, hid::HidAccess::ReadOnly,
                          hid::HidAccess::WriteOnly, hid::HidAccess::None};
  platform->Attach(config);
  try {
    console->Rescan();
    FAIL() << "the open failure was swallowed";
  } catch (const hid::EHidError& e) {
    EXPECT_THAT(e.what(), ::testing::StartsWith("Permission denied"));
    EXPECT_THAT(e.what(), ::testing::HasSubstr("70-quillet.rules"));
  }
  Pump();
  EXPECT_THAT(Lines(), ElementsAre("HID 设备出错 "));
  EXPECT_FALSE(view.buttonsEnabled);
}

// ---- detect ---------------------------------------------------------------------------------

struct DetectCase {
  const char* name;
  bool wrongCheckWord;
  bool chipConnected;
  std::vector<std::string> lines;
};
void PrintTo(const DetectCase& c, std::ostream* os) { *os << c.name; }
class Detect : public ConsoleFixture, public ::testing::WithParamInterface<DetectCase> {};

TEST_P(Detect, LogsTheIdentityCheckAndStopsTheWatchdog) {
  const DetectCase& c = GetParam();
  sim::SimProgrammerConfig config;
  config.chipConnected = c.chipConnected;
  config.faults.wrongCheckWord = c.wrongCheckWord;
  AttachProgrammer(config);
  console->Rescan();
  ASSERT_TRUE(WaitForLine(c.lines.back()));
  ClearLines();

  console->Detect();
  EXPECT_THAT(view.timerStarts, ElementsAre(2000ms));
  ASSERT_TRUE(WaitUntil([&] { return !console->Watchdog().Running(); }));
  std::vector<std::string> expected{"连接编程器"};
  expected.insert(expected.end(), c.lines.begin(), c.lines.end());
  EXPECT_THAT(Lines(), ElementsAreArray(expected));
}

INSTANTIATE_TEST_SUITE_P(
    Replies, Detect,
    ::testing::Values(
        DetectCase{"ChipConnected", false, true, {"编程器通讯成功：固件类型3 版本12 ", "芯片已连接！"}},
        DetectCase{"WrongCheckWord", true, true,
                   {"编程器通讯成功：固件类型3 版本12 ", "通信校验失败：上传值：5 计算值：4", "2 2 4",
                    "芯片已连接！"}},
        DetectCase{"NoChip", false, false,
                   {"编程器通讯成功：固件类型3 版本12 ",
                    "芯片未连接！请确认：连接正确/模块OK/线接触良好"}}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- read -----------------------------------------------------------------------------------

struct ReadCase {
  const char* chip;
  uint32_t flashSize;
};
void PrintTo(const ReadCase& c, std::ostream* os) { *os << c.chip; }
class Read : public ConsoleFixture, public ::testing::WithParamInterface<ReadCase> {};

TEST_P(Read, EndsWithTheWholeFlashInTheViewAndTheBarOneReportShort) {
  const ReadCase& c = GetParam();
  sim::SimProgrammerConfig config;
  config.flashSize = c.flashSize;
  AttachProgrammer(config);
  const auto flash = RandomBytes(c.flashSize, c.flashSize);
  programmer->SetFlash(flash);
  console->Rescan();
  ASSERT_TRUE(WaitForLine("芯片已连接！"));
  console->SelectChip(c.chip, true);
  ClearLines();

  console->Read(kDefaultFlags);
  EXPECT_EQ(view.progressMax, static_cast<int>(c.flashSize));
  EXPECT_EQ(engine.Task().Size(), c.flashSize);
  const std::string done = "读FLASH完毕," + std::to_string(c.flashSize) + " byte";
  // The test thread plays the UI thread: it runs what the reader handed over until the view is filled.
  ASSERT_TRUE(WaitUntil([&] {
    Pump();
    return view.readBacks > 0;
  }));
  EXPECT_THAT(Lines(), ElementsAre("读FLASH", "开始读FLASH..." + std::to_string(c.flashSize), done));
  EXPECT_EQ(view.readBacks, 1);
  EXPECT_EQ(view.shown, flash);
  EXPECT_EQ(view.progress, static_cast<int>(c.flashSize) - 64);
  EXPECT_FALSE(console->Watchdog().Running());
  Pump();
  EXPECT_FALSE(view.timerRunning);
}

INSTANTIATE_TEST_SUITE_P(Chips, Read,
                         ::testing::Values(ReadCase{"NRF24LE1_16K", 16384},
                                           ReadCase{"NRF24LU1_32K", 32768}),
                         [](const auto& info) { return std::string(info.param.chip); });

TEST_F(ConsoleFixture, ChipChoiceNeedsASelectedEntry) {
  console->SelectChip("NRF24LU1_32K", false);
  EXPECT_EQ(engine.Chip().FlashSize, 16384u);
  console->SelectChip("", true);
  EXPECT_EQ(engine.Chip().FlashSize, 16384u);
  console->SelectChip("NRF24LU1_32K", true);
  EXPECT_EQ(engine.Chip().FlashSize, 32768u);
}

// ---- write ----------------------------------------------------------------------------------

class Write : public ConsoleFixture {
 protected:
  void Connect(sim::SimProgrammerConfig config = {}, std::chrono::microseconds pacing = {}) {
    AttachProgrammer(config, pacing);
    console->Rescan();
    ASSERT_TRUE(WaitForLine("芯片已连接！"));
    ClearLines();
  }
  void LoadImage(const std::vector<uint8_t>& image) {
    engine.EditWriteImage([&](uint8_t* buffer, size_t) { std::copy(image.begin(), image.end(), buffer); });
    view.imageSize = static_cast<uint32_t>(image.size());
  }
};

TEST_F(Write, VerifiedWriteProgramsTheImageAndReportsSuccess) {
  Connect();
  const auto image = RandomBytes(1000, 7);
  LoadImage(image);
  console->Write(kDefaultFlags, false, "");
  ASSERT_TRUE(WaitForLine("校验成功"));
  Pump();
  EXPECT_THAT(Lines(), ElementsAre("写FLASH", "开始写FLASH", "写FLASH完成", "校验成功"));
  const auto flash = programmer->Flash();
  EXPECT_TRUE(std::equal(image.begin(), image.end(), flash.begin()));
  EXPECT_EQ(view.progressMax, 1000);
  EXPECT_EQ(view.progress, 960);  // the last report's count is the size, which moves no bar
  // The write was guarded from its task to the programmer's checksum, and is over.
  EXPECT_THAT(view.timerStarts, ElementsAre(2000ms));
  ASSERT_TRUE(WaitUntil([&] { return !console->Watchdog().Running(); }));
}

TEST_F(Write, AChecksumTheProgrammerGetsWrongIsReportedAsAFailedVerify) {
  sim::SimProgrammerConfig config;
  config.faults.corruptChecksum = true;
  Connect(config);
  LoadImage(RandomBytes(256, 8));
  console->Write(kDefaultFlags, false, "");
  ASSERT_TRUE(WaitUntil([&] { return Lines().size() == 5; }));
  const auto lines = Lines();
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_THAT(std::vector<std::string>(lines.begin(), lines.begin() + 3),
              ElementsAre("写FLASH", "开始写FLASH", "写FLASH完成"));
  EXPECT_EQ(lines[3], "校验失败");
  EXPECT_THAT(lines[4], MatchesRegex("本地校验：[0-9]+ 设备端校验：[0-9]+"));
}

TEST_F(Write, TheTaskCarriesTheCheckBoxesAndTheViewSize) {
  Connect();
  LoadImage(RandomBytes(100, 9));
  console->Write({.verify = false, .resetRun = true, .erase = false, .encrypt = true}, false, "");
  const ProgrammerTask t = engine.Task();
  EXPECT_EQ(t.Op(), OP_WRITE);
  EXPECT_EQ(t.Size(), 100u);
  EXPECT_EQ(t.bytes[ProgrammerTask::kVerify], 0);
  EXPECT_EQ(t.bytes[ProgrammerTask::kResetRun], 1);
  EXPECT_EQ(t.bytes[ProgrammerTask::kErase], 0);
  EXPECT_EQ(t.bytes[ProgrammerTask::kEncrypt], 1);
}

struct RefusalCase {
  const char* name;
  bool reload;
  std::string path;
  uint32_t imageSize;
  const char* line;
};
void PrintTo(const RefusalCase& c, std::ostream* os) { *os << c.name; }
class WriteRefusal : public ConsoleFixture, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(WriteRefusal, LogsWhyAndSendsNothing) {
  const RefusalCase& c = GetParam();
  // A device with the programmer's identity that records every report written to it.
  auto model = std::make_shared<sim::SimQueueModel>();
  auto config = sim::ProgrammerDeviceConfig(std::make_shared<sim::SimProgrammer>());
  config.model = model;
  const std::string node = platform->Attach(config);
  console->Rescan();
  ASSERT_TRUE(hid.GetActive());
  const auto written = [&] {
    size_t n = 0;
    platform->UpdateModel(node, [&](sim::ISimHidModel&) { n = model->Written().size(); });
    return n;
  };
  const size_t before = written();  // the connect request
  ClearLines();

  view.imageSize = c.imageSize;
  console->Write(kDefaultFlags, c.reload, c.path);
  EXPECT_THAT(Lines(), ElementsAre("写FLASH", c.line));
  EXPECT_EQ(written(), before);
  EXPECT_THAT(view.reloaded, IsEmpty());
  EXPECT_FALSE(console->Watchdog().Running());
}

INSTANTIATE_TEST_SUITE_P(
    Refusals, WriteRefusal,
    ::testing::Values(RefusalCase{"ReloadBeforeAnyLoad", true, "", 100, "File Not Exists!"},
                      RefusalCase{"ReloadOfAVanishedFile", true, "/nonexistent/blink.hex", 100,
                                  "File Not Exists!"},
                      RefusalCase{"ReloadOfAFolder", true, "/tmp", 100, "File Not Exists!"},
                      RefusalCase{"NoImage", false, "", 0, "请载入烧录文件！"},
                      RefusalCase{"OneByteOverTheChip", false, "", 16385, "烧录文件超过芯片容量！"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Write, AnImageOfExactlyTheChipIsWrittenAndReloadUsesTheFile) {
  Connect();
  LoadImage(RandomBytes(16384, 10));
  const std::string file = ::testing::TempDir() + "/quillet-reload.bin";
  { std::FILE* f = std::fopen(file.c_str(), "wb"); ASSERT_TRUE(f); std::fclose(f); }
  console->Write(kDefaultFlags, true, file);
  EXPECT_THAT(view.reloaded, ElementsAre(file));
  ASSERT_TRUE(WaitForLine("校验成功"));
  std::filesystem::remove(file);
}

TEST_F(Write, AReportTheProgrammerStopsTakingFailsTheWriteInsteadOfCompletingIt) {
  Connect({}, 1ms);
  LoadImage(RandomBytes(16384, 11));
  console->Write(kDefaultFlags, false, "");
  platform->SetTakesWrites(path, false);
  ASSERT_TRUE(WaitUntil([&] {
    for (const auto& l : Lines())
      if (l.rfind("写FLASH失败", 0) == 0) return true;
    return false;
  }));
  const auto lines = Lines();
  EXPECT_THAT(lines.back(), MatchesRegex("写FLASH失败：第[0-9]+个数据包（共256个）未被编程器接收"));
  EXPECT_FALSE(Logged("写FLASH完成"));
  EXPECT_TRUE(hid.GetActive());
}

// ---- watchdog -------------------------------------------------------------------------------

class Watchdog : public ConsoleFixture {};

TEST_F(Watchdog, DetectWithoutAProgrammerTimesOutOnceAfterTheFirstClick) {
  console->Detect();
  Advance(1500ms);
  console->Detect();  // the running countdown goes on
  EXPECT_THAT(view.timerStarts, ElementsAre(2000ms));
  Advance(499ms);
  console->WatchdogTimerFired();  // a timer firing early asks for the rest
  EXPECT_THAT(view.timerStarts, ElementsAre(2000ms, 1ms));
  EXPECT_FALSE(Logged("操作超时 0  0"));
  Advance(1ms);
  console->WatchdogTimerFired();
  console->WatchdogTimerFired();
  EXPECT_THAT(Lines(), ElementsAre("连接编程器", "连接编程器", "操作超时 0  0"));
}

TEST_F(Watchdog, AStalledReadReportsWhatArrivedAndReturnsTheEngineToIdle) {
  sim::SimProgrammerConfig config;
  config.faults.stallAfterDataReports = 16;
  AttachProgrammer(config);
  console->Rescan();
  ASSERT_TRUE(WaitForLine("芯片已连接！"));
  ClearLines();

  console->Read(kDefaultFlags);
  ASSERT_TRUE(WaitUntil([&] { return engine.Received() == 1024; }));
  EXPECT_EQ(engine.State(), ReadStream);
  Advance(2000ms);
  console->WatchdogTimerFired();
  EXPECT_THAT(Lines(), ElementsAre("读FLASH", "开始读FLASH...16384", "操作超时 1024  16384"));
  EXPECT_EQ(engine.State(), Idle);
  EXPECT_FALSE(console->Watchdog().Running());
}

TEST_F(Watchdog, EveryInputReportRestartsARunningCountdownOnly) {
  const uint8_t report[65] = {0, 0x02};  // an unrecognised reply
  console->HidIO1AfterReceive(report, sizeof report);  // stopped: stays stopped
  EXPECT_FALSE(console->Watchdog().Running());

  console->Detect();
  Advance(1900ms);
  console->HidIO1AfterReceive(report, sizeof report);
  Advance(1900ms);
  console->WatchdogTimerFired();
  EXPECT_FALSE(Logged("操作超时 0  0"));
  EXPECT_EQ(view.timerStarts.back(), 100ms);
  Advance(100ms);
  console->WatchdogTimerFired();
  EXPECT_TRUE(Logged("操作超时 0  0"));
  EXPECT_TRUE(Logged("未知操作"));
}

// A programmer that answers before the click handler has returned must not leave a countdown
// behind that later reports a timeout for an operation that finished.
TEST_F(Watchdog, AReplyHandledBeforeTheHandlerReturnsLeavesNoCountdown) {
  AttachProgrammer();
  console->Rescan();
  ASSERT_TRUE(WaitForLine("芯片已连接！"));
  ASSERT_TRUE(WaitUntil([&] { return !console->Watchdog().Running(); }));
  // Each request returns only once the reader has handled the reply to it: as fast as a device
  // can be.
  engine.SetSendReport([&](const uint8_t* bytes, size_t length) {
    const size_t linesBefore = Lines().size();
    const auto report = FrameOutputReport(bytes, length);
    const bool sent = hid.WriteReport(report.data(), static_cast<unsigned>(report.size()));
    EXPECT_TRUE(WaitUntil([&] { return Lines().size() >= linesBefore + 2; }));
    return sent;
  });
  ClearLines();
  console->Detect();
  ASSERT_THAT(Lines(), ElementsAre("连接编程器", "编程器通讯成功：固件类型3 版本12 ", "芯片已连接！"));
  Advance(5000ms);
  console->WatchdogTimerFired();
  EXPECT_FALSE(Logged("操作超时 0  0"));
  EXPECT_FALSE(console->Watchdog().Running());
}

TEST_F(Watchdog, AFailureReplyToAReadLeavesTheWatchdogToReportIt) {
  sim::SimProgrammerConfig config;
  config.faults.readReply = 0x85;
  AttachProgrammer(config);
  console->Rescan();
  ASSERT_TRUE(WaitForLine("芯片已连接！"));
  ClearLines();
  console->Read(kDefaultFlags);
  ASSERT_TRUE(WaitForLine("操作失败:85  80"));
  EXPECT_TRUE(console->Watchdog().Running());
  Advance(2000ms);
  console->WatchdogTimerFired();
  EXPECT_THAT(Lines(), ElementsAre("读FLASH", "操作失败:85  80", "操作超时 0  16384"));
}

// ---- hooks for front ends that follow operations to their end ------------------------------

TEST_F(Discovery, AFilterPicksOneOfSeveralProgrammersOrNone) {
  for (const char* serial : {"SIM000001", "SIM000002"}) {
    auto config = sim::ProgrammerDeviceConfig(std::make_shared<sim::SimProgrammer>());
    config.serial = serial;
    platform->Attach(config);
  }
  console->SetProgrammerFilter([](const hid::THidDevice& d) { return d.SerialNumber == "SIM000003"; });
  console->Rescan();
  EXPECT_FALSE(hid.GetActive());
  EXPECT_THAT(Lines(), IsEmpty());

  console->SetProgrammerFilter([](const hid::THidDevice& d) { return d.SerialNumber == "SIM000002"; });
  console->Rescan();
  ASSERT_TRUE(hid.GetActive());
  EXPECT_TRUE(Logged("编程器已打开nRF24LE1/LU1 Programmer SIM000002"));
  EXPECT_FALSE(Logged(kOpenedLine));
}

}  // namespace
}  // namespace quillet
