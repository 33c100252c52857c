#include "programmer/ActivityLog.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <thread>

namespace quillet {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

ClockReading At(int year, int month, int day, int h, int m, int s, int ms) {
  ClockReading r;
  r.local.tm_year = year - 1900;
  r.local.tm_mon = month - 1;
  r.local.tm_mday = day;
  r.local.tm_hour = h;
  r.local.tm_min = m;
  r.local.tm_sec = s;
  r.local.tm_isdst = -1;
  r.milliseconds = ms;
  return r;
}

// Regional formats of a user who chose yyyy-MM-dd and H:mm:ss, as a locale's time facet.
class IsoDateShortHourFacet : public std::time_put<char> {
 protected:
  iter_type do_put(iter_type out, std::ios_base&, char_type, const std::tm* t, char format,
                   char) const override {
    char text[32];
    if (format == 'x')
      std::snprintf(text, sizeof text, "%04d-%02d-%02d", t->tm_year + 1900, t->tm_mon + 1, t->tm_mday);
    else
      std::snprintf(text, sizeof text, "%d:%02d:%02d", t->tm_hour, t->tm_min, t->tm_sec);
    for (const char* p = text; *p; ++p) *out++ = *p;
    return out;
  }
};

const std::locale kIsoLocale(std::locale::classic(), new IsoDateShortHourFacet);

struct LineCase {
  const char* name;
  ClockReading reading;
  std::string message;
  std::string classic;  // the line under the C locale (%x = MM/DD/YY, %X = HH:MM:SS)
  std::string iso;      // the line under yyyy-MM-dd and H:mm:ss
};
void PrintTo(const LineCase& c, std::ostream* os) { *os << c.name; }

class LogLineTest : public ::testing::TestWithParam<LineCase> {};

TEST_P(LogLineTest, BuildsStampTwoBlanksAndTheMessageAsGiven) {
  EXPECT_EQ(FormatLogLine(GetParam().reading, GetParam().message, std::locale::classic()), GetParam().classic);
  EXPECT_EQ(FormatLogLine(GetParam().reading, GetParam().message, kIsoLocale), GetParam().iso);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, LogLineTest,
    ::testing::Values(
        LineCase{"Morning", At(2013, 5, 1, 9, 3, 7, 42), "DeviceChange",
                 "[05/01/13 09:03:07 042]  DeviceChange", "[2013-05-01 9:03:07 042]  DeviceChange"},
        LineCase{"SevenMilliseconds", At(2013, 5, 1, 23, 59, 59, 7), "x",
                 "[05/01/13 23:59:59 007]  x", "[2013-05-01 23:59:59 007]  x"},
        LineCase{"ZeroMilliseconds", At(2026, 12, 10, 10, 0, 0, 0), "x",
                 "[12/10/26 10:00:00 000]  x", "[2026-12-10 10:00:00 000]  x"},
        LineCase{"FirstSecondAfterMidnight", At(2013, 5, 1, 0, 0, 0, 315), "DeviceChange",
                 "[05/01/13 315]  DeviceChange", "[2013-05-01 315]  DeviceChange"},
        LineCase{"OneSecondPastMidnight", At(2013, 5, 1, 0, 0, 1, 0), "x",
                 "[05/01/13 00:00:01 000]  x", "[2013-05-01 0:00:01 000]  x"},
        LineCase{"TrailingBlanksKept", At(2013, 5, 1, 9, 3, 7, 42), "编程器通讯成功：固件类型3 版本12 ",
                 "[05/01/13 09:03:07 042]  编程器通讯成功：固件类型3 版本12 ",
                 "[2013-05-01 9:03:07 042]  编程器通讯成功：固件类型3 版本12 "},
        LineCase{"EmptyMessage", At(2013, 5, 1, 9, 3, 7, 42), "", "[05/01/13 09:03:07 042]  ",
                 "[2013-05-01 9:03:07 042]  "},
        LineCase{"LineBreaksUnchanged", At(2013, 5, 1, 9, 3, 7, 42), "a\r\nb\n",
                 "[05/01/13 09:03:07 042]  a\r\nb\n", "[2013-05-01 9:03:07 042]  a\r\nb\n"},
        LineCase{"PercentSignsAreNotFormats", At(2013, 5, 1, 9, 3, 7, 42), "%s %d %x",
                 "[05/01/13 09:03:07 042]  %s %d %x", "[2013-05-01 9:03:07 042]  %s %d %x"}),
    [](const auto& info) { return std::string(info.param.name); });

class ActivityLogTest : public ::testing::Test {
 protected:
  // A clock that ticks one millisecond per reading, so each line shows when it was stamped.
  ActivityLog log{[this] { return At(2013, 5, 1, 9, 3, 7, ticks++ % 1000); }, std::locale::classic()};
  int ticks = 0;
  int notified = 0;
};

TEST_F(ActivityLogTest, DoesNothingWhileNoControlIsAttached) {
  log.AppendLog("lost");
  EXPECT_EQ(ticks, 0);
  log.Attach([this] { ++notified; });
  EXPECT_THAT(log.TakePending(), IsEmpty());
  log.AppendLog("kept");
  log.Detach();
  log.AppendLog("lost too");
  EXPECT_THAT(log.TakePending(), IsEmpty());
}

TEST_F(ActivityLogTest, HandsOverLinesInCallOrderAndNotifiesOncePerBatch) {
  log.Attach([this] { ++notified; });
  log.AppendLog("one");
  log.AppendLog("two");
  EXPECT_EQ(notified, 1);
  EXPECT_THAT(log.TakePending(), ElementsAre("[05/01/13 09:03:07 000]  one", "[05/01/13 09:03:07 001]  two"));
  EXPECT_THAT(log.TakePending(), IsEmpty());
  log.AppendLog("three");
  EXPECT_EQ(notified, 2);
  EXPECT_THAT(log.TakePending(), ElementsAre("[05/01/13 09:03:07 002]  three"));
}

TEST_F(ActivityLogTest, ClearDropsLinesNotYetShownAndTheNextLineComesFirst) {
  log.Attach([this] { ++notified; });
  log.Clear();  // clearing an empty log is harmless
  log.AppendLog("before");
  log.Clear();
  EXPECT_THAT(log.TakePending(), IsEmpty());
  log.AppendLog("after");
  EXPECT_EQ(notified, 2);  // the queue was emptied, so the next line wakes the consumer again
  EXPECT_THAT(log.TakePending(), ElementsAre("[05/01/13 09:03:07 001]  after"));
}

TEST(ActivityLogThreadsTest, ManyThreadsAppendingAtOnceLoseAndInterleaveNothing) {
  constexpr int kThreads = 8;
  constexpr int kLines = 2000;
  std::atomic<int> clock{0};
  ActivityLog log([&] { return At(2013, 5, 1, 9, 3, 7, clock.fetch_add(1) % 1000); },
                  std::locale::classic());
  std::atomic<int> wakeups{0};
  log.Attach([&] { wakeups.fetch_add(1); });

  std::atomic<bool> done{false};
  std::vector<std::string> shown;
  std::thread ui([&] {  // the consumer takes lines while they are still being appended
    while (!done.load()) {
      auto batch = log.TakePending();
      shown.insert(shown.end(), batch.begin(), batch.end());
      std::this_thread::yield();
    }
    auto batch = log.TakePending();
    shown.insert(shown.end(), batch.begin(), batch.end());
  });
  std::vector<std::thread> writers;
  for (int t = 0; t < kThreads; ++t) {
    writers.emplace_back([&log, t] {
      for (int i = 0; i < kLines; ++i) log.AppendLog("thread " + std::to_string(t) + " line " + std::to_string(i));
    });
  }
  for (auto& w : writers) w.join();
  done = true;
  ui.join();

  ASSERT_EQ(shown.size(), size_t(kThreads * kLines));
  std::map<int, int> next;
  int previousMs = -1;
  for (const std::string& line : shown) {
    int ms = -1, t = -1, i = -1;
    char tail = 0;
    ASSERT_EQ(std::sscanf(line.c_str(), "[05/01/13 09:03:07 %3d]  thread %d line %d%c", &ms, &t, &i, &tail), 3)
        << line;
    EXPECT_EQ(i, next[t]++) << "thread " << t << " out of order";
    EXPECT_EQ(ms, (previousMs + 1) % 1000) << "stamps must follow the order of the lines";
    previousMs = ms;
  }
  EXPECT_GE(wakeups.load(), 1);
}

}  // namespace
}  // namespace quillet
