#include "net/WorkerThread.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "net/WorkerThreadWindow.h"
#include "tests/support/EventLoopHelpers.h"

namespace quillet {
namespace {

using test::PumpFor;
using test::PumpUntil;
using namespace std::chrono_literals;

// A one-shot gate a job can wait on.
class Latch {
 public:
  void Open() {
    std::lock_guard lock(mutex_);
    open_ = true;
    cv_.notify_all();
  }
  void Wait() {
    std::unique_lock lock(mutex_);
    cv_.wait(lock, [&] { return open_; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool open_ = false;
};

// Records what happened, in order, from any thread.
class Journal {
 public:
  void Add(const std::string& entry) {
    std::lock_guard lock(mutex_);
    entries_.push_back(entry);
  }
  std::vector<std::string> Entries() const {
    std::lock_guard lock(mutex_);
    return entries_;
  }
  bool Has(const std::string& entry) const {
    for (const auto& e : Entries())
      if (e == entry) return true;
    return false;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> entries_;
};

bool OnMainThread() { return QThread::currentThread() == QCoreApplication::instance()->thread(); }

TEST(ThreadPriorityTable, MapsEachPriorityAndBack) {
  struct Row {
    TThreadPriority priority;
    int value;
  };
  const Row rows[] = {{tpIdle, -15}, {tpLowest, -2},  {tpLower, -1},        {tpNormal, 0},
                      {tpHigher, 1}, {tpHighest, 2}, {tpTimeCritical, 15}};
  for (const Row& row : rows) {
    EXPECT_EQ(ThreadPriorityValue(row.priority), row.value);
    EXPECT_EQ(ThreadPriorityFromValue(row.value), row.priority);
  }
  for (int unknown : {-16, -3, 3, 14, 16, 99}) EXPECT_EQ(ThreadPriorityFromValue(unknown), tpNormal);
}

TEST(WorkerThread, DestroyedBeforeItEverRanNeverRunsTheJob) {
  std::atomic<bool> ran{false};
  std::atomic<bool> completed{false};
  {
    TWorkerThread worker;
    worker.SetOnExecute([&](TComponent*) { ran = true; });
    worker.SetOnTerminate([&](TComponent*) { completed = true; });
    EXPECT_TRUE(worker.GetSuspended());
    EXPECT_FALSE(worker.Running());
    EXPECT_NE(worker.GetThreadID(), 0);
  }
  PumpFor(50);
  EXPECT_FALSE(ran);
  EXPECT_FALSE(completed);
  EXPECT_EQ(TWorkerThreadWindow::RefCount(), 0);
}

TEST(WorkerThread, CompletionAndErrorReportsRunOnTheUiThreadAfterTheJob) {
  Journal journal;
  TWorkerThread worker;
  worker.SetOnExecute([&](TComponent* sender) {
    EXPECT_EQ(sender, &worker);
    journal.Add(OnMainThread() ? "job on ui" : "job on worker");
    throw std::runtime_error("job failed");
  });
  worker.SetOnException([&](TComponent*) {
    std::string what = "none";
    try {
      if (auto error = worker.ExceptionObject()) std::rethrow_exception(error);
    } catch (const std::exception& e) {
      what = e.what();
    }
    journal.Add(std::string(OnMainThread() ? "error on ui: " : "error on worker: ") + what);
  });
  worker.SetOnTerminate([&](TComponent*) { journal.Add(OnMainThread() ? "done on ui" : "done on worker"); });
  ASSERT_TRUE(worker.Execute());
  ASSERT_TRUE(PumpUntil([&] { return journal.Entries().size() == 3 && !worker.Running(); }));
  EXPECT_EQ(journal.Entries(),
            (std::vector<std::string>{"job on worker", "error on ui: job failed", "done on ui"}));
}

TEST(WorkerThread, ErrorInTheCompletionIsReportedThroughOnException) {
  Journal journal;
  TWorkerThread worker;
  worker.SetOnExecute([](TComponent*) {});
  worker.SetOnTerminate([&](TComponent*) {
    journal.Add("done");
    throw std::runtime_error("completion failed");
  });
  worker.SetOnException([&](TComponent*) { journal.Add("error"); });
  worker.Execute();
  ASSERT_TRUE(PumpUntil([&] { return journal.Entries().size() == 2; }));
  EXPECT_EQ(journal.Entries(), (std::vector<std::string>{"done", "error"}));
}

TEST(WorkerThread, TwoRunsInARowUseFreshThreadsWithTheSamePriorityAndEvents) {
  std::atomic<int> runs{0};
  std::atomic<int> completions{0};
  std::vector<pid_t> jobThreads;
  std::mutex lock;
  TWorkerThread worker;
  worker.SetPriority(tpLower);
  worker.SetOnExecute([&](TComponent*) {
    std::lock_guard guard(lock);
    jobThreads.push_back(::gettid());
    ++runs;
  });
  worker.SetOnTerminate([&](TComponent*) { ++completions; });

  ASSERT_TRUE(worker.Execute());
  ASSERT_TRUE(PumpUntil([&] { return completions == 1 && !worker.Running(); }));
  const pid_t first = worker.GetThreadID();
  ASSERT_TRUE(worker.Execute());
  ASSERT_TRUE(PumpUntil([&] { return completions == 2 && !worker.Running(); }));

  EXPECT_EQ(runs, 2);
  EXPECT_EQ(worker.GetPriority(), tpLower);
  std::lock_guard guard(lock);
  ASSERT_EQ(jobThreads.size(), 2u);
  EXPECT_EQ(jobThreads[0], first);
  EXPECT_EQ(jobThreads[1], worker.GetThreadID());
  EXPECT_NE(jobThreads[0], jobThreads[1]);
}

struct RaisingCallCase {
  bool handleExceptions;
  bool jobGoesOn;      // the job carries on after the raising call
  bool errorReported;  // the job's own error reaches OnException
};

class WorkerThreadRaisingCall : public testing::TestWithParam<RaisingCallCase> {};

TEST_P(WorkerThreadRaisingCall, RaisingSynchronisedCall) {
  const RaisingCallCase c = GetParam();
  std::atomic<bool> wentOn{false};
  std::atomic<bool> reported{false};
  std::atomic<bool> completed{false};
  TWorkerThread worker;
  worker.SetHandleExceptions(c.handleExceptions);
  worker.SetOnExecute([&](TComponent*) {
    worker.Synchronize([] { throw std::runtime_error("ui call failed"); });
    wentOn = true;
  });
  worker.SetOnException([&](TComponent*) { reported = true; });
  worker.SetOnTerminate([&](TComponent*) { completed = true; });
  worker.Execute();
  ASSERT_TRUE(PumpUntil([&] { return completed && !worker.Running(); }));
  EXPECT_EQ(wentOn, c.jobGoesOn);
  EXPECT_EQ(reported, c.errorReported);
}

INSTANTIATE_TEST_SUITE_P(HandleExceptions, WorkerThreadRaisingCall,
                         testing::Values(RaisingCallCase{true, true, false},
                                         // Raised again on the worker, untrapped: the job ends,
                                         // unreported, and the completion still runs.
                                         RaisingCallCase{false, false, false}));

TEST(WorkerThread, DestroyedWhileTheJobWaitsInSynchronize) {
  std::atomic<bool> inCall{false};
  std::atomic<bool> callRan{false};
  std::atomic<bool> jobEnded{false};
  std::atomic<bool> completed{false};
  {
    TWorkerThread worker;
    worker.SetOnExecute([&](TComponent*) {
      inCall = true;
      worker.Synchronize([&] { callRan = true; });
      jobEnded = true;
    });
    worker.SetOnTerminate([&](TComponent*) { completed = true; });
    worker.Execute();
    // The UI thread takes no events here, so the call stays pending until destruction.
    while (!inCall) std::this_thread::sleep_for(1ms);
    std::this_thread::sleep_for(20ms);
  }
  EXPECT_FALSE(callRan);
  EXPECT_TRUE(jobEnded);
  PumpFor(50);
  EXPECT_FALSE(completed);
  EXPECT_EQ(TWorkerThreadWindow::RefCount(), 0);
}

struct DestroyInCallCase {
  std::string name;
  bool inCompletion;  // else inside a call the job makes
  friend void PrintTo(const DestroyInCallCase& c, std::ostream* os) { *os << c.name; }
};

class WorkerThreadDestroyedInItsOwnCall : public testing::TestWithParam<DestroyInCallCase> {};

// The job waits for the very call the component is destroyed in: the destruction must not wait
// for it, and the job, cut off, ends on its own without further calls.
TEST_P(WorkerThreadDestroyedInItsOwnCall, DoesNotWaitForItsThread) {
  auto worker = std::make_unique<TWorkerThread>();
  auto journal = std::make_shared<Journal>();
  std::chrono::milliseconds destroyTook{-1};
  auto destroy = [&] {
    const auto start = std::chrono::steady_clock::now();
    worker.reset();
    destroyTook = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
  };
  const bool inCompletion = GetParam().inCompletion;
  worker->SetOnExecute([journal, inCompletion, &destroy](TComponent*) {
    if (!inCompletion) {
      TEventWorkerThread::Current()->Synchronize([&] {
        journal->Add("call");
        destroy();
      });
      TEventWorkerThread::Current()->Synchronize([journal] { journal->Add("later call"); });
    }
    journal->Add("job ended");
  });
  worker->SetOnTerminate([journal, inCompletion, &destroy](TComponent*) {
    journal->Add("completion");
    if (inCompletion) destroy();
  });
  worker->Execute();
  ASSERT_TRUE(PumpUntil([&] { return worker == nullptr && journal->Has("job ended"); }));
  ASSERT_TRUE(PumpUntil([&] { return TWorkerThreadWindow::RefCount() == 0; }));
  const std::vector<std::string> expected =
      inCompletion ? std::vector<std::string>{"job ended", "completion"} : std::vector<std::string>{"call", "job ended"};
  EXPECT_EQ(journal->Entries(), expected);
  // Hang guard only: waiting for the thread would last the whole wait limit.
  EXPECT_GE(destroyTook.count(), 0);
  EXPECT_LT(destroyTook.count(), 2000);
}

INSTANTIATE_TEST_SUITE_P(Calls, WorkerThreadDestroyedInItsOwnCall,
                         testing::Values(DestroyInCallCase{"Synchronize", false},
                                         DestroyInCallCase{"Completion", true}),
                         [](const testing::TestParamInfo<DestroyInCallCase>& info) { return info.param.name; });

TEST(WorkerThread, DestructionAbandonsAJobThatIgnoresItsTerminateMark) {
  auto release = std::make_shared<Latch>();
  auto jobEnded = std::make_shared<std::atomic<bool>>(false);
  auto callRan = std::make_shared<std::atomic<bool>>(false);
  std::atomic<bool> started{false};
  {
    TWorkerThread worker;
    worker.TerminateWaitLimit = 200;
    // The job keeps only what it shares, as a job that may be abandoned must.
    worker.SetOnExecute([release, jobEnded, callRan, &started](TComponent*) {
      started = true;
      release->Wait();
      TEventWorkerThread::Current()->Synchronize([callRan] { *callRan = true; });
      *jobEnded = true;
    });
    worker.Execute();
    while (!started) std::this_thread::sleep_for(1ms);
  }
  release->Open();
  ASSERT_TRUE(PumpUntil([&] { return jobEnded->load() && TWorkerThreadWindow::RefCount() == 0; }));
  PumpFor(50);
  EXPECT_FALSE(*callRan);
}

TEST(WorkerThread, WaitForKeepsServingCallsAndReturnsTheExitCode) {
  std::atomic<int> calls{0};
  TWorkerThread worker;
  worker.SetOnExecute([&](TComponent*) {
    for (int i = 0; i < 3; ++i) worker.Synchronize([&] { ++calls; });
    worker.SetReturnValue(42);
  });
  worker.Execute();
  EXPECT_EQ(worker.WaitFor(), 42);
  EXPECT_EQ(calls, 3);
}

TEST(WorkerThread, WaitThreadReturnsWhenTheJobHasEnded) {
  std::atomic<int> calls{0};
  bool completed = false;
  TWorkerThread worker;
  worker.WaitThread = true;
  worker.SetOnExecute([&](TComponent*) {
    for (int i = 0; i < 3; ++i) worker.Synchronize([&] { ++calls; });
  });
  worker.SetOnTerminate([&](TComponent*) { completed = true; });
  EXPECT_TRUE(worker.Execute());
  EXPECT_EQ(calls, 3);
  EXPECT_TRUE(completed);
}

struct WaitTimeoutCase {
  bool handlerKeepsRunning;  // OnWaitTimeoutExpired clears Terminate
  bool executeResult;
};

class WorkerThreadWaitTimeout : public testing::TestWithParam<WaitTimeoutCase> {};

// Events every 500 ms keep a 1000 ms limit from running out; it runs out only once they stop.
TEST_P(WorkerThreadWaitTimeout, LimitCountsFromTheLastEvent) {
  const WaitTimeoutCase c = GetParam();
  constexpr int kEvents = 3;
  std::atomic<int> events{0};
  std::atomic<bool> stopped{false};
  int eventsAtTimeout = -1;
  bool timeoutOnUi = false;

  TWorkerThread worker;
  worker.WaitThread = true;
  worker.WaitTimeout = 1000;
  worker.SetOnExecute([&](TComponent*) {
    for (int i = 0; i < kEvents; ++i) {
      std::this_thread::sleep_for(500ms);
      worker.Synchronize([&] { ++events; });
    }
    while (!worker.GetTerminated()) std::this_thread::sleep_for(5ms);
    stopped = true;
  });
  worker.OnWaitTimeoutExpired = [&](TComponent* sender, bool& terminate) {
    EXPECT_EQ(sender, &worker);
    eventsAtTimeout = events;
    timeoutOnUi = OnMainThread();
    if (c.handlerKeepsRunning) terminate = false;
  };
  EXPECT_EQ(worker.Execute(), c.executeResult);
  EXPECT_EQ(eventsAtTimeout, kEvents);
  EXPECT_TRUE(timeoutOnUi);
  if (c.handlerKeepsRunning) {
    EXPECT_TRUE(worker.Running());
    worker.Terminate(true);
  }
  EXPECT_TRUE(stopped);
}

INSTANTIATE_TEST_SUITE_P(Handler, WorkerThreadWaitTimeout,
                         testing::Values(WaitTimeoutCase{false, false}, WaitTimeoutCase{true, true}));

TEST(WorkerThread, CallsAreServedInsideANestedEventLoop) {
  std::atomic<int> calls{0};
  bool completed = false;
  TWorkerThread worker;
  worker.SetOnExecute([&](TComponent*) {
    for (int i = 0; i < 5; ++i) worker.Synchronize([&] { ++calls; });
  });
  worker.SetOnTerminate([&](TComponent*) { completed = true; });
  // A modal dialog's loop is a nested event loop started from an event handler.
  QTimer::singleShot(0, [&] {
    worker.Execute();
    PumpUntil([&] { return completed; });
  });
  ASSERT_TRUE(PumpUntil([&] { return completed; }));
  EXPECT_EQ(calls, 5);
}

TEST(WorkerThread, TerminateWithoutRecreateMarksTheRunningJob) {
  std::atomic<bool> sawMark{false};
  std::atomic<bool> started{false};
  bool completed = false;
  TWorkerThread worker;
  worker.SetOnExecute([&](TComponent*) {
    started = true;
    while (!worker.GetTerminated()) std::this_thread::sleep_for(2ms);
    sawMark = true;
  });
  worker.SetOnTerminate([&](TComponent*) { completed = true; });
  worker.Execute();
  while (!started) std::this_thread::sleep_for(1ms);
  EXPECT_FALSE(worker.GetTerminated());
  worker.Terminate(false);
  ASSERT_TRUE(PumpUntil([&] { return completed; }));
  EXPECT_TRUE(sawMark);
}

}  // namespace
}  // namespace quillet
