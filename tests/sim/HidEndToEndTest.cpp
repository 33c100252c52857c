// The engine driving the simulated programmer through the HID component, as the main window
// will: the test thread plays the UI thread, replies arrive and the write stream runs on the
// component's reader thread.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "engine/Cpro.h"
#include "programmer/LogText.h"
#include "engine/Wire.h"
#include "hid/HidIO.h"
#include "sim/SimHidModels.h"
#include "sim/SimHidPlatform.h"
#include "sim/SimProgrammer.h"
#include "tests/support/Values.h"

namespace quillet {
namespace {

using test::RandomBytes;

class EndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::SimProgrammerConfig config;
    config.flashSize = 32768;
    programmer = std::make_shared<sim::SimProgrammer>(config);
    platform->Attach(sim::ProgrammerDeviceConfig(programmer));

    engine.SetSendReport([this](const uint8_t* bytes, size_t length) {
      const auto report = FrameOutputReport(bytes, length);
      if (!hid.WriteReport(report.data(), static_cast<unsigned>(report.size()))) ++failedWrites;
    });
    engine.SetEngineEvent([this](const EngineEvent& e) {
      std::lock_guard lock(mutex);
      if (auto* p = std::get_if<ReadProgressEvent>(&e)) readProgress = p->received;
      if (auto* p = std::get_if<WriteProgressEvent>(&e)) writeProgress = p->sent;
      if (auto* p = std::get_if<VerifyEvent>(&e)) verdicts.push_back(p->agree ? 1 : 0);
      if (std::holds_alternative<IdentityEvent>(e)) ++identities;
      // The lines the engine raised around its own steps.
      if (std::holds_alternative<ConnectEvent>(e) || std::holds_alternative<WriteStartEvent>(e) ||
          std::holds_alternative<UnknownChipEvent>(e))
        for (auto& line : logtext::LinesOf(e)) log.push_back(line);
      changed.notify_all();
    });
    hid.OnClose = [this](hid::TBaseIO*) {
      std::lock_guard lock(mutex);
      ++closes;
      changed.notify_all();
    };
    hid.OnAfterReceive = [this](hid::TBaseIO*, const uint8_t* report, uint32_t received) {
      {
        std::lock_guard lock(mutex);
        if (std::this_thread::get_id() == testThread) ++repliesOnTestThread;
        ++replies;
      }
      engine.HandleReport(report + 1, received - 1);
    };

    // Discovery as the console does it: the first entry with the programmer's IDs.
    hid.EnumFullMode = true;
    hid.Update();
    for (int i = 0; i < hid.GetDeviceCount(); ++i) {
      hid.SetDeviceIndex(i);
      if (hid.SelectedDevice()->GetVendorId() == 0x04D8 &&
          hid.SelectedDevice()->GetProductId() == 0x003F)
        break;
    }
    hid.SetActive(true);
    ASSERT_TRUE(hid.GetActive());
    ASSERT_EQ(hid.InputLength(), 65u);
    ASSERT_EQ(hid.OutputLength(), 65u);
  }

  void TearDown() override { hid.SetActive(false); }

  template <typename Pred>
  bool WaitFor(Pred pred) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, std::chrono::seconds(30), pred);
  }

  std::shared_ptr<sim::SimProgrammer> programmer;
  std::shared_ptr<sim::SimHidPlatform> platform = std::make_shared<sim::SimHidPlatform>();
  CPro engine;
  hid::THidIO hid{nullptr, platform};

  const std::thread::id testThread = std::this_thread::get_id();
  std::mutex mutex;
  std::condition_variable changed;
  int32_t readProgress = 0;
  int32_t writeProgress = 0;
  std::vector<int32_t> verdicts;
  int identities = 0;
  int closes = 0;
  int replies = 0;
  int repliesOnTestThread = 0;
  std::atomic<int> failedWrites{0};
  std::vector<std::string> log;
};

TEST_F(EndToEnd, ConnectGetsTheIdentity) {
  engine.Connect();
  ASSERT_TRUE(WaitFor([&] { return identities == 1; }));
  EXPECT_EQ(repliesOnTestThread, 0);
}

TEST_F(EndToEnd, ReadsTheWhole32KiBFlash) {
  const auto flash = RandomBytes(32768, 7);
  programmer->SetFlash(flash);
  engine.SelectChip("NRF24LU1_32K");
  engine.EditTask([&](ProgrammerTask& t) {
    FillTask(t, OP_READ, {}, engine.Chip().FlashSize);
  });
  ASSERT_EQ(engine.Task().Size(), 32768u);
  engine.SendTask();
  ASSERT_TRUE(WaitFor([&] { return readProgress == 32768; }));

  std::vector<uint8_t> got(32768);
  engine.CopyReadImage(0, got.data(), got.size());
  EXPECT_EQ(got, flash);
  std::lock_guard lock(mutex);
  EXPECT_EQ(replies, 1 + 512);  // the start reply, then one report per 64 bytes
  EXPECT_EQ(repliesOnTestThread, 0);
  EXPECT_EQ(failedWrites.load(), 0);
}

TEST_F(EndToEnd, Writes16KiBAndVerifies) {
  const auto image = RandomBytes(16384, 11);
  engine.SelectChip("NRF24LU1_32K");
  engine.EditWriteImage([&](uint8_t* buffer, size_t) { std::copy(image.begin(), image.end(), buffer); });
  engine.EditTask([&](ProgrammerTask& t) {
    FillTask(t, OP_WRITE, {/*verify=*/true, false, /*erase=*/true, false}, 16384);
  });
  engine.SendTask();
  ASSERT_TRUE(WaitFor([&] { return !verdicts.empty(); }));

  EXPECT_EQ(verdicts, std::vector<int32_t>{1});
  const auto flash = programmer->Flash();
  EXPECT_TRUE(std::equal(image.begin(), image.end(), flash.begin()));
  EXPECT_TRUE(std::all_of(flash.begin() + 16384, flash.end(), [](uint8_t b) { return b == 0xFF; }));
  std::lock_guard lock(mutex);
  EXPECT_EQ(writeProgress, 16384);
  EXPECT_EQ(repliesOnTestThread, 0);
  EXPECT_EQ(failedWrites.load(), 0);
  EXPECT_EQ(programmer->PendingImageReports(), 0u);
}

TEST_F(EndToEnd, UnplugMidReadEndsTheStreamAndTheConnection) {
  // Paced like a full-speed endpoint, so that the stream is surely still running at the unplug.
  hid.SetActive(false);
  platform->Detach(hid.SelectedDevice()->InterfacePath);
  platform->Attach(sim::ProgrammerDeviceConfig(programmer, std::chrono::microseconds(1000)));
  hid.Update();
  hid.SetDeviceIndex(0);
  hid.SetActive(true);
  {
    std::lock_guard lock(mutex);
    closes = 0;
  }
  engine.SelectChip("NRF24LU1_32K");
  engine.EditTask([&](ProgrammerTask& t) { FillTask(t, OP_READ, {}, engine.Chip().FlashSize); });
  engine.SendTask();
  ASSERT_TRUE(WaitFor([&] { return readProgress >= 64; }));
  platform->Detach(hid.SelectedDevice()->InterfacePath);
  ASSERT_TRUE(WaitFor([&] { return closes == 1; }));
  EXPECT_LT(readProgress, 32768);
  EXPECT_FALSE(hid.GetActive());
  hid.SetActive(false);
  EXPECT_EQ(closes, 1);
}

}  // namespace
}  // namespace quillet
