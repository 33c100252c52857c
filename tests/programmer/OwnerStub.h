#pragma once
// A programmer's owner as the tests play it: log lines kept, calls handed over queued until the
// test pumps them on its own thread, and a clock the test moves.

#include <algorithm>
#include <chrono>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "programmer/Programmer.h"

namespace quillet::test {

class OwnerStub {
 public:
  // The host with the log, the queue and the clock; the timer goes to the given calls.
  ProgrammerHost Host(std::function<void(std::chrono::milliseconds)> startTimer,
                      std::function<void()> stopTimer = {}) {
    ProgrammerHost host;
    host.appendLog = [this](const std::string& line) {
      std::lock_guard lock(mutex_);
      lines_.push_back(line);
    };
    host.post = [this](std::function<void()> call) {
      std::lock_guard lock(mutex_);
      posted_.push_back(std::move(call));
    };
    host.now = [this] {
      std::lock_guard lock(mutex_);
      return now_;
    };
    host.startTimer = std::move(startTimer);
    host.stopTimer = std::move(stopTimer);
    return host;
  }

  // Runs the calls handed over so far, in order.
  void Pump() {
    for (;;) {
      std::function<void()> call;
      {
        std::lock_guard lock(mutex_);
        if (posted_.empty()) return;
        call = std::move(posted_.front());
        posted_.pop_front();
      }
      call();
    }
  }

  std::vector<std::string> Lines() {
    std::lock_guard lock(mutex_);
    return lines_;
  }
  void ClearLines() {
    std::lock_guard lock(mutex_);
    lines_.clear();
  }
  bool Logged(const std::string& line) {
    auto l = Lines();
    return std::find(l.begin(), l.end(), line) != l.end();
  }
  void Advance(std::chrono::milliseconds by) {
    std::lock_guard lock(mutex_);
    now_ += by;
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> lines_;
  std::deque<std::function<void()>> posted_;
  OperationWatchdog::Clock::time_point now_{};
};

}  // namespace quillet::test
