#pragma once
// The UI-thread end of the calls a worker makes onto the UI thread. It exists while any worker
// thread object lives (a process-wide reference count under one lock) and lives on the thread
// that created the first of them. A worker queues its call and waits; the UI thread runs it the
// next time it takes events (its event loop, a modal dialog's loop) or inside the component's
// own waits. The wake-up is an eventfd watched by a socket notifier, so no Qt object is touched
// from the worker and every hand-over goes through our own lock.

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

namespace quillet {

struct TPendingCall {
  std::function<void()> Run;  // runs on the UI thread; must not throw
  bool Done = false;          // guarded by TWorkerThreadWindow::Lock()
};

class TWorkerThreadWindow {
 public:
  // One reference per live thread object; the first creates the UI-side object on the calling
  // thread, the last (released on that thread) destroys it.
  static void AddRef();
  static void Release();
  static int RefCount();
  static std::mutex& Lock();

  // Worker side: hands the call to the UI thread and returns once it has run there.
  // On the UI thread itself the call runs at once.
  static void Send(const std::shared_ptr<TPendingCall>& call);

  // UI side: runs every queued call.
  static void ServicePending();

  // Waits until done() holds (evaluated under Lock()). On the UI thread, queued calls are run
  // meanwhile and nothing else is; elsewhere it only waits. Returns false when limit ran out.
  static bool WaitUntil(const std::function<bool()>& done,
                        std::optional<std::chrono::milliseconds> limit);

  // Wakes the waits and the UI thread's event loop; call after changing what they wait for.
  static void Wake();
};

}  // namespace quillet
