#pragma once
// A component that runs one job at a time on a fresh OS thread and carries its completion, its
// error reports and any call the job asks for back to the UI thread, where the caller waits.

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "component/Component.h"

namespace quillet {

// The platform value of each priority, and back; a value not in the table reads as tpNormal.
int ThreadPriorityValue(TThreadPriority priority);
TThreadPriority ThreadPriorityFromValue(int value);
// The Linux nice level a platform priority value is applied as.
int NiceForThreadPriorityValue(int value);

using TWorkerWaitTimeoutExpired = std::function<void(TComponent* Sender, bool& Terminate)>;

class TCustomWorkerThread;

// One run's thread object. Shared between its component and its OS thread, so a thread that is
// abandoned (see Dispose) keeps what it uses alive after the component has gone.
class TEventWorkerThread : public std::enable_shared_from_this<TEventWorkerThread> {
 public:
  // Creates the object and its OS thread, which waits, suspended, for Resume.
  static std::shared_ptr<TEventWorkerThread> CreateThread(TCustomWorkerThread* owner);
  virtual ~TEventWorkerThread();

  // On a worker: the thread object whose job runs on the calling thread, else null.
  static TEventWorkerThread* Current();

  void SetOnExecute(TNotifyEvent handler);
  void SetOnException(TNotifyEvent handler);
  void SetOnTerminate(TNotifyEvent handler);
  TNotifyEvent OnExecute() const;
  TNotifyEvent OnException() const;
  TNotifyEvent OnTerminate() const;

  // On the worker: runs method on the UI thread and returns when it has run there. Does nothing
  // once the owner is being destroyed. An error it raises is dropped with HandleExceptions,
  // raised again here without.
  void Synchronize(const std::function<void()>& method);

  bool Terminated() const { return terminated_; }
  void Terminate() { terminated_ = true; }
  bool Running() const { return running_; }
  bool Finished() const;  // the OS thread has left its procedure
  bool FinishedLocked() const { return finished_; }  // with TWorkerThreadWindow::Lock() held
  TCustomWorkerThread* Owner() const;

  bool Suspended() const;
  void SetSuspended(bool suspended);
  void Suspend();
  // Returns the suspend count before the call; the thread starts when it reaches zero.
  unsigned Resume();

  int PriorityValue() const;
  void SetPriorityValue(int value);

  pthread_t Handle() const { return handle_; }
  pid_t ThreadID() const { return threadId_; }
  int32_t ReturnValue() const { return returnValue_; }
  void SetReturnValue(int32_t value) { returnValue_ = value; }
  // The error being reported while OnException runs.
  std::exception_ptr ExceptionObject() const;

  // Waits for the thread to end and returns its exit code; on the UI thread, calls the thread
  // makes meanwhile are still run. A thread that was never started returns at once.
  int32_t WaitFor();

  // Ends the object: marks it terminated, lets a never-started thread end at once and waits for
  // the thread, at most limit (none = without limit), running its calls meanwhile. A thread
  // still running then is abandoned: cut off from its owner, so its remaining calls and its
  // completion are skipped, and left to end on its own. Returns true when the thread ended.
  // Called from inside one of this thread's own calls (a handler freeing its component), it
  // abandons the thread at once: the thread is waiting for that call and cannot end first.
  bool Dispose(std::optional<std::chrono::milliseconds> limit);

 private:
  explicit TEventWorkerThread(TCustomWorkerThread* owner);
  void ThreadProc();
  void Execute();
  void DoTerminate();
  void CallTerminate();
  void CallException();
  bool OwnerDestroying() const;
  bool HandleExceptions() const;
  void ApplyPriority();

  mutable std::mutex mutex_;
  std::condition_variable gate_;  // suspend count reaching zero, the thread id being known
  TCustomWorkerThread* owner_;
  TNotifyEvent onExecute_, onException_, onTerminate_;
  std::exception_ptr exception_;
  unsigned suspendCount_ = 1;
  bool suspended_ = true;
  bool started_ = false;
  int priorityValue_ = 0;

  std::thread thread_;
  pthread_t handle_{};
  std::atomic<pid_t> threadId_{0};
  std::atomic<bool> terminated_{false};
  std::atomic<bool> running_{false};
  std::atomic<int32_t> returnValue_{0};
  bool finished_ = false;  // guarded by TWorkerThreadWindow::Lock()
  std::atomic<int> callsRunning_{0};  // this thread's calls now running on the UI thread
};

class TCustomWorkerThread : public TComponent {
 public:
  explicit TCustomWorkerThread(TComponent* owner = nullptr);
  ~TCustomWorkerThread() override;

  // Applies the stored Suspended value of a component read from a form.
  void Loaded() override;

  void SetOnExecute(TNotifyEvent handler) { thread_->SetOnExecute(std::move(handler)); }
  void SetOnException(TNotifyEvent handler) { thread_->SetOnException(std::move(handler)); }
  void SetOnTerminate(TNotifyEvent handler) { thread_->SetOnTerminate(std::move(handler)); }
  TWorkerWaitTimeoutExpired OnWaitTimeoutExpired;

  // Starts a run on a fresh thread. With WaitThread it returns when the job has ended, or false
  // when WaitTimeout passed without any event and the time-out handler let the run be stopped.
  bool Execute();
  // With Recreate the current thread object is replaced by a fresh suspended one (ending the
  // old one); without, the current one is only marked terminated.
  void Terminate(bool Recreate);
  // The terminate mark a job reads at its checkpoints: its own thread object's when called from
  // the job, else the current one's.
  bool GetTerminated() const;
  // From the job: runs method on the UI thread and returns when it has run.
  void Synchronize(const std::function<void()>& method);

  bool Running() const { return thread_->Running(); }
  bool RunningAndNotSuspended() const { return thread_->Running() && !thread_->Suspended(); }
  bool GetSuspended() const { return thread_->Suspended(); }
  void SetSuspended(bool suspended);
  void Suspend() { thread_->Suspend(); }
  void Resume() { thread_->Resume(); }
  TThreadPriority GetPriority() const { return ThreadPriorityFromValue(thread_->PriorityValue()); }
  void SetPriority(TThreadPriority priority) { thread_->SetPriorityValue(ThreadPriorityValue(priority)); }
  pthread_t Handle() const { return thread_->Handle(); }
  pid_t GetThreadID() const { return thread_->ThreadID(); }
  int32_t GetReturnValue() const { return thread_->ReturnValue(); }
  void SetReturnValue(int32_t value) { thread_->SetReturnValue(value); }
  int32_t WaitFor() { return thread_->WaitFor(); }
  std::exception_ptr ExceptionObject() const { return thread_->ExceptionObject(); }

  bool GetHandleExceptions() const { return handleExceptions_; }
  void SetHandleExceptions(bool value) { handleExceptions_ = value; }

  bool WaitThread = false;
  uint32_t WaitTimeout = 0;  // milliseconds, 0 = no limit
  bool StoredSuspended = true;
  // How long ending a thread object waits for a job that ignores its terminate mark before
  // abandoning it (0 = wait without limit).
  uint32_t TerminateWaitLimit = 5000;

 protected:
  void RecreateThread();

 private:
  bool WaitForRun();
  std::optional<std::chrono::milliseconds> DisposeLimit() const;

  std::shared_ptr<TEventWorkerThread> thread_;
  std::atomic<bool> handleExceptions_{true};
  // Cleared by the destructor: a wait further up the stack learns that a handler freed us.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

// The published form of the component.
class TWorkerThread : public TCustomWorkerThread {
 public:
  using TCustomWorkerThread::TCustomWorkerThread;
};

}  // namespace quillet
