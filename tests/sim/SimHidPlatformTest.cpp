// The simulated HID platform on its own: hot-plug notifications, refusals, and transfers that
// behave like an interrupt endpoint pair (held writes, blocking reads, unplug failing a read).

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <future>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "sim/SimHidModels.h"
#include "sim/SimHidPlatform.h"
#include "tests/support/PostedCalls.h"
#include "tests/support/Wait.h"

namespace quillet::sim {
namespace {

using hid::HidAccess;
using hid::HidIoResult;

SimHidDeviceConfig Plain(std::shared_ptr<SimQueueModel> model = std::make_shared<SimQueueModel>()) {
  SimHidDeviceConfig c;
  c.vendorId = 0x1111;
  c.productId = 0x2222;
  c.reportDescriptor = VendorReportDescriptor64();
  c.model = std::move(model);
  return c;
}

using Change = std::pair<hid::DeviceChange::Kind, std::string>;

int DeviceNumber(const std::string& node) {
  return std::stoi(node.substr(node.find_last_not_of("0123456789") + 1));
}

TEST(SimHidPlatform, EachAttachAndDetachIsNotifiedOnce) {
  SimHidPlatform platform;
  test::PostedCalls calls;
  std::vector<Change> seen;
  const auto subscription = platform.Changes().Subscribe(
      calls.Poster(), [&](const hid::DeviceChange& c) { seen.emplace_back(c.kind, c.node); });
  EXPECT_FALSE(calls.Pending());
  const std::string a = platform.Attach(Plain());
  const std::string b = platform.Attach(Plain());
  ASSERT_TRUE(platform.Detach(a));
  EXPECT_FALSE(platform.Detach(a));  // already gone: no second notification
  ASSERT_TRUE(calls.Pending());

  calls.RunAll();
  EXPECT_EQ(seen, (std::vector<Change>{
                      {hid::DeviceChange::Added, a},
                      {hid::DeviceChange::Added, b},
                      {hid::DeviceChange::Removed, a}}));
  EXPECT_FALSE(calls.Pending());
}

// As on a real system, the notice of an unplug trails the failed transfers: it comes once the
// device's connections have let go, so a reader's close comes before the rescan it causes.
TEST(SimHidPlatform, AnUnplugIsAnnouncedOnceItsConnectionsLetGo) {
  SimHidPlatform platform;
  const std::string path = platform.Attach(Plain());
  test::PostedCalls calls;
  std::vector<Change> seen;
  const auto subscription = platform.Changes().Subscribe(
      calls.Poster(), [&](const hid::DeviceChange& c) { seen.emplace_back(c.kind, c.node); });
  auto query = platform.Open(path, HidAccess::None, true, false).handle;
  auto first = platform.Open(path, HidAccess::ReadWrite, true, true).handle;
  auto second = platform.Open(path, HidAccess::ReadWrite, true, true).handle;
  ASSERT_TRUE(first && second && query);

  ASSERT_TRUE(platform.Detach(path));
  uint8_t report[65];
  EXPECT_EQ(first->Read(report, sizeof report).status, HidIoResult::Failed);
  first.reset();
  EXPECT_FALSE(calls.Pending());
  second.reset();  // the last connection; a query handle does not hold the notice back
  calls.RunAll();
  EXPECT_EQ(seen, (std::vector<Change>{{hid::DeviceChange::Removed, path}}));
}

// Two listeners, as the window and a command-line session would be, each running its own loop on
// its own thread while a third thread plugs and unplugs devices.
TEST(SimHidPlatform, EveryListenerFollowsEveryChangeInOrderOnItsOwnThread) {
  SimHidPlatform platform;
  struct Listener {
    test::PostedCalls calls;
    std::vector<Change> seen;
    std::set<std::thread::id> threads;
    hid::Subscription subscription;
  } first, second;
  for (Listener* l : {&first, &second})
    l->subscription = platform.Changes().Subscribe(l->calls.Poster(), [l](const hid::DeviceChange& c) {
      l->seen.emplace_back(c.kind, c.node);
      l->threads.insert(std::this_thread::get_id());
    });

  constexpr size_t kDevices = 200;
  std::vector<Change> raised;
  std::thread plugger([&] {
    std::vector<std::string> attached;
    for (size_t i = 0; i < kDevices; ++i) {
      attached.push_back(platform.Attach(Plain()));
      raised.emplace_back(hid::DeviceChange::Added, attached.back());
      if (i % 3 == 2) {  // unplug one of the earlier ones now and then
        const std::string gone = attached[i - 1];
        platform.Detach(gone);
        raised.emplace_back(hid::DeviceChange::Removed, gone);
      }
    }
  });
  std::vector<std::thread::id> loops(2);
  std::vector<std::thread> runners;
  for (Listener* l : {&first, &second}) {
    runners.emplace_back([l, &loops, index = runners.size()] {
      loops[index] = std::this_thread::get_id();
      l->calls.RunUntil([l] { return l->seen.size() == kDevices + kDevices / 3; });
    });
  }
  plugger.join();
  for (auto& r : runners) r.join();

  EXPECT_EQ(first.seen, raised);
  EXPECT_EQ(second.seen, raised);
  EXPECT_EQ(first.threads, std::set<std::thread::id>{loops[0]});
  EXPECT_EQ(second.threads, std::set<std::thread::id>{loops[1]});
}

// Listeners come and go while another thread keeps plugging: a listener sees an unbroken run of
// the changes while subscribed, nothing after it let go (not even what was already posted), and
// the source never posts to a listener that has let go.
TEST(SimHidPlatform, AListenerThatLetsGoMidStreamHearsNothingMore) {
  SimHidPlatform platform;
  std::atomic<bool> stop{false};
  std::thread plugger([&] {
    while (!stop) platform.Detach(platform.Attach(Plain()));
  });

  for (int round = 0; round < 50; ++round) {
    test::PostedCalls calls;
    std::vector<Change> seen;
    std::atomic<bool> letGo{false};
    std::atomic<int> postsAfterLettingGo{0};
    const auto post = calls.Poster();
    auto subscription = platform.Changes().Subscribe(
        [&](std::function<void()> call) {
          if (letGo) ++postsAfterLettingGo;
          post(std::move(call));
        },
        [&](const hid::DeviceChange& c) { seen.emplace_back(c.kind, c.node); });
    ASSERT_TRUE(calls.RunUntil([&] { return seen.size() >= 4; }));
    ASSERT_TRUE(test::WaitUntil([&] { return calls.Pending(); }));  // a change is in flight
    subscription.Reset();
    letGo = true;
    const size_t heard = seen.size();
    calls.RunAll();
    EXPECT_EQ(seen.size(), heard);
    EXPECT_EQ(postsAfterLettingGo, 0);

    // Each device is attached and detached before the next: the run alternates, numbers rising.
    for (size_t i = 1; i < seen.size(); ++i) {
      const auto& [kind, node] = seen[i];
      const auto& [lastKind, lastNode] = seen[i - 1];
      if (lastKind == hid::DeviceChange::Added) {
        EXPECT_EQ(kind, hid::DeviceChange::Removed);
        EXPECT_EQ(node, lastNode);
      } else {
        EXPECT_EQ(kind, hid::DeviceChange::Added);
        EXPECT_EQ(DeviceNumber(node), DeviceNumber(lastNode) + 1);
      }
    }
  }
  stop = true;
  plugger.join();
}

TEST(SimHidPlatform, ASubscriptionMayOutliveItsSource) {
  test::PostedCalls calls;
  int heard = 0;
  hid::Subscription subscription;
  {
    SimHidPlatform platform;
    subscription = platform.Changes().Subscribe(calls.Poster(), [&](const hid::DeviceChange&) { ++heard; });
    platform.Attach(Plain());
  }
  calls.RunAll();
  EXPECT_EQ(heard, 1);
  subscription.Reset();
}

struct OpenCase {
  const char* name;
  void (*configure)(SimHidDeviceConfig&);
  HidAccess access;
  bool overlapped;
  bool opens;
  int error;
  bool sharingViolation;
};

class SimOpen : public ::testing::TestWithParam<OpenCase> {};

TEST_P(SimOpen, RefusesAsConfigured) {
  const OpenCase& c = GetParam();
  SimHidPlatform platform;
  SimHidDeviceConfig config = Plain();
  c.configure(config);
  const std::string path = platform.Attach(config);
  const hid::HidOpenResult r = platform.Open(path, c.access, true, c.overlapped);
  EXPECT_EQ(r.handle != nullptr, c.opens);
  EXPECT_EQ(r.error, c.error);
  EXPECT_EQ(r.sharingViolation, c.sharingViolation);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SimOpen,
    ::testing::Values(
        OpenCase{"plain", [](SimHidDeviceConfig&) {}, HidAccess::ReadWrite, true, true, 0, false},
        OpenCase{"held", [](SimHidDeviceConfig& c) { c.heldByOtherProcess = true; }, HidAccess::None, false, false, EBUSY, true},
        OpenCase{"refused_mode", [](SimHidDeviceConfig& c) { c.refusedAccess = {HidAccess::ReadWrite}; }, HidAccess::ReadWrite, true, false, EACCES, false},
        OpenCase{"refusal_is_for_connections_only", [](SimHidDeviceConfig& c) { c.refusedAccess = {HidAccess::None}; }, HidAccess::None, false, true, 0, false},
        OpenCase{"query_error", [](SimHidDeviceConfig& c) { c.queryOpenError = EIO; }, HidAccess::None, false, false, EIO, false},
        OpenCase{"query_error_spares_connections", [](SimHidDeviceConfig& c) { c.queryOpenError = EIO; }, HidAccess::ReadOnly, true, true, 0, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SimHidPlatform, OpeningADetachedDeviceFails) {
  SimHidPlatform platform;
  const std::string path = platform.Attach(Plain());
  platform.Detach(path);
  const auto r = platform.Open(path, HidAccess::ReadWrite, true, true);
  EXPECT_EQ(r.handle, nullptr);
  EXPECT_EQ(r.error, ENOENT);
}

TEST(SimHidPlatform, DetachFailsAPendingReadAndEveryLaterTransfer) {
  SimHidPlatform platform;
  const std::string path = platform.Attach(Plain());
  auto handle = platform.Open(path, HidAccess::ReadWrite, true, true).handle;
  ASSERT_NE(handle, nullptr);
  auto read = std::async(std::launch::async, [&] {
    uint8_t buffer[65];
    return handle->Read(buffer, sizeof buffer);
  });
  platform.Detach(path);
  const HidIoResult r = read.get();
  EXPECT_EQ(r.status, HidIoResult::Failed);
  EXPECT_EQ(r.error, ENODEV);
  const uint8_t report[65] = {};
  EXPECT_EQ(handle->Write(report, sizeof report).status, HidIoResult::Failed);
}

TEST(SimHidPlatform, AReadWaitsForTheDevicesReport) {
  SimHidPlatform platform;
  const std::string path = platform.Attach(Plain(std::make_shared<SimQueueModel>(/*echo=*/true)));
  auto handle = platform.Open(path, HidAccess::ReadWrite, true, true).handle;
  auto read = std::async(std::launch::async, [&] {
    std::vector<uint8_t> buffer(65, 0);
    const HidIoResult r = handle->Read(buffer.data(), buffer.size());
    return std::make_pair(r, buffer);
  });
  std::vector<uint8_t> report(65, 0);
  report[1] = 0xC3;
  ASSERT_EQ(handle->Write(report.data(), report.size()).status, HidIoResult::Ok);
  auto [r, buffer] = read.get();
  ASSERT_EQ(r.status, HidIoResult::Ok);
  EXPECT_EQ(r.count, 65u);
  EXPECT_EQ(buffer, report);
}

TEST(SimHidPlatform, HeldWritesWaitUntilTakenOrShutDown) {
  SimHidPlatform platform;
  auto model = std::make_shared<SimQueueModel>();
  const std::string path = platform.Attach(Plain(model));
  auto handle = platform.Open(path, HidAccess::ReadWrite, true, true).handle;
  platform.SetTakesWrites(path, false);
  const uint8_t report[65] = {0, 1};

  auto taken = std::async(std::launch::async, [&] { return handle->Write(report, sizeof report); });
  platform.SetTakesWrites(path, true);
  EXPECT_EQ(taken.get().status, HidIoResult::Ok);

  platform.SetTakesWrites(path, false);
  auto cancelled = std::async(std::launch::async, [&] { return handle->Write(report, sizeof report); });
  handle->Shutdown();
  EXPECT_EQ(cancelled.get().status, HidIoResult::Cancelled);
  size_t written = 0;
  platform.UpdateModel(path, [&](ISimHidModel& m) { written = static_cast<SimQueueModel&>(m).Written().size(); });
  EXPECT_EQ(written, 1u);
}

// A device that stops taking output reports after a number of them, as a stalled programmer
// does in the middle of an image stream.
TEST(SimHidPlatform, StopsTakingWritesAfterItsLimit) {
  SimHidPlatform platform;
  auto model = std::make_shared<SimQueueModel>();
  SimHidDeviceConfig config = Plain(model);
  config.takesOutputReports = 3;
  const std::string path = platform.Attach(config);
  auto handle = platform.Open(path, HidAccess::ReadWrite, true, true).handle;
  const uint8_t report[65] = {0, 1};
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(handle->Write(report, sizeof report, std::chrono::milliseconds(1000)).status, HidIoResult::Ok) << i;

  const HidIoResult blocked = handle->Write(report, sizeof report, std::chrono::milliseconds(50));
  EXPECT_EQ(blocked.status, HidIoResult::Failed);
  EXPECT_EQ(blocked.error, ETIMEDOUT);

  auto held = std::async(std::launch::async, [&] { return handle->Write(report, sizeof report); });
  platform.SetTakesWrites(path, true);  // it takes them again
  EXPECT_EQ(held.get().status, HidIoResult::Ok);
  size_t written = 0;
  platform.UpdateModel(path, [&](ISimHidModel& m) { written = static_cast<SimQueueModel&>(m).Written().size(); });
  EXPECT_EQ(written, 4u);
}

TEST(SimHidPlatform, HandlesHonourTheirAccess) {
  SimHidPlatform platform;
  const std::string path = platform.Attach(Plain());
  uint8_t buffer[65] = {};
  auto writeOnly = platform.Open(path, HidAccess::WriteOnly, true, true).handle;
  EXPECT_EQ(writeOnly->Read(buffer, sizeof buffer).status, HidIoResult::Failed);
  auto readOnly = platform.Open(path, HidAccess::ReadOnly, true, true).handle;
  EXPECT_EQ(readOnly->Write(buffer, sizeof buffer).status, HidIoResult::Failed);
  auto none = platform.Open(path, HidAccess::None, true, true).handle;
  EXPECT_EQ(none->Write(buffer, sizeof buffer).status, HidIoResult::Failed);
}

}  // namespace
}  // namespace quillet::sim
