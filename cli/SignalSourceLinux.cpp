// The signal source over a signalfd: the signals are blocked in every thread and read from the
// descriptor by a thread of the source's own.

#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include "cli/SignalSource.h"
#include "hid/ReadableWatch.h"

namespace quillet::cli {

namespace {

class SignalFdSource : public SignalSource {
 public:
  explicit SignalFdSource(int fd) : fd_(fd) {}
  ~SignalFdSource() override {
    watch_.reset();
    ::close(fd_);
  }

  hid::Subscription Subscribe(hid::Post post, hid::Listeners<ProcessSignal>::Listener listener) override {
    auto subscription = signals_.Subscribe(std::move(post), std::move(listener));
    if (!watch_) watch_ = std::make_unique<hid::ReadableWatch>(fd_, [this] { TakeSignals(); });
    return subscription;
  }

 private:
  void TakeSignals() {
    signalfd_siginfo info;
    while (::read(fd_, &info, sizeof info) == static_cast<ssize_t>(sizeof info))
      signals_.Publish(info.ssi_signo == SIGUSR1 ? ProcessSignal::TogglePlug : ProcessSignal::Quit);
  }

  const int fd_;
  hid::Listeners<ProcessSignal> signals_;
  std::unique_ptr<hid::ReadableWatch> watch_;  // started by the first listener
};

}  // namespace

std::unique_ptr<SignalSource> TakeSignals(bool togglePlug) {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  if (togglePlug) sigaddset(&set, SIGUSR1);
  sigset_t before;
  ::pthread_sigmask(SIG_BLOCK, &set, &before);
  const int fd = ::signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
  if (fd < 0) {
    // Blocked with no one to read them, Ctrl-C would not end the program.
    ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
    return nullptr;
  }
  return std::make_unique<SignalFdSource>(fd);
}

}  // namespace quillet::cli
