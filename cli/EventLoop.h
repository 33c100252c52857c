#pragma once
// The command line's main-thread loop: calls posted from any thread (the HID reader's effects,
// device changes, file and signal events) and one-shot timers (the watchdogs). Everything it runs,
// runs on the thread that runs the loop.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>

namespace quillet::cli {

class EventLoop {
 public:
  using Clock = std::chrono::steady_clock;

  EventLoop() = default;
  EventLoop(const EventLoop&) = delete;
  EventLoop& operator=(const EventLoop&) = delete;

  // Any thread: `call` runs on the loop's thread, after every call posted before it.
  void Post(std::function<void()> call);
  // Post as a value, for the sources (device changes, files, signals) that deliver to this loop.
  std::function<void(std::function<void()>)> Poster() {
    return [this](std::function<void()> call) { Post(std::move(call)); };
  }

  // A one-shot timer; starting it again moves its deadline. The loop's thread only.
  class Timer {
   public:
    explicit Timer(EventLoop& loop);
    ~Timer();
    Timer(const Timer&) = delete;
    Timer& operator=(const Timer&) = delete;
    void Start(std::chrono::milliseconds delay, std::function<void()> fire);
    void Stop();
    bool Running() const;

   private:
    EventLoop& loop_;
    uint64_t id_;
  };

  // Runs posted calls and due timers until `done` holds; `done` is asked before each wait, so
  // work that makes it true ends the run without a further wait.
  void RunUntil(const std::function<bool()>& done);
  // Runs the calls posted so far, nothing else; true when there were any.
  bool RunPosted();

 private:
  struct PendingTimer {
    Clock::time_point deadline;
    std::function<void()> fire;
  };
  bool RunDueTimers();

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> posted_;
  std::map<uint64_t, PendingTimer> timers_;  // the loop's thread only
  uint64_t nextTimer_ = 1;
};

}  // namespace quillet::cli
