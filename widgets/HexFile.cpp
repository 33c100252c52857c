#include "widgets/HexFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QCoreApplication>
#include <QFileInfo>
#include <cerrno>
#include <climits>
#include <cstring>
#include <span>
#include <stdexcept>
#include <string>

#include "component/AtomicFile.h"
#include "widgets/TextFill.h"

namespace quillet::widgets {
namespace {

std::string Native(const QString& path) { return QFile::encodeName(path).toStdString(); }

[[noreturn]] void Fail(const char* what, const std::string& path, int error) { throw FileError(what, path, error); }

}  // namespace

std::runtime_error FileError(const char* what, const std::string& path, int error) {
  QString pattern = QCoreApplication::translate("HexFile", what);
  pattern.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
  return std::runtime_error(FillIn(pattern, {path, std::strerror(error)}));
}

LoadedFile ReadWholeFile(const QString& path) {
  const std::string native = Native(path);
  const std::string shown = path.toStdString();
  const int fd = ::open(native.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) Fail(kCannotOpen, shown, errno);
  LoadedFile file;
  int error = 0;
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    error = errno;
  } else {
    char chunk[64 * 1024];
    for (;;) {
      const ssize_t got = ::read(fd, chunk, sizeof chunk);
      if (got < 0) {
        if (errno == EINTR) continue;
        error = errno;
        break;
      }
      if (got == 0) break;
      // The view's data size is an int.
      if (file.bytes.size() > INT_MAX - got) {
        error = EFBIG;
        break;
      }
      file.bytes.append(chunk, got);
    }
    file.readOnly = quillet::IsReadOnlyFile(native, st.st_mode);
  }
  ::close(fd);
  if (error != 0) Fail(kCannotOpen, shown, error);
  return file;
}

bool IsReadOnlyFile(const QString& path) {
  const std::string native = Native(path);
  struct stat st {};
  return ::stat(native.c_str(), &st) == 0 && quillet::IsReadOnlyFile(native, st.st_mode);
}

void ReplaceFile(const QString& path, const QByteArray& bytes, bool backup) {
  const std::span<const uint8_t> data(reinterpret_cast<const uint8_t*>(bytes.constData()),
                                      static_cast<size_t>(bytes.size()));
  const std::optional<FileReplaceError> failed = ReplaceFileAtomically(Native(path), data, backup);
  if (!failed) return;
  switch (failed->step) {
    case FileReplaceError::kCreate: Fail(kCannotCreate, path.toStdString(), failed->error);
    case FileReplaceError::kWrite: Fail(kCannotWrite, path.toStdString(), failed->error);
    case FileReplaceError::kBackup: Fail(kCannotCreateBackup, failed->file, failed->error);
  }
  Fail(kCannotCreate, path.toStdString(), failed->error);
}

bool SameFile(const QString& a, const QString& b) {
  if (a.isEmpty() || b.isEmpty()) return false;
  const QFileInfo first(a);
  const QFileInfo second(b);
  if (QDir::cleanPath(first.absoluteFilePath()) == QDir::cleanPath(second.absoluteFilePath())) return true;
  const QString canonicalA = first.canonicalFilePath();
  return !canonicalA.isEmpty() && canonicalA == second.canonicalFilePath();
}

}  // namespace quillet::widgets
