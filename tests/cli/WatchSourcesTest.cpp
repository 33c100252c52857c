// What watch mode stands on besides the event loop: the file watcher and the signal source of
// this platform, delivering through the loop's Post; and the load that reads a file until it holds
// still.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <thread>
#include <vector>

#include "cli/EventLoop.h"
#include "cli/FileWatcher.h"
#include "cli/SignalSource.h"
#include "cli/Watch.h"
#include "tests/support/PostedCalls.h"
#include "tests/support/TempDir.h"
#include "tests/support/Wait.h"

namespace quillet::cli {
namespace {

namespace fs = std::filesystem;
using ::testing::Contains;
using ::testing::Each;
using ::testing::ElementsAre;
using ::testing::Not;

class FileWatch : public ::testing::Test {
 protected:
  void Watch() {
    std::string error;
    watcher = WatchFile(dir.path().string(), "fw.bin", loop.Poster(), [this](FileEvent e) {
      events.push_back(e);
      threads.push_back(std::this_thread::get_id());
    }, error);
    ASSERT_NE(watcher, nullptr) << error;
  }
  // Runs the loop until `e` came; a hang guard stops a broken build.
  bool RunUntilSeen(FileEvent e) {
    EventLoop::Timer guard(loop);
    bool expired = false;
    guard.Start(std::chrono::seconds(20), [&] { expired = true; });
    loop.RunUntil([&] { return expired || std::find(events.begin(), events.end(), e) != events.end(); });
    return !expired;
  }

  test::TempDir dir;
  EventLoop loop;
  std::unique_ptr<FileWatcher> watcher;
  std::vector<FileEvent> events;
  std::vector<std::thread::id> threads;
};

// A file written in two parts: while it is open, writes show only as modifications; its close
// after writing comes last, and every event runs on the loop's thread.
TEST_F(FileWatch, AFileStillBeingWrittenIsModifiedUntilItIsClosed) {
  Watch();
  std::FILE* f = std::fopen((dir / "fw.bin").c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fputs("first half", f);
  std::fflush(f);
  ASSERT_TRUE(RunUntilSeen(FileEvent::Modified));
  EXPECT_EQ(events.front(), FileEvent::Created);
  EXPECT_THAT(events, Not(Contains(FileEvent::ClosedAfterWriting)));

  std::fputs("second half", f);
  std::fclose(f);
  ASSERT_TRUE(RunUntilSeen(FileEvent::ClosedAfterWriting));
  EXPECT_EQ(events.back(), FileEvent::ClosedAfterWriting);
  EXPECT_THAT(std::vector<FileEvent>(events.begin() + 1, events.end() - 1), Each(FileEvent::Modified));
  EXPECT_THAT(threads, Each(std::this_thread::get_id()));
}

// An editor's or a linker's way: a new file written elsewhere in the folder, renamed over the
// watched one. Only the rename concerns the watched file; other files' events are left out.
TEST_F(FileWatch, AFileRenamedIntoPlaceIsOneEventAndOtherFilesAreLeftOut) {
  test::WriteFile(dir / "fw.bin", "old");
  Watch();
  test::WriteFile(dir / "other.bin", "not watched");
  test::WriteFile(dir / ".fw.tmp", "new");
  fs::rename(dir / ".fw.tmp", dir / "fw.bin");
  ASSERT_TRUE(RunUntilSeen(FileEvent::RenamedIntoPlace));
  EXPECT_THAT(events, ElementsAre(FileEvent::RenamedIntoPlace));
}

TEST_F(FileWatch, AFolderThatCannotBeWatchedSaysWhy) {
  std::string error;
  const auto missing = WatchFile((dir / "gone").string(), "fw.bin", loop.Poster(), [](FileEvent) {}, error);
  EXPECT_EQ(missing, nullptr);
  EXPECT_EQ(error, "No such file or directory");
}

// Watch mode ends while the file is being written: what was already posted does nothing.
TEST_F(FileWatch, NoEventReachesTheListenerOnceTheWatcherIsGone) {
  test::PostedCalls calls;
  std::string error;
  int heard = 0;
  watcher = WatchFile(dir.path().string(), "fw.bin", calls.Poster(), [&](FileEvent) { ++heard; }, error);
  ASSERT_NE(watcher, nullptr) << error;
  test::WriteFile(dir / "fw.bin", "content");
  ASSERT_TRUE(test::WaitUntil([&] { return calls.Pending(); }));
  watcher.reset();
  EXPECT_GT(calls.RunAll(), 0);
  EXPECT_EQ(heard, 0);
}

// The signals are sent to the process, as a terminal or `kill` sends them; the source's own thread
// reads them and the loop runs the calls.
TEST(SignalSource, QuitAndPlugToggleArriveInOrderOnTheLoop) {
  auto source = TakeSignals(true);
  ASSERT_NE(source, nullptr);
  EventLoop loop;
  std::vector<ProcessSignal> seen;
  const auto subscription = source->Subscribe(loop.Poster(), [&](ProcessSignal s) { seen.push_back(s); });
  ASSERT_EQ(::kill(::getpid(), SIGUSR1), 0);
  loop.RunUntil([&] { return seen.size() == 1; });
  ASSERT_EQ(::kill(::getpid(), SIGINT), 0);
  loop.RunUntil([&] { return seen.size() == 2; });
  ASSERT_EQ(::kill(::getpid(), SIGTERM), 0);
  loop.RunUntil([&] { return seen.size() == 3; });
  EXPECT_THAT(seen, ElementsAre(ProcessSignal::TogglePlug, ProcessSignal::Quit, ProcessSignal::Quit));
}

// A file rewritten while watch mode reads it: each load below sees what the file held then. What
// reaches the chip is a version read twice in a row, never a load taken mid-change.
TEST(LoadUnchanged, ReadsAgainUntilTwoLoadsAgreeAndGivesUpOnAFileThatKeepsChanging) {
  const auto loads = [](std::vector<std::vector<uint8_t>> seen) {
    auto next = std::make_shared<size_t>(0);
    return [seen, next] { return LoadedImage{seen[std::min((*next)++, seen.size() - 1)], {}}; };
  };
  const auto whole = LoadUnchanged(loads({{1, 2}, {1, 2, 3}, {1, 2, 3, 4}, {1, 2, 3, 4}}));
  ASSERT_TRUE(whole);
  EXPECT_EQ(whole->bytes, (std::vector<uint8_t>{1, 2, 3, 4}));

  std::vector<std::vector<uint8_t>> growing;
  for (uint8_t n = 1; n < 40; ++n) growing.emplace_back(n, n);
  EXPECT_FALSE(LoadUnchanged(loads(growing)));

  // A file that cannot be loaded, the same way twice, is an answer too: its error is reported.
  int calls = 0;
  const auto refused = LoadUnchanged([&] { return ++calls, LoadedImage{{}, "fw.bin: not an image"}; });
  ASSERT_TRUE(refused);
  EXPECT_EQ(refused->error, "fw.bin: not an image");
  EXPECT_EQ(calls, 2);
}

}  // namespace
}  // namespace quillet::cli
