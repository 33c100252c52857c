// The file replacement on Windows: the new content goes to a temporary file beside the target,
// flushed to disk, and ReplaceFileW puts it in place (keeping the old file's attributes and
// security, and its old content as the backup when one is asked for); a new file is moved into
// place. Paths are UTF-8 and reach Windows as UTF-16, so any folder name works.

#include <windows.h>

#include <atomic>
#include <cerrno>

#include "component/AtomicFilePlatform.h"
#include "component/WindowsText.h"

namespace quillet::atomic_file {
namespace {

[[noreturn]] void FailWithLastError(FileReplaceError::Step step, const std::string& file) {
  Fail(step, file, ErrnoOfWindowsError(::GetLastError()));
}

// Closes the handle and deletes the temporary file unless released.
class TempFile {
 public:
  TempFile(HANDLE handle, std::wstring path) : handle_(handle), path_(std::move(path)) {}
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  ~TempFile() {
    if (handle_ != INVALID_HANDLE_VALUE) ::CloseHandle(handle_);
    if (!path_.empty()) ::DeleteFileW(path_.c_str());
  }
  HANDLE handle() const { return handle_; }
  const std::wstring& path() const { return path_; }
  bool Close() {
    const bool ok = ::CloseHandle(handle_) != 0;
    handle_ = INVALID_HANDLE_VALUE;
    return ok;
  }
  void Release() { path_.clear(); }

 private:
  HANDLE handle_;
  std::wstring path_;
};

// The file a symbolic link (or junction) names, or the path itself.
std::wstring FinalPath(const std::wstring& path) {
  const HANDLE h = ::CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return path;
  std::wstring final(MAX_PATH, L'\0');
  DWORD n = ::GetFinalPathNameByHandleW(h, final.data(), static_cast<DWORD>(final.size()), FILE_NAME_NORMALIZED);
  if (n >= final.size()) {
    final.resize(n);
    n = ::GetFinalPathNameByHandleW(h, final.data(), static_cast<DWORD>(final.size()), FILE_NAME_NORMALIZED);
  }
  ::CloseHandle(h);
  if (n == 0 || n >= final.size()) return path;
  final.resize(n);
  return final;
}

// A hidden name beside the target that no other save is using; CREATE_NEW guards against races.
HANDLE CreateTemporary(const std::wstring& dir, const std::wstring& base, std::wstring* path) {
  static std::atomic<unsigned> counter{0};
  for (int attempt = 0; attempt < 100; ++attempt) {
    *path = dir + L"\\." + base + L"." + std::to_wstring(::GetCurrentProcessId()) + L"-" +
            std::to_wstring(counter.fetch_add(1)) + L".tmp";
    const HANDLE h = ::CreateFileW(path->c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                   FILE_ATTRIBUTE_HIDDEN, nullptr);
    if (h != INVALID_HANDLE_VALUE || ::GetLastError() != ERROR_FILE_EXISTS) return h;
  }
  ::SetLastError(ERROR_FILE_EXISTS);
  return INVALID_HANDLE_VALUE;
}

bool WriteAll(HANDLE h, std::span<const uint8_t> bytes) {
  while (!bytes.empty()) {
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size(), 1u << 30));
    DWORD written = 0;
    if (!::WriteFile(h, bytes.data(), chunk, &written, nullptr)) return false;
    bytes = bytes.subspan(written);
  }
  return true;
}

// The path made absolute: ReplaceFileW is given whole paths (Wine's refuses relative ones) and
// the temporary file's folder is the target's, wherever the name was given from.
std::wstring FullPath(const std::wstring& path) {
  const DWORD n = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (n == 0) return path;
  std::wstring full(n, L'\0');
  const DWORD written = ::GetFullPathNameW(path.c_str(), n, full.data(), nullptr);
  if (written == 0 || written >= n) return path;
  full.resize(written);
  return full;
}

}  // namespace

void Replace(const std::string& shown, std::span<const uint8_t> bytes, bool backup) {
  std::wstring target = FullPath(WidenUtf8(shown));
  DWORD attributes = ::GetFileAttributesW(target.c_str());
  bool exists = attributes != INVALID_FILE_ATTRIBUTES;
  if (exists && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    // Replace the file the link names, not the link itself.
    target = FinalPath(target);
    attributes = ::GetFileAttributesW(target.c_str());
    exists = attributes != INVALID_FILE_ATTRIBUTES;
  }
  if (exists && (attributes & FILE_ATTRIBUTE_DIRECTORY)) Fail(FileReplaceError::kCreate, shown, EISDIR);
  // A read-only file must stay as it is, as it would if it were opened for writing.
  if (exists && (attributes & FILE_ATTRIBUTE_READONLY)) Fail(FileReplaceError::kCreate, shown, EACCES);

  const auto slash = target.find_last_of(L"\\/");
  const std::wstring dir = slash == std::wstring::npos ? L"." : target.substr(0, slash == 0 ? 1 : slash);
  const std::wstring base = slash == std::wstring::npos ? target : target.substr(slash + 1);

  std::wstring tempPath;
  const HANDLE h = CreateTemporary(dir, base, &tempPath);
  if (h == INVALID_HANDLE_VALUE) FailWithLastError(FileReplaceError::kCreate, shown);
  TempFile temp(h, tempPath);
  if (!WriteAll(temp.handle(), bytes) || !::FlushFileBuffers(temp.handle()))
    FailWithLastError(FileReplaceError::kWrite, shown);
  if (!temp.Close()) FailWithLastError(FileReplaceError::kWrite, shown);

  if (exists) {
    const std::wstring backupPath = target + L".bak";
    if (!::ReplaceFileW(target.c_str(), temp.path().c_str(), backup ? backupPath.c_str() : nullptr,
                        REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr)) {
      const DWORD error = ::GetLastError();
      // The old file could not be kept as the backup: it is still in place, untouched.
      if (error == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2)
        Fail(FileReplaceError::kBackup, NarrowToUtf8(backupPath), ErrnoOfWindowsError(error));
      Fail(FileReplaceError::kCreate, shown, ErrnoOfWindowsError(error));
    }
  } else if (!::MoveFileExW(temp.path().c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    FailWithLastError(FileReplaceError::kCreate, shown);
  }
  temp.Release();
}

}  // namespace quillet::atomic_file

namespace quillet {

bool IsReadOnlyFile(const std::string& path, unsigned mode) {
  const DWORD attributes = ::GetFileAttributesW(WidenUtf8(path).c_str());
  return (mode & 0222) == 0 || (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY));
}

}  // namespace quillet
