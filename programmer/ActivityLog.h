#pragma once
// The activity log: how one line is built from a message and a clock reading, and the
// thread-safe queue that carries lines from any thread to the log control on the UI thread.

#include <cstddef>
#include <ctime>
#include <functional>
#include <locale>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace quillet {

// One reading of the local clock, to the millisecond.
struct ClockReading {
  std::tm local{};       // broken-down local time
  int milliseconds = 0;  // 0-999
};

ClockReading ReadLocalClock();

// "[<date>[ <time>] <ms>]", two blanks, then the message exactly as given. The date and time use
// the locale's date and time formats; the time is left out while it reads 00:00:00.
std::string FormatLogLine(const ClockReading& reading, std::string_view message,
                          const std::locale& locale);

class ActivityLog {
 public:
  using Clock = std::function<ClockReading()>;
  // Called, outside the log's lock, when lines become pending after none were; the owner uses it
  // to schedule TakePending on the UI thread. It must not block.
  using PendingNotifier = std::function<void()>;

  explicit ActivityLog(Clock clock = ReadLocalClock, std::locale locale = UserTimeLocale());

  // While no log control exists the log is detached and AppendLog does nothing.
  void Attach(PendingNotifier notifier);
  void Detach();

  // Any thread. The line is stamped now and queued after every line appended before it.
  void AppendLog(std::string_view message);

  // UI thread: the lines appended since the last call, oldest first, each whole.
  std::vector<std::string> TakePending();

  // UI thread, on the log's double-click: drops lines not yet shown too, so the log comes up
  // empty however the clear and the hand-over interleave.
  void Clear();

  // The user's LC_TIME, or the classic locale when the environment names none that exists.
  static std::locale UserTimeLocale();

 private:
  const Clock clock_;
  const std::locale locale_;
  std::mutex mutex_;
  bool attached_ = false;
  PendingNotifier notifier_;
  std::vector<std::string> pending_;
};

}  // namespace quillet
