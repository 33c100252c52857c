#include <gtest/gtest.h>

#include <poll.h>

#include <memory>
#include <stdexcept>

#include "hid/UdevMonitor.h"

namespace quillet::hid {
namespace {

// No hidraw device can be plugged on a build machine, so only the quiet state is checked here:
// the monitor comes up (or says why not), its descriptor can be polled, and nothing is invented.
TEST(UdevMonitor, ComesUpPollableAndReportsNothingWithoutAChange) {
  std::unique_ptr<UdevMonitor> monitor;
  try {
    monitor = std::make_unique<UdevMonitor>();
  } catch (const std::runtime_error& e) {
    GTEST_SKIP() << "no udev netlink monitor here: " << e.what();
  }
  ASSERT_GE(monitor->Fd(), 0);
  pollfd p{monitor->Fd(), POLLIN, 0};
  const int ready = ::poll(&p, 1, 0);
  ASSERT_GE(ready, 0);
  EXPECT_EQ(p.revents & (POLLERR | POLLNVAL), 0);
  // Whatever is queued from other subsystems is filtered out; no add or remove is made up.
  EXPECT_FALSE(monitor->TakeChange().has_value());
  EXPECT_FALSE(monitor->TakeChange().has_value());
}

}  // namespace
}  // namespace quillet::hid
