#include "net/WorkerThreadWindow.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <thread>

namespace quillet {
namespace {

struct WindowState {
  std::mutex lock;
  std::condition_variable callDone;  // a worker's call has run
  std::condition_variable uiWake;    // a call was queued or a thread ended
  std::deque<std::shared_ptr<TPendingCall>> queue;
  int refCount = 0;
  std::thread::id uiThread;
  int eventFd = -1;
  QSocketNotifier* notifier = nullptr;
};

// Never destroyed: an abandoned worker may still reach it while the process exits.
WindowState& State() {
  static WindowState* state = new WindowState;
  return *state;
}

void SignalEventFd(WindowState& s) {
  if (s.eventFd < 0) return;
  const uint64_t one = 1;
  [[maybe_unused]] ssize_t n = ::write(s.eventFd, &one, sizeof one);
}

void CreateWindowLocked(WindowState& s) {
  s.uiThread = std::this_thread::get_id();
  if (s.eventFd >= 0) return;  // left in place by a release on another thread
  s.eventFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (s.eventFd < 0 || !QCoreApplication::instance()) return;  // only our own waits serve calls
  s.notifier = new QSocketNotifier(s.eventFd, QSocketNotifier::Read);
  const int fd = s.eventFd;
  QObject::connect(s.notifier, &QSocketNotifier::activated, [fd] {
    uint64_t count = 0;
    [[maybe_unused]] ssize_t n = ::read(fd, &count, sizeof count);
    TWorkerThreadWindow::ServicePending();
  });
}

void DestroyWindowLocked(WindowState& s) {
  delete s.notifier;
  s.notifier = nullptr;
  if (s.eventFd >= 0) ::close(s.eventFd);
  s.eventFd = -1;
}

}  // namespace

std::mutex& TWorkerThreadWindow::Lock() { return State().lock; }

void TWorkerThreadWindow::AddRef() {
  WindowState& s = State();
  std::lock_guard guard(s.lock);
  if (s.refCount++ == 0) CreateWindowLocked(s);
}

void TWorkerThreadWindow::Release() {
  WindowState& s = State();
  std::lock_guard guard(s.lock);
  // The notifier belongs to the UI thread: a last release elsewhere (an abandoned worker
  // ending) leaves it for the next one there.
  if (--s.refCount == 0 && std::this_thread::get_id() == s.uiThread) DestroyWindowLocked(s);
}

int TWorkerThreadWindow::RefCount() {
  std::lock_guard guard(State().lock);
  return State().refCount;
}

void TWorkerThreadWindow::Send(const std::shared_ptr<TPendingCall>& call) {
  WindowState& s = State();
  std::unique_lock guard(s.lock);
  if (std::this_thread::get_id() == s.uiThread) {
    guard.unlock();
    call->Run();
    return;
  }
  s.queue.push_back(call);
  SignalEventFd(s);
  s.uiWake.notify_all();
  s.callDone.wait(guard, [&] { return call->Done; });
}

void TWorkerThreadWindow::ServicePending() {
  WindowState& s = State();
  std::unique_lock guard(s.lock);
  while (!s.queue.empty()) {
    std::shared_ptr<TPendingCall> call = std::move(s.queue.front());
    s.queue.pop_front();
    guard.unlock();
    call->Run();
    guard.lock();
    call->Done = true;
    s.callDone.notify_all();
  }
}

bool TWorkerThreadWindow::WaitUntil(const std::function<bool()>& done,
                                    std::optional<std::chrono::milliseconds> limit) {
  WindowState& s = State();
  const auto deadline = std::chrono::steady_clock::now() + limit.value_or(std::chrono::milliseconds(0));
  std::unique_lock guard(s.lock);
  const bool service = s.refCount > 0 && std::this_thread::get_id() == s.uiThread;
  while (!done()) {
    if (service && !s.queue.empty()) {
      guard.unlock();
      ServicePending();
      guard.lock();
      continue;
    }
    if (!limit) {
      s.uiWake.wait(guard);
    } else if (s.uiWake.wait_until(guard, deadline) == std::cv_status::timeout) {
      if (done()) break;
      if (service && !s.queue.empty()) continue;
      return false;
    }
  }
  return true;
}

void TWorkerThreadWindow::Wake() {
  WindowState& s = State();
  std::lock_guard guard(s.lock);
  SignalEventFd(s);
  s.uiWake.notify_all();
}

}  // namespace quillet
