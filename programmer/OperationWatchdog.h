#pragma once
// The operation watchdog: a one-shot 2000 ms countdown that Read and Detect arm, that every input
// report restarts while it runs, and that the end of an operation stops. When it runs out, the
// operation is reported as timed out.
//
// Input reports and stops come from the HID reader thread, arming and the timer from the UI
// thread, so the state sits behind a small lock and every call takes the time from its caller.
// The UI keeps one timer: it starts it for the delay Arm returns and, when it fires, calls
// Check, which either reports the expiry or gives the delay to the restarted deadline.

#include <chrono>
#include <mutex>
#include <optional>
#include <variant>

namespace quillet {

class OperationWatchdog {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr std::chrono::milliseconds kInterval{2000};

  // Starts the countdown if it is stopped; a running one goes on unchanged. Returns the delay to
  // start the UI timer with, or nothing when it was already running.
  std::optional<std::chrono::milliseconds> Arm(Clock::time_point now);
  // Any input report: a running countdown starts again from now; a stopped one stays stopped.
  void InputReport(Clock::time_point now);
  void Stop();
  bool Running() const;

  struct Expired {};
  struct Pending {
    std::chrono::milliseconds delay;  // until the deadline the countdown has now
  };
  struct Idle {};
  // The UI timer fired: Expired stops the watchdog; Pending asks for the timer again.
  std::variant<Expired, Pending, Idle> Check(Clock::time_point now);

 private:
  mutable std::mutex mutex_;
  bool running_ = false;
  Clock::time_point deadline_{};
};

}  // namespace quillet
