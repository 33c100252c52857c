// The simulated HID platform on its own: hot-plug notifications, refusals, and transfers that
// behave like an interrupt endpoint pair (held writes, blocking reads, unplug failing a read).

#include <gtest/gtest.h>

#include <poll.h>

#include <cerrno>
#include <chrono>
#include <future>
#include <memory>

#include "sim/SimHidModels.h"
#include "sim/SimHidPlatform.h"

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

bool Readable(int fd) {
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, 0) == 1;
}

TEST(SimHidPlatform, EachAttachAndDetachIsNotifiedOnce) {
  SimHidPlatform platform;
  EXPECT_FALSE(Readable(platform.Changes().Fd()));
  const std::string a = platform.Attach(Plain());
  const std::string b = platform.Attach(Plain());
  ASSERT_TRUE(platform.Detach(a));
  EXPECT_FALSE(platform.Detach(a));  // already gone: no second notification
  ASSERT_TRUE(Readable(platform.Changes().Fd()));

  std::vector<std::pair<hid::DeviceChange::Kind, std::string>> seen;
  while (auto c = platform.Changes().TakeChange()) seen.emplace_back(c->kind, c->node);
  EXPECT_EQ(seen, (std::vector<std::pair<hid::DeviceChange::Kind, std::string>>{
                      {hid::DeviceChange::Added, a},
                      {hid::DeviceChange::Added, b},
                      {hid::DeviceChange::Removed, a}}));
  EXPECT_FALSE(Readable(platform.Changes().Fd()));
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
