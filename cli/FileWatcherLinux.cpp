// The file watcher over inotify, watching the file's folder: an editor or a linker often replaces
// a file by renaming a new one over it, which a watch on the file itself would not follow.

#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>

#include "cli/FileWatcher.h"
#include "hid/ReadableWatch.h"

namespace quillet::cli {

namespace {

std::optional<FileEvent> EventOf(uint32_t mask) {
  if (mask & IN_CLOSE_WRITE) return FileEvent::ClosedAfterWriting;
  if (mask & IN_MOVED_TO) return FileEvent::RenamedIntoPlace;
  if (mask & IN_MODIFY) return FileEvent::Modified;
  if (mask & IN_CREATE) return FileEvent::Created;
  return std::nullopt;
}

class InotifyFileWatcher : public FileWatcher {
 public:
  InotifyFileWatcher(int fd, std::string name, hid::Post post, std::function<void(FileEvent)> onEvent)
      : fd_(fd), name_(std::move(name)) {
    subscription_ = events_.Subscribe(std::move(post), [onEvent = std::move(onEvent)](const FileEvent& e) { onEvent(e); });
    watch_ = std::make_unique<hid::ReadableWatch>(fd_, [this] { TakeEvents(); });
  }
  ~InotifyFileWatcher() override {
    watch_.reset();
    subscription_.Reset();
    ::close(fd_);
  }

 private:
  void TakeEvents() {
    alignas(inotify_event) char buffer[4096];
    for (;;) {
      const ssize_t n = ::read(fd_, buffer, sizeof buffer);
      if (n <= 0) break;
      for (ssize_t at = 0; at < n;) {
        const auto* e = reinterpret_cast<const inotify_event*>(buffer + at);
        at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
        if (e->len == 0 || name_ != e->name) continue;
        if (const auto event = EventOf(e->mask)) events_.Publish(*event);
      }
    }
  }

  const int fd_;
  const std::string name_;
  hid::Listeners<FileEvent> events_;
  hid::Subscription subscription_;
  std::unique_ptr<hid::ReadableWatch> watch_;
};

}  // namespace

std::unique_ptr<FileWatcher> WatchFile(const std::string& dir, const std::string& name, hid::Post post,
                                       std::function<void(FileEvent)> onEvent, std::string& error) {
  const int fd = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
  if (fd < 0 || ::inotify_add_watch(fd, dir.c_str(), IN_CLOSE_WRITE | IN_MOVED_TO | IN_MODIFY | IN_CREATE) < 0) {
    error = std::strerror(errno);
    if (fd >= 0) ::close(fd);
    return nullptr;
  }
  try {
    return std::make_unique<InotifyFileWatcher>(fd, name, std::move(post), std::move(onEvent));
  } catch (const std::exception& e) {
    ::close(fd);
    error = e.what();
    return nullptr;
  }
}

}  // namespace quillet::cli
