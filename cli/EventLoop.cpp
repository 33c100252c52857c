#include "cli/EventLoop.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <stdexcept>
#include <system_error>
#include <vector>

namespace quillet::cli {

EventLoop::EventLoop() : wake_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  if (wake_ < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
}

EventLoop::~EventLoop() { ::close(wake_); }

void EventLoop::Post(std::function<void()> call) {
  {
    std::lock_guard lock(mutex_);
    posted_.push_back(std::move(call));
  }
  const uint64_t one = 1;
  [[maybe_unused]] ssize_t n = ::write(wake_, &one, sizeof one);
}

void EventLoop::WatchFd(int fd, std::function<void()> onReadable) { fds_[fd] = std::move(onReadable); }

void EventLoop::UnwatchFd(int fd) { fds_.erase(fd); }

EventLoop::Timer::Timer(EventLoop& loop) : loop_(loop), id_(loop.nextTimer_++) {}

EventLoop::Timer::~Timer() { Stop(); }

void EventLoop::Timer::Start(std::chrono::milliseconds delay, std::function<void()> fire) {
  loop_.timers_[id_] = {Clock::now() + delay, std::move(fire)};
}

void EventLoop::Timer::Stop() { loop_.timers_.erase(id_); }

bool EventLoop::Timer::Running() const { return loop_.timers_.count(id_) != 0; }

bool EventLoop::RunPosted() {
  std::deque<std::function<void()>> calls;
  {
    std::lock_guard lock(mutex_);
    calls.swap(posted_);
  }
  for (auto& call : calls) call();
  return !calls.empty();
}

bool EventLoop::RunDueTimers() {
  bool ran = false;
  for (;;) {
    const auto now = Clock::now();
    auto due = timers_.end();
    for (auto it = timers_.begin(); it != timers_.end(); ++it)
      if (it->second.deadline <= now && (due == timers_.end() || it->second.deadline < due->second.deadline))
        due = it;
    if (due == timers_.end()) return ran;
    auto fire = std::move(due->second.fire);
    timers_.erase(due);  // one-shot; the call may start it again
    fire();
    ran = true;
  }
}

void EventLoop::RunUntil(const std::function<bool()>& done) {
  for (;;) {
    // Work already waiting runs before anything is waited for.
    while (RunPosted() || RunDueTimers()) {
      if (done()) return;
    }
    if (done()) return;

    int timeout = -1;
    if (!timers_.empty()) {
      auto first = timers_.begin()->second.deadline;
      for (const auto& [id, t] : timers_) first = std::min(first, t.deadline);
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(first - Clock::now());
      timeout = static_cast<int>(std::clamp<int64_t>(left.count(), 0, 60'000));
    }
    std::vector<pollfd> fds{{wake_, POLLIN, 0}};
    for (const auto& [fd, call] : fds_) fds.push_back({fd, POLLIN, 0});
    if (::poll(fds.data(), fds.size(), timeout) < 0) {
      if (errno == EINTR) continue;
      throw std::system_error(errno, std::generic_category(), "poll");
    }
    if (fds[0].revents) {
      uint64_t count;
      [[maybe_unused]] ssize_t n = ::read(wake_, &count, sizeof count);
    }
    for (size_t i = 1; i < fds.size(); ++i) {
      if (!fds[i].revents) continue;
      // The callback may unwatch descriptors, this one included.
      auto it = fds_.find(fds[i].fd);
      if (it == fds_.end()) continue;
      auto call = it->second;
      call();
      if (done()) return;
    }
  }
}

}  // namespace quillet::cli
