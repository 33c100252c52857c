#pragma once
// A listener's loop for tests: calls posted from any thread wait in order until the test's thread
// runs them.

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

namespace quillet::test {

class PostedCalls {
 public:
  std::function<void(std::function<void()>)> Poster() {
    return [this](std::function<void()> call) {
      {
        std::lock_guard lock(mutex_);
        calls_.push_back(std::move(call));
      }
      posted_.notify_all();
    };
  }

  bool Pending() {
    std::lock_guard lock(mutex_);
    return !calls_.empty();
  }

  // Runs what is queued, one call at a time, on the calling thread; returns how many ran.
  int RunAll() {
    int ran = 0;
    while (RunOne()) ++ran;
    return ran;
  }

  // Runs calls as they come until `done` holds; the limit is a hang guard, not a timing check.
  bool RunUntil(const std::function<bool()>& done, std::chrono::seconds limit = std::chrono::seconds(20)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
      if (RunOne()) continue;
      std::unique_lock lock(mutex_);
      if (!posted_.wait_until(lock, end, [this] { return !calls_.empty(); })) return done();
    }
    return true;
  }

 private:
  bool RunOne() {
    std::function<void()> call;
    {
      std::lock_guard lock(mutex_);
      if (calls_.empty()) return false;
      call = std::move(calls_.front());
      calls_.pop_front();
    }
    call();
    return true;
  }

  std::mutex mutex_;
  std::condition_variable posted_;
  std::deque<std::function<void()>> calls_;
};

}  // namespace quillet::test
