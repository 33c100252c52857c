#pragma once
// Crash-safe replacement of a file's whole content. A regular file (or a new one) is written to a
// temporary file in the same folder, flushed to disk and renamed over the target, so a failure at
// any point leaves the old content whole. A symbolic link is followed to the file it names, whose
// permission bits the replacement keeps. Targets that are not regular files (devices, pipes) are
// written in place. A read-only target is refused rather than replaced, as opening it for writing
// would be.

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace quillet {

struct FileReplaceError {
  enum Step {
    kCreate,  // the target (or its temporary file) cannot be created or put in place
    kWrite,   // the bytes cannot be written or flushed
    kBackup,  // the old content cannot be kept as "<file>.bak"
  };
  Step step;
  std::string file;  // the target as the caller named it; for kBackup, the backup's path
  int error;         // errno
};

// Writes `bytes` as the new content of `path`. With `backup`, an existing target is first kept as
// "<target>.bak", replacing an older backup only once the new one exists. Empty on success.
std::optional<FileReplaceError> ReplaceFileAtomically(const std::string& path, std::span<const uint8_t> bytes,
                                                      bool backup = false);

// The read-only rule the replacement applies, for a file at `path` whose mode bits are `mode`: no
// write permission bit is set, or this process may not write it (so a file marked read-only with
// `chmod a-w` counts even for root).
bool IsReadOnlyFile(const std::string& path, unsigned mode);

}  // namespace quillet
