#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "hid/HidIO.h"
#include "sim/SimHidModels.h"
#include "sim/SimHidPlatform.h"
#include "tests/hid/HidTestSupport.h"

namespace quillet::hid {
namespace {

using test::QueueDevice;
using test::WaitForReleasedHandles;

// How a connection ends in one cycle of the stress run.
enum class Ending { UiClose, Unplug, UiCloseAndUnplugTogether, CloseWithWriteHeld };

struct Tag {
  static std::vector<uint8_t> Report(uint32_t generation, uint8_t hops) {
    std::vector<uint8_t> r(65, 0);
    for (int i = 0; i < 4; ++i) r[1 + i] = static_cast<uint8_t>(generation >> (8 * i));
    r[5] = hops;
    return r;
  }
  static uint32_t Generation(const uint8_t* r) {
    return static_cast<uint32_t>(r[1]) | r[2] << 8 | r[3] << 16 | static_cast<uint32_t>(r[4]) << 24;
  }
};

class RaceStress : public ::testing::TestWithParam<Ending> {};

TEST_P(RaceStress, CloseOnceNoStaleDeliveryNoHandleLeft) {
  constexpr int kCycles = 150;
  const Ending ending = GetParam();
  auto platform = std::make_shared<sim::SimHidPlatform>();
  auto model = std::make_shared<sim::SimQueueModel>(/*echo=*/true);
  std::string path = platform->Attach(QueueDevice(model));
  THidIO hid(nullptr, platform);

  std::atomic<uint32_t> generation{0};
  std::atomic<int> closes{0};
  std::atomic<int> staleDeliveries{0};
  std::atomic<int> deliveries{0};
  hid.OnClose = [&](TBaseIO*) { ++closes; };
  hid.OnAfterReceive = [&](TBaseIO*, const uint8_t* buffer, uint32_t received) {
    ++deliveries;
    if (received != 65 || Tag::Generation(buffer) != generation) ++staleDeliveries;
    // Reply from the reader thread, as the engine does during a write stream.
    if (buffer[5] < 3) {
      auto reply = Tag::Report(Tag::Generation(buffer), static_cast<uint8_t>(buffer[5] + 1));
      hid.WriteReport(reply.data(), 65);
    }
  };

  for (int cycle = 0; cycle < kCycles; ++cycle) {
    SCOPED_TRACE(cycle);
    platform->UpdateModel(path, [](sim::ISimHidModel& m) {
      static_cast<sim::SimQueueModel&>(m).DropInput();
    });
    hid.Update();
    hid.SetDeviceIndex(0);
    generation = static_cast<uint32_t>(cycle);
    hid.SetActive(true);
    ASSERT_TRUE(hid.GetActive());

    std::atomic<bool> writing{true};
    std::thread writer([&, gen = static_cast<uint32_t>(cycle)] {
      auto report = Tag::Report(gen, 0);
      for (int i = 0; i < 20 && writing; ++i)
        if (!hid.WriteReport(report.data(), 65)) break;
    });

    bool unplugged = false;
    switch (ending) {
      case Ending::UiClose:
        hid.SetActive(false);
        break;
      case Ending::Unplug:
        platform->Detach(path);
        unplugged = true;
        break;
      case Ending::UiCloseAndUnplugTogether: {
        // Both start from the same moment, so that the reader's close after the failed read
        // and the UI's close meet as often as possible.
        std::atomic<int> ready{0};
        std::thread unplug([&] {
          ++ready;
          while (ready < 2) {
          }
          platform->Detach(path);
        });
        ++ready;
        while (ready < 2) {
        }
        hid.Close();
        unplug.join();
        unplugged = true;
        break;
      }
      case Ending::CloseWithWriteHeld:
        platform->SetTakesWrites(path, false);
        hid.SetActive(false);
        platform->SetTakesWrites(path, true);
        break;
    }
    writing = false;
    writer.join();
    ASSERT_TRUE(WaitForReleasedHandles(*platform)) << "a reader kept its handle";
    EXPECT_FALSE(hid.GetActive());
    EXPECT_EQ(closes.load(), cycle + 1);
    hid.SetActive(false);  // closing an already closed connection changes nothing
    EXPECT_EQ(closes.load(), cycle + 1);
    if (unplugged) path = platform->Attach(QueueDevice(model));
  }
  EXPECT_EQ(staleDeliveries.load(), 0);
}

INSTANTIATE_TEST_SUITE_P(Endings, RaceStress,
                         ::testing::Values(Ending::UiClose, Ending::Unplug,
                                           Ending::UiCloseAndUnplugTogether,
                                           Ending::CloseWithWriteHeld),
                         [](const auto& info) {
                           switch (info.param) {
                             case Ending::UiClose: return "ui_close";
                             case Ending::Unplug: return "unplug";
                             case Ending::UiCloseAndUnplugTogether: return "close_and_unplug";
                             case Ending::CloseWithWriteHeld: return "close_with_write_held";
                           }
                           return "unknown";
                         });

TEST(RaceStress, ManyThreadsWritingWhileTheConnectionClosesNeverFailAfterSuccess) {
  auto platform = std::make_shared<sim::SimHidPlatform>();
  auto model = std::make_shared<sim::SimQueueModel>();
  const std::string path = platform->Attach(QueueDevice(model));
  THidIO hid(nullptr, platform);
  hid.Update();
  hid.SetDeviceIndex(0);
  for (int cycle = 0; cycle < 50; ++cycle) {
    hid.SetActive(true);
    std::atomic<int> okAfterClose{0};
    std::atomic<bool> closed{false};
    std::vector<std::thread> writers;
    for (int t = 0; t < 3; ++t)
      writers.emplace_back([&] {
        const uint8_t report[65] = {};
        for (int i = 0; i < 30; ++i) {
          const bool wasClosed = closed;
          const bool ok = hid.WriteReport(report, sizeof report);
          if (wasClosed && ok) ++okAfterClose;  // began after the close returned, yet succeeded
        }
      });
    hid.SetActive(false);
    closed = true;
    for (auto& w : writers) w.join();
    EXPECT_EQ(okAfterClose.load(), 0);
  }
  EXPECT_TRUE(WaitForReleasedHandles(*platform));
}

}  // namespace
}  // namespace quillet::hid
