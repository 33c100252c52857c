#include "programmer/OperationWatchdog.h"

namespace quillet {

namespace {
std::chrono::milliseconds Until(OperationWatchdog::Clock::time_point deadline,
                                OperationWatchdog::Clock::time_point now) {
  // Rounded up, so that a timer started with it never fires before the deadline.
  return std::chrono::ceil<std::chrono::milliseconds>(deadline - now);
}
}  // namespace

std::optional<std::chrono::milliseconds> OperationWatchdog::Arm(Clock::time_point now) {
  std::lock_guard lock(mutex_);
  if (running_) return std::nullopt;
  running_ = true;
  deadline_ = now + kInterval;
  return kInterval;
}

void OperationWatchdog::InputReport(Clock::time_point now) {
  std::lock_guard lock(mutex_);
  if (running_) deadline_ = now + kInterval;
}

void OperationWatchdog::Stop() {
  std::lock_guard lock(mutex_);
  running_ = false;
}

bool OperationWatchdog::Running() const {
  std::lock_guard lock(mutex_);
  return running_;
}

std::variant<OperationWatchdog::Expired, OperationWatchdog::Pending, OperationWatchdog::Idle>
OperationWatchdog::Check(Clock::time_point now) {
  std::lock_guard lock(mutex_);
  if (!running_) return Idle{};
  if (now < deadline_) return Pending{Until(deadline_, now)};
  running_ = false;
  return Expired{};
}

}  // namespace quillet
