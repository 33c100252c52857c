#include "component/AtomicFilePlatform.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <utility>

namespace quillet::atomic_file {
namespace {

// Closes the descriptor and removes the temporary file unless released.
class TempFile {
 public:
  TempFile(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  ~TempFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!path_.empty()) ::unlink(path_.c_str());
  }
  int fd() const { return fd_; }
  const std::string& path() const { return path_; }
  // Closes the descriptor, returning the errno of a failed close (0 on success).
  int Close() {
    const int result = ::close(fd_);
    fd_ = -1;
    return result == 0 ? 0 : errno;
  }
  void Release() { path_.clear(); }

 private:
  int fd_;
  std::string path_;
};

// A hidden name beside the target that no other save is using; O_EXCL guards against races.
int CreateTemporary(const std::string& dir, const std::string& base, std::string* path) {
  static std::atomic<unsigned> counter{0};
  for (int attempt = 0; attempt < 100; ++attempt) {
    *path = dir + "/." + base + "." + std::to_string(::getpid()) + "-" + std::to_string(counter.fetch_add(1)) +
            ".tmp";
    const int fd = ::open(path->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  errno = EEXIST;
  return -1;
}

int WriteAll(int fd, std::span<const uint8_t> bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    bytes = bytes.subspan(static_cast<size_t>(written));
  }
  return 0;
}

void WriteInPlace(const std::string& target, const std::string& shown, std::span<const uint8_t> bytes) {
  const int fd = ::open(target.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
  if (fd < 0) Fail(FileReplaceError::kCreate, shown, errno);
  int error = WriteAll(fd, bytes);
  if (::close(fd) != 0 && error == 0) error = errno;
  if (error != 0) Fail(FileReplaceError::kWrite, shown, error);
}

void SyncDirectory(const std::string& dir) {
  const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);  // best effort: some file systems refuse it on folders
  ::close(fd);
}

}  // namespace

void Replace(const std::string& shown, std::span<const uint8_t> bytes, bool backup) {
  std::string target = shown;
  struct stat st {};
  bool exists = ::lstat(target.c_str(), &st) == 0;
  if (exists && S_ISLNK(st.st_mode)) {
    // Replace the file the link names, not the link itself.
    if (char* real = ::realpath(target.c_str(), nullptr)) {
      target = real;
      std::free(real);
      exists = ::stat(target.c_str(), &st) == 0;
    }
  }
  if (exists && !S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode)) {
    if (S_ISDIR(st.st_mode)) Fail(FileReplaceError::kCreate, shown, EISDIR);
    WriteInPlace(target, shown, bytes);
    return;
  }

  // Renaming over a file needs only the folder's permission; a read-only file must stay as
  // it is, as it would if it were opened for writing.
  if (exists && S_ISREG(st.st_mode) && IsReadOnlyFile(target, st.st_mode)) Fail(FileReplaceError::kCreate, shown, EACCES);

  const auto slash = target.rfind('/');
  const std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : target.substr(0, slash));
  const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);

  std::string tempPath;
  const int fd = CreateTemporary(dir, base, &tempPath);
  if (fd < 0) Fail(FileReplaceError::kCreate, shown, errno);
  TempFile temp(fd, tempPath);
  // The replacement keeps the permissions of the file it replaces.
  if (exists && S_ISREG(st.st_mode)) ::fchmod(temp.fd(), st.st_mode & 07777);
  if (int error = WriteAll(temp.fd(), bytes); error != 0) Fail(FileReplaceError::kWrite, shown, error);
  if (::fsync(temp.fd()) != 0) Fail(FileReplaceError::kWrite, shown, errno);
  if (int error = temp.Close(); error != 0) Fail(FileReplaceError::kWrite, shown, error);

  if (backup && exists) {
    // The old file gets a second name, then that name replaces the older backup: the target
    // stays whole throughout, and the older backup goes only once the new one exists.
    const std::string backupPath = target + ".bak";
    std::string linkPath;
    bool linked = false;
    for (int attempt = 0; attempt < 100 && !linked; ++attempt) {
      linkPath = dir + "/." + base + ".bak." + std::to_string(::getpid()) + "-" + std::to_string(attempt);
      if (::link(target.c_str(), linkPath.c_str()) == 0) {
        linked = true;
      } else if (errno != EEXIST) {
        break;
      }
    }
    if (linked) {
      if (::rename(linkPath.c_str(), backupPath.c_str()) != 0) {
        const int error = errno;
        ::unlink(linkPath.c_str());
        Fail(FileReplaceError::kBackup, backupPath, error);
      }
    } else {
      // No hard links on this file system: move the file aside and put it back if the new one
      // cannot take its place.
      if (::rename(target.c_str(), backupPath.c_str()) != 0) Fail(FileReplaceError::kBackup, backupPath, errno);
      if (::rename(temp.path().c_str(), target.c_str()) != 0) {
        const int error = errno;
        ::rename(backupPath.c_str(), target.c_str());
        Fail(FileReplaceError::kCreate, shown, error);
      }
      temp.Release();
      SyncDirectory(dir);
      return;
    }
  }
  if (::rename(temp.path().c_str(), target.c_str()) != 0) Fail(FileReplaceError::kCreate, shown, errno);
  temp.Release();
  SyncDirectory(dir);
}

}  // namespace quillet::atomic_file

namespace quillet {

bool IsReadOnlyFile(const std::string& path, unsigned mode) {
  return (mode & 0222) == 0 || ::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0;
}

}  // namespace quillet
