#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "hid/HidIO.h"
#include "sim/SimHidModels.h"
#include "sim/SimHidPlatform.h"
#include "tests/hid/HidTestSupport.h"

namespace quillet::hid {
namespace {

using sim::SimHidDeviceConfig;
using sim::SimQueueModel;
using test::EventRecorder;
using test::QueueDevice;
using test::VendorDevice;
using test::WaitForReleasedHandles;

class Connection : public ::testing::Test {
 protected:
  // Attaches `config` as the only device and selects it.
  std::string AttachAndSelect(SimHidDeviceConfig config) {
    const std::string path = platform->Attach(std::move(config));
    hid.Update();
    hid.SetDeviceIndex(0);
    return path;
  }

  void Input(const std::string& path, std::vector<uint8_t> report) {
    ASSERT_TRUE(platform->UpdateModel(path, [&](sim::ISimHidModel& m) {
      static_cast<SimQueueModel&>(m).QueueInput(std::move(report));
    }));
  }

  size_t WrittenCount(const std::string& path) {
    size_t n = 0;
    platform->UpdateModel(path, [&](sim::ISimHidModel& m) {
      n = static_cast<SimQueueModel&>(m).Written().size();
    });
    return n;
  }

  void TearDown() override {
    hid.SetActive(false);
    EXPECT_TRUE(WaitForReleasedHandles(*platform));
  }

  std::shared_ptr<sim::SimHidPlatform> platform = std::make_shared<sim::SimHidPlatform>();
  std::shared_ptr<SimQueueModel> model = std::make_shared<SimQueueModel>();
  THidIO hid{nullptr, platform};
  EventRecorder events;
};

struct AccessCase {
  const char* name;
  std::set<HidAccess> refused;
  std::vector<HidAccess> attempts;
  bool read, write, reader;
};

class AccessAttempts : public Connection, public ::testing::WithParamInterface<AccessCase> {};

TEST_P(AccessAttempts, StopAtTheFirstModeTheDeviceAllows) {
  const AccessCase& c = GetParam();
  SimHidDeviceConfig config = QueueDevice(model);
  config.refusedAccess = c.refused;
  const std::string path = AttachAndSelect(config);
  events.Bind(hid);
  platform->ClearOpens();

  hid.SetActive(true);
  ASSERT_TRUE(hid.GetActive());
  std::vector<HidAccess> attempts;
  for (const auto& o : platform->Opens()) {
    EXPECT_TRUE(o.overlapped);
    EXPECT_TRUE(o.shared);  // SharedMode defaults to true
    attempts.push_back(o.access);
  }
  EXPECT_EQ(attempts, c.attempts);
  EXPECT_EQ(hid.OpenedForReading(), c.read);
  EXPECT_EQ(hid.OpenedForWriting(), c.write);
  EXPECT_EQ(events.opens, 1);

  const uint8_t report[65] = {0, 0x42};
  EXPECT_EQ(hid.WriteReport(report, sizeof report), c.write);
  EXPECT_EQ(WrittenCount(path), c.write ? 1u : 0u);
  if (c.reader) {  // a reader runs exactly when the open could read
    Input(path, {0, 7});
    ASSERT_TRUE(events.WaitFor([&] { return events.reports.size() == 1; }));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Modes, AccessAttempts,
    ::testing::Values(
        AccessCase{"read_write", {}, {HidAccess::ReadWrite}, true, true, true},
        AccessCase{"read_only", {HidAccess::ReadWrite}, {HidAccess::ReadWrite, HidAccess::ReadOnly}, true, false, true},
        AccessCase{"write_only",
                   {HidAccess::ReadWrite, HidAccess::ReadOnly},
                   {HidAccess::ReadWrite, HidAccess::ReadOnly, HidAccess::WriteOnly}, false, true, false},
        AccessCase{"no_access",
                   {HidAccess::ReadWrite, HidAccess::ReadOnly, HidAccess::WriteOnly},
                   {HidAccess::ReadWrite, HidAccess::ReadOnly, HidAccess::WriteOnly, HidAccess::None},
                   false, false, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Connection, SharedModeOffOpensUnshared) {
  AttachAndSelect(QueueDevice(model));
  hid.SharedMode = false;
  platform->ClearOpens();
  hid.SetActive(true);
  ASSERT_EQ(platform->Opens().size(), 1u);
  EXPECT_FALSE(platform->Opens()[0].shared);
}

struct FatalCase {
  const char* name;
  bool selectDevice;
  uint32_t detail;
  std::string message;
};

class FatalOpen : public Connection, public ::testing::WithParamInterface<FatalCase> {};

TEST_P(FatalOpen, RaisesTheEventThenTheExceptionAndStaysClosed) {
  const FatalCase& c = GetParam();
  SimHidDeviceConfig config = QueueDevice(model);
  config.refusedAccess = {HidAccess::ReadWrite, HidAccess::ReadOnly, HidAccess::WriteOnly,
                          HidAccess::None};
  AttachAndSelect(config);
  if (!c.selectDevice) hid.SetDeviceIndex(-1);
  events.Bind(hid);
  std::vector<std::string> log;
  hid.Log = [&](TDetailLevel level, const std::string& line) {
    if (level == dlSimple) log.push_back(line);
  };

  try {
    hid.SetActive(true);
    FAIL() << "no exception";
  } catch (const EHidError& e) {
    EXPECT_EQ(e.what(), c.message);
  }
  EXPECT_FALSE(hid.GetActive());
  EXPECT_EQ(events.opens, 0);
  ASSERT_EQ(events.fatal.size(), 1u);
  EXPECT_EQ(events.fatal[0].code, 16u);
  EXPECT_EQ(events.fatal[0].detail, c.detail);
  EXPECT_EQ(events.fatal[0].msg, c.message);
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0], "HID: Fatal Error: 16, " + std::to_string(c.detail) + ", " + c.message);
}

INSTANTIATE_TEST_SUITE_P(
    Failures, FatalOpen,
    ::testing::Values(FatalCase{"no_device_selected", false, 2, "Active device is not selected"},
                      FatalCase{"every_attempt_refused", true, EACCES, std::strerror(EACCES)}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Connection, AHandlerClearingRaiseExceptionStopsTheException) {
  events.Bind(hid);
  events.raiseOnFatal = false;
  hid.SetDeviceIndex(-1);
  EXPECT_NO_THROW(hid.SetActive(true));
  EXPECT_EQ(events.fatal.size(), 1u);
  EXPECT_FALSE(hid.GetActive());
}

TEST_F(Connection, DeviceHeldByAnotherProcessCannotBeOpened) {
  SimHidDeviceConfig config = QueueDevice(model);
  config.heldByOtherProcess = true;
  AttachAndSelect(config);
  events.Bind(hid);
  EXPECT_THROW(hid.SetActive(true), EHidError);
  ASSERT_EQ(events.fatal.size(), 1u);
  EXPECT_EQ(events.fatal[0].detail, static_cast<uint32_t>(EBUSY));
}

TEST_F(Connection, SettingActiveToItsCurrentValueDoesNothing) {
  AttachAndSelect(QueueDevice(model));
  events.Bind(hid);
  hid.SetActive(false);
  EXPECT_EQ(events.closes, 0);
  hid.SetActive(true);
  const size_t opens = platform->Opens().size();
  hid.SetActive(true);
  hid.Open();
  EXPECT_EQ(platform->Opens().size(), opens);
  EXPECT_EQ(events.opens, 1);
  EXPECT_EQ(platform->LiveConnectionHandles(), 1);
  hid.SetActive(false);
  hid.SetActive(false);
  hid.Close();
  EXPECT_EQ(events.closes, 1);
}

TEST_F(Connection, UnplugDuringAPendingReadClosesOnTheReaderOnce) {
  const std::string path = AttachAndSelect(QueueDevice(model));
  events.Bind(hid);
  hid.SetActive(true);
  platform->Detach(path);
  ASSERT_TRUE(events.WaitFor([&] { return events.closes == 1; }));
  EXPECT_NE(events.closeThreads[0], std::this_thread::get_id());
  EXPECT_FALSE(hid.GetActive());
  ASSERT_TRUE(WaitForReleasedHandles(*platform));
  hid.SetActive(false);
  const uint8_t report[65] = {};
  EXPECT_FALSE(hid.WriteReport(report, sizeof report));
  EXPECT_EQ(events.closes, 1);
  EXPECT_TRUE(events.reports.empty());
}

TEST_F(Connection, CloseEndsAPendingReadWithoutDelivery) {
  const std::string path = AttachAndSelect(QueueDevice(model));
  events.Bind(hid);
  hid.SetActive(true);
  hid.SetActive(false);
  EXPECT_EQ(events.closes, 1);
  EXPECT_EQ(events.closeThreads[0], std::this_thread::get_id());
  // The reader has let go of the device once its read ended.
  ASSERT_TRUE(WaitForReleasedHandles(*platform));
  Input(path, {0, 1, 2, 3});
  EXPECT_TRUE(events.reports.empty());
}

TEST_F(Connection, AReportReadAsTheConnectionClosesIsNeverDelivered) {
  const std::string path = AttachAndSelect(QueueDevice(model));
  events.Bind(hid);
  hid.SetActive(true);
  platform->SetHoldCompletedReads(path, true);
  Input(path, {0, 1});
  // Wait until the reader has taken the report; its read now completes only when released.
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  bool taken = false;
  while (!taken && std::chrono::steady_clock::now() < until) {
    platform->UpdateModel(path, [&](sim::ISimHidModel& m) { taken = !m.HasInputReport(); });
    if (!taken) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ASSERT_TRUE(taken);

  hid.SetActive(false);
  // The next connection opens while the old read is still in flight.
  auto reopened = std::async(std::launch::async, [&] { hid.SetActive(true); });
  platform->SetHoldCompletedReads(path, false);  // the old read now returns its report
  reopened.get();
  ASSERT_TRUE(hid.GetActive());
  Input(path, {0, 2});
  ASSERT_TRUE(events.WaitFor([&] { return !events.reports.empty(); }));
  hid.SetActive(false);
  ASSERT_TRUE(WaitForReleasedHandles(*platform));
  std::lock_guard lock(events.mutex);
  ASSERT_EQ(events.reports.size(), 1u);
  EXPECT_EQ(events.reports[0][1], 2);  // only the later connection's own report
}

TEST_F(Connection, EveryReportHasTheInputLengthAndShortOnesAreZeroFilled) {
  const std::string path = AttachAndSelect(QueueDevice(model));
  events.Bind(hid);
  hid.SetActive(true);
  Input(path, std::vector<uint8_t>(65, 0xAA));
  Input(path, {0, 1, 2, 3});
  Input(path, std::vector<uint8_t>(100, 0x55));  // longer than the report: cut at 65
  ASSERT_TRUE(events.WaitFor([&] { return events.reports.size() == 3; }));
  std::lock_guard lock(events.mutex);
  for (const auto& r : events.reports) EXPECT_EQ(r.size(), 65u);
  EXPECT_EQ(events.reports[0], std::vector<uint8_t>(65, 0xAA));
  std::vector<uint8_t> shortOne(65, 0);
  shortOne[1] = 1, shortOne[2] = 2, shortOne[3] = 3;
  EXPECT_EQ(events.reports[1], shortOne);
  EXPECT_EQ(events.reports[2], std::vector<uint8_t>(65, 0x55));
}

TEST_F(Connection, BuffersAreKeptAfterCloseAndAfterAFailedOpen) {
  AttachAndSelect(QueueDevice(model));
  SimHidDeviceConfig held = VendorDevice(9, 9);
  held.heldByOtherProcess = true;
  platform->Attach(held);
  hid.Update();
  hid.SetDeviceIndex(0);
  hid.SetActive(true);
  const auto* input = hid.InputBuffer();
  const auto* output = hid.OutputBuffer();
  ASSERT_NE(input, nullptr);
  ASSERT_NE(output, nullptr);
  EXPECT_EQ(input->size(), 65u);
  EXPECT_EQ(hid.FeatureBuffer(), nullptr);  // no feature report, no buffer
  hid.SetActive(false);
  EXPECT_EQ(hid.InputBuffer(), input);
  EXPECT_EQ(hid.InputBuffer()->size(), 65u);

  hid.SetDeviceIndex(1);
  EXPECT_THROW(hid.SetActive(true), EHidError);
  EXPECT_EQ(hid.InputBuffer(), input);
  EXPECT_EQ(hid.OutputBuffer(), output);
  EXPECT_EQ(hid.InputLength(), 65u);
}

TEST_F(Connection, WriteOnAClosedConnectionTouchesNothing) {
  const std::string path = AttachAndSelect(QueueDevice(model));
  const uint8_t report[65] = {};
  EXPECT_FALSE(hid.WriteReport(report, sizeof report));
  hid.SetActive(true);
  hid.SetActive(false);
  EXPECT_FALSE(hid.WriteReport(report, sizeof report));
  EXPECT_FALSE(hid.SendString("abc"));
  EXPECT_FALSE(hid.SendChar('x'));
  EXPECT_EQ(WrittenCount(path), 0u);
}

TEST_F(Connection, SendCharAndSendStringWriteTheirBytesAsOneReport) {
  const std::string path = AttachAndSelect(QueueDevice(model));
  hid.SetActive(true);
  EXPECT_TRUE(hid.SendChar('x'));
  EXPECT_TRUE(hid.SendString("abc"));
  EXPECT_FALSE(hid.SendString(""));  // nothing to send: no report at all
  EXPECT_TRUE(hid.SendData("\0\1", 2));
  std::vector<std::vector<uint8_t>> written;
  platform->UpdateModel(path, [&](sim::ISimHidModel& m) { written = static_cast<SimQueueModel&>(m).Written(); });
  EXPECT_EQ(written, (std::vector<std::vector<uint8_t>>{{'x'}, {'a', 'b', 'c'}, {0, 1}}));
}

TEST_F(Connection, AWriteTheDeviceDoesNotTakeEndsFalseWhenTheConnectionCloses) {
  const std::string path = AttachAndSelect(QueueDevice(model));
  hid.SetActive(true);
  platform->SetTakesWrites(path, false);
  auto write = std::async(std::launch::async, [&] {
    const uint8_t report[65] = {0, 1};
    return hid.WriteReport(report, sizeof report);
  });
  // Whether the write has started yet or not, closing must end it with false.
  hid.SetActive(false);
  EXPECT_FALSE(write.get());
  EXPECT_EQ(WrittenCount(path), 0u);
}

TEST_F(Connection, AHeldWriteCompletesOnceTheDeviceTakesIt) {
  const std::string path = AttachAndSelect(QueueDevice(model));
  hid.SetActive(true);
  platform->SetTakesWrites(path, false);
  auto write = std::async(std::launch::async, [&] {
    const uint8_t report[65] = {0, 1};
    return hid.WriteReport(report, sizeof report);
  });
  platform->SetTakesWrites(path, true);
  EXPECT_TRUE(write.get());
  EXPECT_EQ(WrittenCount(path), 1u);
}

TEST_F(Connection, AWriteTheDeviceDoesNotTakeWithinTheLimitFailsAndTheConnectionStaysOpen) {
  const std::string path = AttachAndSelect(QueueDevice(model));
  hid.WriteTimeout = 50;
  hid.SetActive(true);
  platform->SetTakesWrites(path, false);
  const uint8_t report[65] = {0, 1};
  EXPECT_FALSE(hid.WriteReport(report, sizeof report));
  EXPECT_TRUE(hid.GetActive());
  EXPECT_EQ(WrittenCount(path), 0u);
  platform->SetTakesWrites(path, true);
  EXPECT_TRUE(hid.WriteReport(report, sizeof report));
  EXPECT_EQ(WrittenCount(path), 1u);
}

TEST_F(Connection, AFailingReceiveHandlerEndsTheReaderButNotTheConnection) {
  const std::string path = AttachAndSelect(QueueDevice(model));
  events.Bind(hid);
  std::atomic<int> calls{0};
  hid.OnAfterReceive = [&](TBaseIO*, const uint8_t*, uint32_t) {
    ++calls;
    throw std::runtime_error("handler failed");
  };
  hid.SetActive(true);
  Input(path, {0, 1});
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (calls == 0 && std::chrono::steady_clock::now() < until)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_EQ(calls, 1);
  Input(path, {0, 2});
  EXPECT_TRUE(hid.GetActive());
  const uint8_t report[65] = {};
  EXPECT_TRUE(hid.WriteReport(report, sizeof report));

  // Closing and opening again brings a reader back.
  hid.SetActive(false);
  EXPECT_EQ(events.closes, 1);
  events.Bind(hid);
  hid.SetActive(true);
  ASSERT_TRUE(events.WaitFor([&] { return !events.reports.empty(); }));
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(events.reports[0][1], 2);  // the report left waiting while no reader ran
}

TEST_F(Connection, StoredActiveIsAppliedWhenLoaded) {
  AttachAndSelect(QueueDevice(model));
  events.Bind(hid);
  hid.BeginLoading();
  hid.SetActive(true);
  EXPECT_TRUE(hid.GetActive());  // the stored value while loading
  EXPECT_EQ(events.opens, 0);
  EXPECT_EQ(platform->LiveConnectionHandles(), 0);
  hid.Loaded();
  EXPECT_EQ(events.opens, 1);
  EXPECT_TRUE(hid.GetActive());
}

TEST_F(Connection, AStoredActiveThatCannotOpenShowsAMessageBox) {
  events.Bind(hid);
  std::vector<std::pair<std::string, std::string>> boxes;
  hid.MessageBox = [&](const std::string& text, const std::string& caption) {
    boxes.emplace_back(text, caption);
  };
  hid.SetDeviceIndex(-1);
  hid.BeginLoading();
  hid.SetActive(true);
  EXPECT_NO_THROW(hid.Loaded());
  EXPECT_EQ(events.fatal.size(), 1u);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0], std::make_pair(std::string("error"), std::string("Error")));
  EXPECT_FALSE(hid.GetActive());
}

TEST_F(Connection, UseMainThreadHandsDeliveryToTheInvoker) {
  const std::string path = AttachAndSelect(QueueDevice(model));
  events.Bind(hid);
  std::atomic<int> invoked{0};
  hid.SetMainThreadInvoker([&](const std::function<void()>& call) {
    ++invoked;
    call();
  });
  hid.SetUseMainThread(true);
  hid.SetActive(true);
  Input(path, {0, 9});
  ASSERT_TRUE(events.WaitFor([&] { return events.reports.size() == 1; }));
  EXPECT_EQ(invoked, 1);
}

// Calls handed to the UI thread wait in a queue until the test, playing the UI thread, runs them.
class UiQueue {
 public:
  void Invoke(const std::function<void()>& call) {
    std::promise<void> done;
    auto finished = done.get_future();
    {
      std::lock_guard lock(mutex_);
      calls_.push_back({&call, &done});
      changed_.notify_all();
    }
    finished.wait();
  }
  // Waits for one handed-over call and runs it on the calling thread.
  bool RunOne() {
    std::unique_lock lock(mutex_);
    if (!changed_.wait_for(lock, std::chrono::seconds(10), [&] { return !calls_.empty(); }))
      return false;
    auto [call, done] = calls_.front();
    calls_.pop_front();
    lock.unlock();
    (*call)();
    done->set_value();
    return true;
  }
  bool WaitForPending() {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(10), [&] { return !calls_.empty(); });
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::pair<const std::function<void()>*, std::promise<void>*>> calls_;
};

TEST_F(Connection, UseMainThreadDropsAReportWhoseConnectionClosedBeforeItRan) {
  const std::string path = AttachAndSelect(QueueDevice(model));
  events.Bind(hid);
  UiQueue ui;
  hid.SetMainThreadInvoker([&](const std::function<void()>& call) { ui.Invoke(call); });
  hid.SetUseMainThread(true);
  hid.SetActive(true);
  Input(path, {0, 1});
  ASSERT_TRUE(ui.WaitForPending());  // the reader now waits for the UI thread
  hid.SetActive(false);              // the UI closes first...
  hid.SetActive(true);               // ...and opens again without waiting for that reader
  ASSERT_TRUE(ui.RunOne());          // the old report reaches the UI thread: dropped
  Input(path, {0, 2});
  ASSERT_TRUE(ui.RunOne());
  hid.SetActive(false);
  ASSERT_TRUE(WaitForReleasedHandles(*platform));  // no reader is left to hand calls over
  std::lock_guard lock(events.mutex);
  ASSERT_EQ(events.reports.size(), 1u);
  EXPECT_EQ(events.reports[0][1], 2);
  EXPECT_EQ(events.closes, 2);
}

TEST_F(Connection, ExceptionsFromOpenAndCloseHandlersAreDropped) {
  AttachAndSelect(QueueDevice(model));
  hid.OnOpen = [](TBaseIO*) { throw std::runtime_error("open handler"); };
  hid.OnClose = [](TBaseIO*) { throw 42; };
  EXPECT_NO_THROW(hid.SetActive(true));
  EXPECT_TRUE(hid.GetActive());
  EXPECT_NO_THROW(hid.SetActive(false));
  EXPECT_FALSE(hid.GetActive());
}

TEST_F(Connection, OpenAndCloseWriteTheirDiagnosticLines) {
  const std::string path = AttachAndSelect(QueueDevice(model));
  std::mutex mutex;
  std::vector<std::string> lines;
  hid.Log = [&](TDetailLevel level, const std::string& line) {
    std::lock_guard lock(mutex);
    if (level == dlDetail) lines.push_back(line);
  };
  hid.SetActive(true);
  hid.SetActive(false);
  ASSERT_TRUE(WaitForReleasedHandles(*platform));  // the reader has written its last line
  std::lock_guard lock(mutex);
  EXPECT_EQ(lines, (std::vector<std::string>{"HID: try to open device " + path,
                                             "HID: device has opened " + path + " R:1 W:1 in:65 out:65",
                                             "HID: close device."}));
}

TEST_F(Connection, DestroyingAnOpenComponentClosesAndWaitsForItsReader) {
  AttachAndSelect(QueueDevice(model));
  {
    THidIO local(nullptr, platform);
    local.Update();
    local.SetDeviceIndex(0);
    local.SetActive(true);
    EXPECT_EQ(platform->LiveConnectionHandles(), 1);
  }
  EXPECT_EQ(platform->LiveConnectionHandles(), 0);
}

}  // namespace
}  // namespace quillet::hid
