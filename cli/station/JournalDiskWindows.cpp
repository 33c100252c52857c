// The journal's file on Windows. Paths are UTF-8 and reach Windows as UTF-16. The file is shared
// for reading, writing and deleting, as a file is on Linux, so station-report reads it while a
// station runs and a journal removed under the station is noticed at its next record.

#include <windows.h>

#include <algorithm>

#include "cli/station/JournalDisk.h"
#include "component/WindowsText.h"

namespace quillet::cli::station {

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

int LastError() { return ErrnoOfWindowsError(::GetLastError()); }

int ReadHandle(HANDLE h, std::string& text) {
  text.clear();
  char buffer[65536];
  for (;;) {
    DWORD n = 0;
    if (!::ReadFile(h, buffer, sizeof buffer, &n, nullptr)) return LastError();
    if (n == 0) return 0;
    text.append(buffer, n);
  }
}

bool Identity(HANDLE h, BY_HANDLE_FILE_INFORMATION& info) { return ::GetFileInformationByHandle(h, &info) != 0; }

class WindowsJournalDisk : public JournalDisk {
 public:
  explicit WindowsJournalDisk(HANDLE h) : h_(h) {}
  ~WindowsJournalDisk() override { ::CloseHandle(h_); }

  int Lock(bool& heldElsewhere) override {
    // Windows locks are mandatory for the bytes they cover: the lock covers one byte far past any
    // journal's end, so readers of the records are never held up by it.
    OVERLAPPED at{};
    at.OffsetHigh = 0x40000000;
    if (::LockFileEx(h_, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) return 0;
    heldElsewhere = ::GetLastError() == ERROR_LOCK_VIOLATION;
    return LastError();
  }
  int ReadAll(std::string& text) override { return ReadHandle(h_, text); }
  int Size(uint64_t& size) override {
    LARGE_INTEGER n{};
    if (!::GetFileSizeEx(h_, &n)) return LastError();
    size = static_cast<uint64_t>(n.QuadPart);
    return 0;
  }
  int Append(const std::string& bytes) override {
    // The lock keeps every other station out, so seeking to the end and writing is an append.
    if (!::SetFilePointerEx(h_, LARGE_INTEGER{}, nullptr, FILE_END)) return LastError();
    size_t done = 0;
    while (done < bytes.size()) {
      DWORD n = 0;
      const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 30));
      if (!::WriteFile(h_, bytes.data() + done, chunk, &n, nullptr)) return LastError();
      done += n;
    }
    return 0;
  }
  int Flush() override { return ::FlushFileBuffers(h_) ? 0 : LastError(); }
  int Truncate(uint64_t size) override {
    LARGE_INTEGER at{};
    at.QuadPart = static_cast<LONGLONG>(size);
    if (!::SetFilePointerEx(h_, at, nullptr, FILE_BEGIN) || !::SetEndOfFile(h_)) return LastError();
    return 0;
  }
  int NamedBy(const std::string& path, bool& same) override {
    // A file removed while open is only marked for deletion until its last handle closes; its
    // name may still open it meanwhile.
    FILE_STANDARD_INFO standard{};
    if (::GetFileInformationByHandleEx(h_, FileStandardInfo, &standard, sizeof standard) && standard.DeletePending) {
      same = false;
      return 0;
    }
    const HANDLE named = ::CreateFileW(WidenUtf8(path).c_str(), 0, kShareAll, nullptr, OPEN_EXISTING,
                                       FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (named == INVALID_HANDLE_VALUE) return LastError();
    BY_HANDLE_FILE_INFORMATION a{}, b{};
    const bool known = Identity(h_, a) && Identity(named, b);
    const int error = known ? 0 : LastError();
    ::CloseHandle(named);
    same = known && a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
           a.nFileIndexLow == b.nFileIndexLow;
    return error;
  }

 private:
  const HANDLE h_;
};

}  // namespace

// NTFS journals its folder entries itself: a new file's entry needs no flush of its folder.
int JournalDisk::Open(const std::string& path, std::unique_ptr<JournalDisk>& disk) {
  const HANDLE h = ::CreateFileW(WidenUtf8(path).c_str(), GENERIC_READ | GENERIC_WRITE, kShareAll, nullptr,
                                 OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return LastError();
  disk = std::make_unique<WindowsJournalDisk>(h);
  return 0;
}

int ReadWholeFile(const std::string& path, std::string& text) {
  const HANDLE h = ::CreateFileW(WidenUtf8(path).c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return LastError();
  const int error = ReadHandle(h, text);
  ::CloseHandle(h);
  return error;
}

}  // namespace quillet::cli::station
