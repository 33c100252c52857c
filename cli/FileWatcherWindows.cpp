// The file watcher over ReadDirectoryChangesW on the file's folder, on a thread of its own.
// Windows tells no "closed after writing": after a change the watcher tries to open the file
// with no sharing, which succeeds only once no writer holds it, and tries again while one does.

#include <windows.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <thread>

#include "cli/FileWatcher.h"
#include "component/WindowsText.h"

namespace quillet::cli {

namespace {

constexpr DWORD kRecheckMs = 100;

// True when no other program has the file open.
bool NoOneHolds(const std::wstring& path) {
  const HANDLE h = ::CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  ::CloseHandle(h);
  return true;
}

class DirectoryChangeWatcher : public FileWatcher {
 public:
  DirectoryChangeWatcher(HANDLE dir, HANDLE changed, HANDLE stop, std::wstring folder, std::wstring name,
                         hid::Post post, std::function<void(FileEvent)> onEvent)
      : dir_(dir), changed_(changed), stop_(stop), path_(folder + L"\\" + name), name_(std::move(name)) {
    subscription_ = events_.Subscribe(std::move(post), [onEvent = std::move(onEvent)](const FileEvent& e) { onEvent(e); });
    thread_ = std::thread([this] { Run(); });
  }
  ~DirectoryChangeWatcher() override {
    ::SetEvent(stop_);
    thread_.join();
    subscription_.Reset();
    ::CloseHandle(dir_);
    ::CloseHandle(changed_);
    ::CloseHandle(stop_);
  }

 private:
  bool Watch(OVERLAPPED& overlapped) {
    return ::ReadDirectoryChangesW(dir_, buffer_, sizeof buffer_, FALSE,
                                   FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_LAST_WRITE |
                                       FILE_NOTIFY_CHANGE_SIZE,
                                   nullptr, &overlapped, nullptr) != 0;
  }

  void Run() {
    OVERLAPPED overlapped{};
    overlapped.hEvent = changed_;
    if (!Watch(overlapped)) return;
    bool held = false;  // changed, but a writer still has it open
    for (;;) {
      const HANDLE handles[] = {stop_, changed_};
      const DWORD woke = ::WaitForMultipleObjects(2, handles, FALSE, held ? kRecheckMs : INFINITE);
      if (woke == WAIT_OBJECT_0) break;
      if (woke == WAIT_TIMEOUT) {
        if (NoOneHolds(path_)) {
          held = false;
          events_.Publish(FileEvent::ClosedAfterWriting);
        }
        continue;
      }
      DWORD bytes = 0;
      if (!::GetOverlappedResult(dir_, &overlapped, &bytes, FALSE)) break;
      if (TakeEvents(bytes)) {
        held = !NoOneHolds(path_);
        if (!held) events_.Publish(FileEvent::ClosedAfterWriting);
      }
      if (!Watch(overlapped)) break;
    }
    ::CancelIoEx(dir_, &overlapped);
    DWORD bytes = 0;
    ::GetOverlappedResult(dir_, &overlapped, &bytes, TRUE);
  }

  // Publishes what happened to the file; true when its content changed.
  bool TakeEvents(DWORD bytes) {
    bool wrote = false;
    for (DWORD at = 0; bytes != 0 && at < bytes;) {
      const auto* info = reinterpret_cast<const FILE_NOTIFY_INFORMATION*>(buffer_ + at);
      const std::wstring name(info->FileName, info->FileNameLength / sizeof(wchar_t));
      if (::CompareStringOrdinal(name.c_str(), -1, name_.c_str(), -1, TRUE) == CSTR_EQUAL) {
        switch (info->Action) {
          case FILE_ACTION_RENAMED_NEW_NAME: events_.Publish(FileEvent::RenamedIntoPlace); break;
          case FILE_ACTION_ADDED: events_.Publish(FileEvent::Created); wrote = true; break;
          case FILE_ACTION_MODIFIED: events_.Publish(FileEvent::Modified); wrote = true; break;
          default: break;
        }
      }
      if (info->NextEntryOffset == 0) break;
      at += info->NextEntryOffset;
    }
    return wrote;
  }

  const HANDLE dir_, changed_, stop_;
  const std::wstring path_, name_;
  alignas(DWORD) BYTE buffer_[16384];
  hid::Listeners<FileEvent> events_;
  hid::Subscription subscription_;
  std::thread thread_;
};

}  // namespace

std::unique_ptr<FileWatcher> WatchFile(const std::string& dir, const std::string& name, hid::Post post,
                                       std::function<void(FileEvent)> onEvent, std::string& error) {
  const std::wstring folder = WidenUtf8(dir);
  const HANDLE h = ::CreateFileW(folder.c_str(), FILE_LIST_DIRECTORY,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    error = std::strerror(ErrnoOfWindowsError(::GetLastError()));
    return nullptr;
  }
  const HANDLE changed = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  const HANDLE stop = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  try {
    return std::make_unique<DirectoryChangeWatcher>(h, changed, stop, folder, WidenUtf8(name), std::move(post),
                                                    std::move(onEvent));
  } catch (const std::exception& e) {
    ::CloseHandle(h);
    ::CloseHandle(changed);
    ::CloseHandle(stop);
    error = e.what();
    return nullptr;
  }
}

}  // namespace quillet::cli
