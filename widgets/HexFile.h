#pragma once
// Whole-file reading and crash-safe replacement for the hex view's LoadFromFile and SaveToFile.
// Failures throw std::runtime_error whose text names the file and the system's reason.

#include <QByteArray>
#include <QCoreApplication>
#include <QString>
#include <stdexcept>
#include <string>

namespace quillet::widgets {

struct LoadedFile {
  QByteArray bytes;
  bool readOnly = false;  // nobody may write it, or this process may not
};

// What a file error says, with %1 the path and %2 the system's reason; in the user's language
// where the window's translations have it (context "HexFile"). The line break is written plain
// here and becomes CR LF in the message.
inline constexpr char kCannotOpen[] = QT_TRANSLATE_NOOP("HexFile", "Cannot open %1.\n(%2.)");
inline constexpr char kCannotCreate[] = QT_TRANSLATE_NOOP("HexFile", "Cannot create %1.\n(%2.)");
inline constexpr char kCannotWrite[] = QT_TRANSLATE_NOOP("HexFile", "Cannot write %1.\n(%2.)");
inline constexpr char kCannotCreateBackup[] = QT_TRANSLATE_NOOP("HexFile", "Cannot create backup %1.\n(%2.)");
// The view's own refusal to save over the read-only file it shows; %1 the path.
inline constexpr char kCannotSaveReadOnly[] = QT_TRANSLATE_NOOP("HexFile", "Cannot save readonly file %1.");

// The error the view's file operations throw: `what` filled in with the path and strerror of error.
std::runtime_error FileError(const char* what, const std::string& path, int error);

// "Cannot open <path>.\r\n(<reason>.)" when the file cannot be opened or read.
LoadedFile ReadWholeFile(const QString& path);

// Whether the file at `path` counts as read-only, as ReadWholeFile would report it (false when
// it cannot be examined).
bool IsReadOnlyFile(const QString& path);

// Writes `bytes` as the new content of `path` (ReplaceFileAtomically). A regular file (or a new one) is written to a
// temporary file in the same folder, flushed to disk and renamed over the target, so a failure at
// any point leaves the old content whole; with `backup` an existing target is first kept as
// "<path>.bak", replacing an older backup. A symbolic link is followed to the file it names.
// Targets that are not regular files (devices, pipes) are written in place. A read-only target
// is refused ("Cannot create <path>.\r\n(Permission denied.)") rather than replaced.
void ReplaceFile(const QString& path, const QByteArray& bytes, bool backup);

// True when both paths name the same file (after making them absolute and, where they exist,
// resolving links).
bool SameFile(const QString& a, const QString& b);

}  // namespace quillet::widgets
