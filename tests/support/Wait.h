#pragma once
// Waits on another thread's progress without an event loop.

#include <chrono>
#include <functional>
#include <thread>

namespace quillet::test {

// Waits until the condition holds; the limit is a hang guard, not a timing check.
inline bool WaitUntil(const std::function<bool()>& condition,
                      std::chrono::seconds limit = std::chrono::seconds(10)) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

}  // namespace quillet::test
