#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "cli/station/JournalDisk.h"

namespace quillet::cli::station {

namespace {

int ReadFd(int fd, std::string& text) {
  text.clear();
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (n == 0) return 0;
    text.append(buffer, static_cast<size_t>(n));
  }
}

// A journal just created survives a power cut only once its folder's entry is on disk too.
void SyncFolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

class LinuxJournalDisk : public JournalDisk {
 public:
  explicit LinuxJournalDisk(int fd) : fd_(fd) {}
  ~LinuxJournalDisk() override { ::close(fd_); }

  int Lock(bool& heldElsewhere) override {
    // The lock belongs to this open file, so it holds against this process's other opens as well.
    if (::flock(fd_, LOCK_EX | LOCK_NB) == 0) return 0;
    heldElsewhere = errno == EWOULDBLOCK;
    return errno;
  }
  int ReadAll(std::string& text) override { return ReadFd(fd_, text); }
  int Size(uint64_t& size) override {
    struct stat st {};
    if (::fstat(fd_, &st) != 0) return errno;
    size = static_cast<uint64_t>(st.st_size);
    return 0;
  }
  int Append(const std::string& bytes) override {
    size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
      if (n < 0) {
        if (errno == EINTR) continue;
        return errno;
      }
      done += static_cast<size_t>(n);
    }
    return 0;
  }
  int Flush() override { return ::fsync(fd_) == 0 ? 0 : errno; }
  int Truncate(uint64_t size) override {
    return ::ftruncate(fd_, static_cast<off_t>(size)) == 0 ? 0 : errno;
  }
  int NamedBy(const std::string& path, bool& same) override {
    struct stat open {}, named {};
    if (::fstat(fd_, &open) != 0 || ::stat(path.c_str(), &named) != 0) return errno;
    same = named.st_ino == open.st_ino && named.st_dev == open.st_dev;
    return 0;
  }

 private:
  const int fd_;
};

}  // namespace

int JournalDisk::Open(const std::string& path, std::unique_ptr<JournalDisk>& disk) {
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return errno;
  disk = std::make_unique<LinuxJournalDisk>(fd);
  SyncFolderOf(path);
  return 0;
}

int ReadWholeFile(const std::string& path, std::string& text) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno;
  const int error = ReadFd(fd, text);
  ::close(fd);
  return error;
}

}  // namespace quillet::cli::station
