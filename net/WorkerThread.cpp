#include "net/WorkerThread.h"

#include <sys/resource.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>
#include <QTimer>
#include <array>
#include <utility>

#include "net/WorkerThreadWindow.h"

namespace quillet {
namespace {

struct PriorityRow {
  TThreadPriority priority;
  int value;
  int nice;
};

constexpr std::array<PriorityRow, 7> kPriorities{{
    {tpIdle, -15, 19},
    {tpLowest, -2, 10},
    {tpLower, -1, 5},
    {tpNormal, 0, 0},
    {tpHigher, 1, -5},
    {tpHighest, 2, -10},
    {tpTimeCritical, 15, -20},
}};

thread_local TEventWorkerThread* tCurrent = nullptr;

// Watches every event the UI thread takes during one wait, telling the wait's own time-out
// apart from anything else arriving, and noticing a request to quit.
class ActivityWatch : public QObject {
 public:
  ActivityWatch() { QCoreApplication::instance()->installEventFilter(this); }
  ~ActivityWatch() override { QCoreApplication::instance()->removeEventFilter(this); }

  void Arm(uint32_t timeoutMs) {
    activity_ = timedOut_ = false;
    if (timeoutMs == 0) return;
    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::PreciseTimer);
    timer_.start(static_cast<int>(std::min<uint32_t>(timeoutMs, INT32_MAX)));
  }
  void Disarm() { timer_.stop(); }
  bool TimedOutQuietly() const { return timedOut_ && !activity_; }
  bool QuitSeen() const { return quit_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == &timer_ && event->type() == QEvent::Timer) {
      timedOut_ = true;
    } else {
      activity_ = true;
      if (event->type() == QEvent::Quit) quit_ = true;
    }
    return false;
  }

 private:
  QTimer timer_;
  bool activity_ = false;
  bool timedOut_ = false;
  bool quit_ = false;
};

}  // namespace

int ThreadPriorityValue(TThreadPriority priority) {
  for (const PriorityRow& row : kPriorities)
    if (row.priority == priority) return row.value;
  return 0;
}

TThreadPriority ThreadPriorityFromValue(int value) {
  for (const PriorityRow& row : kPriorities)
    if (row.value == value) return row.priority;
  return tpNormal;
}

int NiceForThreadPriorityValue(int value) {
  for (const PriorityRow& row : kPriorities)
    if (row.value == value) return row.nice;
  return 0;
}

// ---- thread object ----

TEventWorkerThread::TEventWorkerThread(TCustomWorkerThread* owner) : owner_(owner) {
  TWorkerThreadWindow::AddRef();
}

std::shared_ptr<TEventWorkerThread> TEventWorkerThread::CreateThread(TCustomWorkerThread* owner) {
  std::shared_ptr<TEventWorkerThread> object(new TEventWorkerThread(owner));
  // The OS thread holds the object until it leaves its procedure.
  object->thread_ = std::thread([object] { object->ThreadProc(); });
  object->handle_ = object->thread_.native_handle();
  std::unique_lock lock(object->mutex_);
  object->gate_.wait(lock, [&] { return object->threadId_ != 0; });
  return object;
}

TEventWorkerThread::~TEventWorkerThread() {
  if (thread_.joinable()) {
    // Only reached when the last owner never disposed the object.
    if (thread_.get_id() == std::this_thread::get_id()) {
      thread_.detach();
    } else {
      terminated_ = true;
      {
        std::lock_guard lock(mutex_);
        suspendCount_ = 0;
      }
      gate_.notify_all();
      thread_.join();
    }
  }
  TWorkerThreadWindow::Release();
}

TEventWorkerThread* TEventWorkerThread::Current() { return tCurrent; }

void TEventWorkerThread::SetOnExecute(TNotifyEvent handler) {
  std::lock_guard lock(mutex_);
  onExecute_ = std::move(handler);
}
void TEventWorkerThread::SetOnException(TNotifyEvent handler) {
  std::lock_guard lock(mutex_);
  onException_ = std::move(handler);
}
void TEventWorkerThread::SetOnTerminate(TNotifyEvent handler) {
  std::lock_guard lock(mutex_);
  onTerminate_ = std::move(handler);
}
TNotifyEvent TEventWorkerThread::OnExecute() const {
  std::lock_guard lock(mutex_);
  return onExecute_;
}
TNotifyEvent TEventWorkerThread::OnException() const {
  std::lock_guard lock(mutex_);
  return onException_;
}
TNotifyEvent TEventWorkerThread::OnTerminate() const {
  std::lock_guard lock(mutex_);
  return onTerminate_;
}

TCustomWorkerThread* TEventWorkerThread::Owner() const {
  std::lock_guard lock(mutex_);
  return owner_;
}

bool TEventWorkerThread::OwnerDestroying() const {
  std::lock_guard lock(mutex_);
  return owner_ == nullptr || owner_->IsDestroying();
}

bool TEventWorkerThread::HandleExceptions() const {
  std::lock_guard lock(mutex_);
  return owner_ == nullptr || owner_->GetHandleExceptions();
}

std::exception_ptr TEventWorkerThread::ExceptionObject() const {
  std::lock_guard lock(mutex_);
  return exception_;
}

bool TEventWorkerThread::Finished() const {
  std::lock_guard lock(TWorkerThreadWindow::Lock());
  return finished_;
}

void TEventWorkerThread::ThreadProc() {
  {
    std::unique_lock lock(mutex_);
    threadId_ = ::gettid();
    gate_.notify_all();
    gate_.wait(lock, [&] { return suspendCount_ == 0; });
    started_ = true;
  }
  tCurrent = this;
  if (!terminated_) {
    ApplyPriority();
    running_ = true;
    try {
      Execute();
    } catch (...) {
      // Untrapped errors (HandleExceptions off) end the job; they must not end the process.
    }
    try {
      DoTerminate();
    } catch (...) {
    }
    running_ = false;
  }
  tCurrent = nullptr;
  {
    std::lock_guard lock(TWorkerThreadWindow::Lock());
    finished_ = true;
  }
  TWorkerThreadWindow::Wake();
}

void TEventWorkerThread::Execute() {
  TNotifyEvent job = OnExecute();
  if (!job || OwnerDestroying()) return;
  TComponent* sender = Owner();
  if (!HandleExceptions()) {
    job(sender);
    return;
  }
  try {
    job(sender);
  } catch (...) {
    {
      std::lock_guard lock(mutex_);
      exception_ = std::current_exception();
    }
    if (OnException() && !OwnerDestroying()) Synchronize([this] { CallException(); });
    std::lock_guard lock(mutex_);
    exception_ = nullptr;
  }
}

void TEventWorkerThread::DoTerminate() {
  if (OnTerminate()) Synchronize([this] { CallTerminate(); });
}

void TEventWorkerThread::CallTerminate() {
  if (OwnerDestroying()) return;
  TNotifyEvent handler = OnTerminate();
  if (!handler) return;
  if (!HandleExceptions()) {
    handler(Owner());
    return;
  }
  try {
    handler(Owner());
  } catch (...) {
    {
      std::lock_guard lock(mutex_);
      exception_ = std::current_exception();
    }
    CallException();
    std::lock_guard lock(mutex_);
    exception_ = nullptr;
  }
}

void TEventWorkerThread::CallException() {
  if (OwnerDestroying()) return;
  if (TNotifyEvent handler = OnException()) handler(Owner());
}

void TEventWorkerThread::Synchronize(const std::function<void()>& method) {
  if (OwnerDestroying()) return;
  std::exception_ptr error;
  auto call = std::make_shared<TPendingCall>();
  // Runs on the UI thread while this worker waits, so the object and `error` outlive it.
  call->Run = [this, &method, &error] {
    if (OwnerDestroying()) return;
    ++callsRunning_;
    try {
      method();
    } catch (...) {
      error = std::current_exception();
    }
    --callsRunning_;
  };
  TWorkerThreadWindow::Send(call);
  if (error && !HandleExceptions()) std::rethrow_exception(error);
}

bool TEventWorkerThread::Suspended() const {
  std::lock_guard lock(mutex_);
  return suspended_;
}

void TEventWorkerThread::Suspend() {
  // A started Linux thread cannot be frozen from outside: this holds back only a thread that
  // has not started its job yet.
  std::lock_guard lock(mutex_);
  suspended_ = true;
  ++suspendCount_;
}

unsigned TEventWorkerThread::Resume() {
  unsigned before;
  {
    std::lock_guard lock(mutex_);
    before = suspendCount_;
    if (suspendCount_ == 0) return 0;
    if (--suspendCount_ == 0) suspended_ = false;
  }
  gate_.notify_all();
  return before;
}

void TEventWorkerThread::SetSuspended(bool suspended) {
  if (suspended == Suspended()) return;
  if (suspended)
    Suspend();
  else
    Resume();
}

int TEventWorkerThread::PriorityValue() const {
  std::lock_guard lock(mutex_);
  return priorityValue_;
}

void TEventWorkerThread::SetPriorityValue(int value) {
  {
    std::lock_guard lock(mutex_);
    priorityValue_ = value;
  }
  if (running_) ApplyPriority();
}

void TEventWorkerThread::ApplyPriority() {
  // Raising a priority needs privileges most users lack; the value is kept either way.
  ::setpriority(PRIO_PROCESS, static_cast<id_t>(threadId_.load()),
                NiceForThreadPriorityValue(PriorityValue()));
}

int32_t TEventWorkerThread::WaitFor() {
  {
    std::lock_guard lock(mutex_);
    if (!started_ && suspendCount_ > 0) return returnValue_;
  }
  TWorkerThreadWindow::WaitUntil([this] { return finished_; }, std::nullopt);
  return returnValue_;
}

bool TEventWorkerThread::Dispose(std::optional<std::chrono::milliseconds> limit) {
  terminated_ = true;
  {
    std::lock_guard lock(mutex_);
    suspendCount_ = 0;
    suspended_ = false;
  }
  gate_.notify_all();
  // The thread waits for the call we are inside of; waiting for the thread would never end.
  const bool ended = callsRunning_ == 0 && TWorkerThreadWindow::WaitUntil([this] { return finished_; }, limit);
  if (ended) {
    if (thread_.joinable()) thread_.join();
    return true;
  }
  {
    std::lock_guard lock(mutex_);
    owner_ = nullptr;
  }
  thread_.detach();
  return false;
}

// ---- component ----

TCustomWorkerThread::TCustomWorkerThread(TComponent* owner)
    : TComponent(owner), thread_(TEventWorkerThread::CreateThread(this)) {}

TCustomWorkerThread::~TCustomWorkerThread() {
  *alive_ = false;
  Destroying();
  thread_->Dispose(DisposeLimit());
}

std::optional<std::chrono::milliseconds> TCustomWorkerThread::DisposeLimit() const {
  if (TerminateWaitLimit == 0) return std::nullopt;
  return std::chrono::milliseconds(TerminateWaitLimit);
}

void TCustomWorkerThread::Loaded() {
  TComponent::Loaded();
  SetSuspended(StoredSuspended);
}

void TCustomWorkerThread::SetSuspended(bool suspended) {
  if (IsLoading()) {
    StoredSuspended = suspended;
    return;
  }
  thread_->SetSuspended(suspended);
}

void TCustomWorkerThread::RecreateThread() {
  std::shared_ptr<TEventWorkerThread> fresh = TEventWorkerThread::CreateThread(this);
  try {
    fresh->SetPriorityValue(thread_->PriorityValue());
    fresh->SetOnTerminate(thread_->OnTerminate());
    fresh->SetOnExecute(thread_->OnExecute());
    fresh->SetOnException(thread_->OnException());
  } catch (...) {
    fresh->Dispose(std::nullopt);
    throw;
  }
  thread_->Dispose(DisposeLimit());
  thread_ = std::move(fresh);
}

void TCustomWorkerThread::Terminate(bool Recreate) {
  if (Recreate)
    RecreateThread();
  else
    thread_->Terminate();
}

bool TCustomWorkerThread::GetTerminated() const {
  if (TEventWorkerThread* own = TEventWorkerThread::Current(); own && own->Owner() == this)
    return own->Terminated();
  return thread_->Terminated();
}

void TCustomWorkerThread::Synchronize(const std::function<void()>& method) {
  if (TEventWorkerThread* own = TEventWorkerThread::Current(); own && own->Owner() == this) {
    own->Synchronize(method);
    return;
  }
  // Not from one of our jobs: the caller is already on the UI thread or waits like a job would.
  if (IsDestroying()) return;
  auto call = std::make_shared<TPendingCall>();
  std::exception_ptr error;
  call->Run = [&] {
    try {
      method();
    } catch (...) {
      error = std::current_exception();
    }
  };
  TWorkerThreadWindow::Send(call);
  if (error && !GetHandleExceptions()) std::rethrow_exception(error);
}

bool TCustomWorkerThread::Execute() {
  Terminate(true);
  thread_->Resume();
  if (!WaitThread) return true;
  return WaitForRun();
}

bool TCustomWorkerThread::WaitForRun() {
  std::shared_ptr<TEventWorkerThread> thread = thread_;
  const std::shared_ptr<bool> alive = alive_;
  bool timedOut = false;
  if (!QCoreApplication::instance()) {
    // No event loop to keep going: only the thread's own calls are served.
    std::optional<std::chrono::milliseconds> limit;
    if (WaitTimeout) limit = std::chrono::milliseconds(WaitTimeout);
    timedOut = !TWorkerThreadWindow::WaitUntil(
        [&] { return !*alive || thread->FinishedLocked() || IsDestroying(); }, limit);
    if (!*alive) return true;
  } else {
    ActivityWatch watch;
    for (;;) {
      // A handler run meanwhile may have freed this component: then nothing of it is touched.
      if (!*alive) return true;
      if (thread->Finished() || IsDestroying() || watch.QuitSeen() || QCoreApplication::closingDown())
        break;
      // Each wait is limited on its own, so the limit counts from the last event handled.
      watch.Arm(WaitTimeout);
      QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
      watch.Disarm();
      if (watch.TimedOutQuietly()) {
        timedOut = true;
        break;
      }
    }
  }
  if (!timedOut) return true;
  bool terminate = true;
  if (OnWaitTimeoutExpired) OnWaitTimeoutExpired(this, terminate);
  if (terminate) Terminate(true);
  return !terminate;
}

}  // namespace quillet
