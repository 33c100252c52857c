#include "hid/ReadableWatch.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <system_error>

namespace quillet::hid {

namespace {

int NewStopEvent() {
  const int fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (fd < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
  return fd;
}

}  // namespace

ReadableWatch::ReadableWatch(int fd, std::function<void()> onReadable)
    : fd_(fd), stop_(NewStopEvent()), onReadable_(std::move(onReadable)) {
  try {
    thread_ = std::thread([this] { Run(); });
  } catch (...) {
    ::close(stop_);
    throw;
  }
}

ReadableWatch::~ReadableWatch() {
  const uint64_t one = 1;
  [[maybe_unused]] ssize_t n = ::write(stop_, &one, sizeof one);
  thread_.join();
  ::close(stop_);
}

void ReadableWatch::Run() {
  for (;;) {
    pollfd fds[2] = {{stop_, POLLIN, 0}, {fd_, POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[0].revents) return;
    // A descriptor that failed would be reported readable for ever: stop watching it instead.
    if (fds[1].revents & (POLLERR | POLLNVAL)) return;
    if (fds[1].revents & POLLIN) onReadable_();
    else if (fds[1].revents & POLLHUP) return;
  }
}

}  // namespace quillet::hid
