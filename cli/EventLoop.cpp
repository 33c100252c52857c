#include "cli/EventLoop.h"

#include <algorithm>

namespace quillet::cli {

void EventLoop::Post(std::function<void()> call) {
  {
    std::lock_guard lock(mutex_);
    posted_.push_back(std::move(call));
  }
  wake_.notify_one();
}

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

    const auto first = std::min_element(timers_.begin(), timers_.end(), [](const auto& a, const auto& b) {
      return a.second.deadline < b.second.deadline;
    });
    std::unique_lock lock(mutex_);
    const auto posted = [this] { return !posted_.empty(); };
    if (first == timers_.end())
      wake_.wait(lock, posted);
    else
      wake_.wait_until(lock, first->second.deadline, posted);
  }
}

}  // namespace quillet::cli
