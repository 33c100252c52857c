#include "programmer/ActivityLog.h"

#include <chrono>
#include <cstdio>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <utility>

namespace quillet {

ClockReading ReadLocalClock() {
  using namespace std::chrono;
  const auto now = system_clock::now();
  const std::time_t seconds = system_clock::to_time_t(now);
  ClockReading reading;
  localtime_r(&seconds, &reading.local);
  const auto sinceEpoch = duration_cast<milliseconds>(now.time_since_epoch()).count();
  reading.milliseconds = static_cast<int>(((sinceEpoch % 1000) + 1000) % 1000);
  return reading;
}

namespace {
void PutTime(std::ostringstream& out, const std::tm& tm, char conversion) {
  const auto& facet = std::use_facet<std::time_put<char>>(out.getloc());
  facet.put(std::ostreambuf_iterator<char>(out), out, ' ', &tm, conversion);
}
}  // namespace

std::string FormatLogLine(const ClockReading& reading, std::string_view message,
                          const std::locale& locale) {
  std::ostringstream out;
  out.imbue(locale);
  out << '[';
  PutTime(out, reading.local, 'x');
  const std::tm& t = reading.local;
  if (t.tm_hour != 0 || t.tm_min != 0 || t.tm_sec != 0) {
    out << ' ';
    PutTime(out, reading.local, 'X');
  }
  char ms[8];
  std::snprintf(ms, sizeof ms, " %03d]", reading.milliseconds % 1000);
  out << ms << "  " << message;
  return std::move(out).str();
}

std::locale ActivityLog::UserTimeLocale() {
  try {
    return std::locale(std::locale::classic(), std::locale(""), std::locale::time);
  } catch (const std::runtime_error&) {
    return std::locale::classic();
  }
}

ActivityLog::ActivityLog(Clock clock, std::locale locale)
    : clock_(std::move(clock)), locale_(std::move(locale)) {}

void ActivityLog::Attach(PendingNotifier notifier) {
  std::lock_guard lock(mutex_);
  attached_ = true;
  notifier_ = std::move(notifier);
}

void ActivityLog::Detach() {
  std::lock_guard lock(mutex_);
  attached_ = false;
  notifier_ = nullptr;
  pending_.clear();
}

void ActivityLog::AppendLog(std::string_view message) {
  PendingNotifier notify;
  {
    // The clock is read under the lock so that the stamps follow the order of the lines.
    std::lock_guard lock(mutex_);
    if (!attached_) return;
    pending_.push_back(FormatLogLine(clock_(), message, locale_));
    if (pending_.size() == 1) notify = notifier_;
  }
  if (notify) notify();
}

std::vector<std::string> ActivityLog::TakePending() {
  std::lock_guard lock(mutex_);
  return std::exchange(pending_, {});
}

void ActivityLog::Clear() {
  std::lock_guard lock(mutex_);
  pending_.clear();
}

}  // namespace quillet
