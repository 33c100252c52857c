// The command line's event loop: calls posted from any thread and one-shot timers, all run on the
// loop's thread.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

#include "cli/EventLoop.h"

namespace quillet::cli {
namespace {

using namespace std::chrono_literals;

TEST(EventLoop, PostsFromOtherThreadsRunInOrderOnTheLoopsThread) {
  EventLoop loop;
  std::vector<int> ran;
  std::vector<std::thread::id> threads;
  std::thread poster([&] {
    for (int i = 0; i < 1000; ++i)
      loop.Post([&, i] {
        ran.push_back(i);
        threads.push_back(std::this_thread::get_id());
      });
  });
  loop.RunUntil([&] { return ran.size() == 1000; });
  poster.join();
  for (int i = 0; i < 1000; ++i) ASSERT_EQ(ran[static_cast<size_t>(i)], i);
  EXPECT_TRUE(std::all_of(threads.begin(), threads.end(), [](auto id) { return id == std::this_thread::get_id(); }));
}

TEST(EventLoop, TimersFireInDeadlineOrderAndARestartMovesTheDeadline) {
  using namespace std::chrono_literals;
  EventLoop loop;
  EventLoop::Timer a(loop), b(loop), c(loop);
  std::vector<char> fired;
  a.Start(30ms, [&] { fired.push_back('a'); });
  b.Start(10ms, [&] { fired.push_back('b'); });
  c.Start(20ms, [&] { fired.push_back('c'); });
  b.Start(40ms, [&] { fired.push_back('b'); });  // moved behind the others
  c.Stop();
  EXPECT_FALSE(c.Running());
  loop.RunUntil([&] { return fired.size() == 2; });
  EXPECT_EQ(fired, (std::vector<char>{'a', 'b'}));
  EXPECT_FALSE(a.Running());
}

// The loop sleeps with nothing to wait for but posts; a post from another thread wakes it, and
// a call posted by a running call runs in the same run.
TEST(EventLoop, APostWakesALoopWithNoTimerAndCallsPostedByCallsRunToo) {
  EventLoop loop;
  std::vector<int> ran;
  std::thread poster;
  EventLoop::Timer start(loop);
  start.Start(0ms, [&] {
    // Started once the loop runs; by the time it posts, the loop may well be waiting.
    poster = std::thread([&] {
      loop.Post([&] {
        ran.push_back(1);
        loop.Post([&] { ran.push_back(2); });
      });
    });
  });
  loop.RunUntil([&] { return ran.size() == 2; });
  poster.join();
  EXPECT_EQ(ran, (std::vector<int>{1, 2}));
}

TEST(EventLoop, RunPostedRunsOnlyWhatIsPostedNotTimers) {
  EventLoop loop;
  EventLoop::Timer due(loop);
  bool fired = false;
  due.Start(0ms, [&] { fired = true; });
  int ran = 0;
  loop.Post([&] { ++ran; });
  loop.Post([&] { ++ran; });
  EXPECT_TRUE(loop.RunPosted());
  EXPECT_EQ(ran, 2);
  EXPECT_FALSE(loop.RunPosted());
  EXPECT_FALSE(fired);
  EXPECT_TRUE(due.Running());
}

// A timer started again from its own call fires again; one stopped by another timer's call does
// not fire at all, though it was due as well; a timer destroyed unfired is gone from the loop.
TEST(EventLoop, TimersRestartedStoppedOrDestroyedByCalls) {
  EventLoop loop;
  EventLoop::Timer again(loop), stopper(loop), stopped(loop);
  int agains = 0;
  bool stoppedFired = false;
  again.Start(1ms, [&] {
    if (++agains < 3) again.Start(1ms, [&] { ++agains; });
  });
  stopper.Start(0ms, [&] { stopped.Stop(); });
  stopped.Start(0ms, [&] { stoppedFired = true; });
  {
    EventLoop::Timer gone(loop);
    gone.Start(0ms, [&] { ADD_FAILURE() << "a destroyed timer fired"; });
  }
  loop.RunUntil([&] { return agains == 2; });
  EXPECT_FALSE(stoppedFired);
  EXPECT_FALSE(again.Running());
}

// What was posted runs before a timer that is due, so the effects of the programmer's last report
// land before its watchdog fires.
TEST(EventLoop, PostedCallsRunBeforeADueTimer) {
  EventLoop loop;
  EventLoop::Timer watchdog(loop);
  std::vector<char> ran;
  watchdog.Start(0ms, [&] { ran.push_back('t'); });
  loop.Post([&] { ran.push_back('p'); });
  loop.RunUntil([&] { return ran.size() == 2; });
  EXPECT_EQ(ran, (std::vector<char>{'p', 't'}));
}

}  // namespace
}  // namespace quillet::cli
