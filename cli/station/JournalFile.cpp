#include "cli/station/JournalFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "programmer/MessageCatalogue.h"

namespace quillet::cli::station {

namespace {

int WriteAll(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    done += static_cast<size_t>(n);
  }
  return 0;
}

int ReadAll(int fd, std::string& text) {
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

}  // namespace

std::string DescribeJournalError(const JournalError& e) {
  using logtext::Say;
  const char* file = e.path.c_str();
  const char* why = e.error ? std::strerror(e.error) : nullptr;
  switch (e.kind) {
    case JournalError::kOpen:
      return why ? Say("cannot open the journal %s: %s", file, why) : Say("cannot open the journal %s", file);
    case JournalError::kLocked: return Say("the journal %s is in use by another station", file);
    case JournalError::kRead:
      return why ? Say("cannot read the journal %s: %s", file, why) : Say("cannot read the journal %s", file);
    case JournalError::kDamaged:
      return Say("the journal %s is damaged at line %zu: the serial numbers it used cannot be known "
                 "(quillet-cli station-report checks it)",
                 file, e.line);
    case JournalError::kWrite:
      return why ? Say("cannot write the journal %s: %s", file, why) : Say("cannot write the journal %s", file);
    case JournalError::kRemoved: return Say("the journal %s was removed or replaced while the station ran", file);
  }
  return "journal " + e.path;
}

int ReadJournalText(const std::string& path, std::string& text) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno;
  const int error = ReadAll(fd, text);
  ::close(fd);
  return error;
}

std::variant<JournalFile::Opened, JournalError> JournalFile::Open(const std::string& path, const std::string& run,
                                                                   const std::string& now) {
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return JournalError{JournalError::kOpen, path, errno};
  std::unique_ptr<JournalFile> file(new JournalFile(path, fd));
  SyncFolderOf(path);
  // The lock belongs to this open file, so it holds against this process's other opens as well.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0)
    return JournalError{errno == EWOULDBLOCK ? JournalError::kLocked : JournalError::kOpen, path, errno};
  std::string text;
  if (const int error = ReadAll(fd, text)) return JournalError{JournalError::kRead, path, error};
  Opened opened{std::move(file), ScanJournal(text)};
  const JournalScan& scan = opened.scan;
  if (!scan.damagedLines.empty()) return JournalError{JournalError::kDamaged, path, 0, scan.damagedLines.front()};

  if (!scan.tornTail.empty()) {
    // Cut the torn line off so the next record begins a line, and keep what it held.
    if (::ftruncate(fd, static_cast<off_t>(scan.wholeBytes)) != 0 || ::fsync(fd) != 0)
      return JournalError{JournalError::kWrite, path, errno};
    JournalRecord torn;
    torn.event = JournalEvent::Torn;
    torn.time = now;
    torn.run = run;
    torn.text = scan.tornTail;
    if (auto error = opened.file->Append(torn)) return *error;
  }
  for (const JournalRecord& reserve : scan.unfinished) {
    JournalRecord interrupted = reserve;
    interrupted.event = JournalEvent::Result;
    interrupted.time = now;
    interrupted.run = run;
    interrupted.result = BoardResult::Interrupted;
    interrupted.failure = "the station stopped before the board's result was recorded (run " + reserve.run + ")";
    if (auto error = opened.file->Append(interrupted)) return *error;
  }
  return opened;
}

JournalFile::~JournalFile() {
  if (fd_ >= 0) ::close(fd_);
}

std::optional<JournalError> JournalFile::Append(const JournalRecord& record) {
  if (failed_) return failed_;
  struct stat before {};
  const bool sized = ::fstat(fd_, &before) == 0;
  // A journal removed (or replaced) under the station would take records no one can read again.
  struct stat named {};
  const int namedError = ::stat(path_.c_str(), &named) == 0 ? 0 : errno;
  if (sized && (namedError != 0 || named.st_ino != before.st_ino || named.st_dev != before.st_dev)) {
    failed_ = JournalError{JournalError::kRemoved, path_, namedError};
    return failed_;
  }
  int error = WriteAll(fd_, FormatJournalLine(record));
  if (!error && ::fsync(fd_) != 0) error = errno;
  if (!error) return std::nullopt;
  // Leave no half line for the next run to find torn.
  if (sized && ::ftruncate(fd_, before.st_size) == 0) ::fsync(fd_);
  failed_ = JournalError{JournalError::kWrite, path_, error};
  return failed_;
}

}  // namespace quillet::cli::station
