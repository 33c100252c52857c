// The signal source over the console's control handler: Ctrl-C, Ctrl-Break and the console
// window's closing ask watch mode to quit. Windows has no signal a user sends to unplug the
// simulated programmer, so that toggle is not offered here.

#include <windows.h>

#include <mutex>

#include "cli/SignalSource.h"

namespace quillet::cli {

namespace {

class ConsoleControlSource;

// The system calls the handler on a thread of its own, with no context: the one source is found
// here, under the lock its destruction takes too.
std::mutex gMutex;
ConsoleControlSource* gSource = nullptr;

class ConsoleControlSource : public SignalSource {
 public:
  ConsoleControlSource() {
    std::lock_guard lock(gMutex);
    gSource = this;
  }
  ~ConsoleControlSource() override {
    ::SetConsoleCtrlHandler(&Handle, FALSE);
    std::lock_guard lock(gMutex);
    gSource = nullptr;
  }

  hid::Subscription Subscribe(hid::Post post, hid::Listeners<ProcessSignal>::Listener listener) override {
    return signals_.Subscribe(std::move(post), std::move(listener));
  }

  static BOOL WINAPI Handle(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) return FALSE;
    std::lock_guard lock(gMutex);
    if (!gSource) return FALSE;
    gSource->signals_.Publish(ProcessSignal::Quit);
    return TRUE;
  }

 private:
  hid::Listeners<ProcessSignal> signals_;
};

}  // namespace

std::unique_ptr<SignalSource> TakeSignals(bool) {
  auto source = std::make_unique<ConsoleControlSource>();
  if (!::SetConsoleCtrlHandler(&ConsoleControlSource::Handle, TRUE)) return nullptr;
  return source;
}

}  // namespace quillet::cli
