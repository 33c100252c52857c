#pragma once
// A thread of its own that waits for a descriptor to become readable and calls `onReadable` each
// time it is, until the watch is destroyed. `onReadable` must drain what is readable, or it is
// called again at once. The descriptor stays the caller's and must outlive the watch.

#include <functional>
#include <thread>

namespace quillet::hid {

class ReadableWatch {
 public:
  // Throws std::system_error when the thread's wake-up cannot be made.
  ReadableWatch(int fd, std::function<void()> onReadable);
  // Once it returns, `onReadable` is not running and will not run again.
  ~ReadableWatch();
  ReadableWatch(const ReadableWatch&) = delete;
  ReadableWatch& operator=(const ReadableWatch&) = delete;

 private:
  void Run();

  const int fd_;
  const int stop_;
  const std::function<void()> onReadable_;
  std::thread thread_;
};

}  // namespace quillet::hid
