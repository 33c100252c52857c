#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <vector>

#include "hid/UdevMonitor.h"
#include "tests/support/PostedCalls.h"

namespace quillet::hid {
namespace {

// No hidraw device can be plugged on a build machine, so only the quiet state is checked here:
// the monitor comes up (or says why not), listeners come and go while its thread runs, it stops
// cleanly, and nothing is invented.
TEST(UdevMonitor, ComesUpFollowedByListenersAndReportsNothingWithoutAChange) {
  std::unique_ptr<UdevMonitor> monitor;
  try {
    monitor = std::make_unique<UdevMonitor>();
  } catch (const std::runtime_error& e) {
    GTEST_SKIP() << "no udev netlink monitor here: " << e.what();
  }
  test::PostedCalls calls;
  std::vector<DeviceChange> seen;
  const auto record = [&](const DeviceChange& c) { seen.push_back(c); };
  Subscription kept = monitor->Subscribe(calls.Poster(), record);
  Subscription dropped = monitor->Subscribe(calls.Poster(), record);
  dropped.Reset();
  EXPECT_TRUE(kept);
  EXPECT_FALSE(dropped);
  monitor.reset();  // its thread has ended: nothing more can arrive
  calls.RunAll();
  // Whatever was queued from other subsystems is filtered out; no add or remove is made up.
  EXPECT_TRUE(seen.empty());
}

}  // namespace
}  // namespace quillet::hid
