#pragma once
// A file size limit (RLIMIT_FSIZE) for the life of the object, with SIGXFSZ ignored so a write
// past it fails with EFBIG instead of ending the test: a write failing half-way, which any user can
// cause without a full disk. Windows has no such limit (FileSizeLimitWindows.cpp): Ok is false.

#include <cstddef>
#include <memory>

namespace quillet::test {

class FileSizeLimit {
 public:
  explicit FileSizeLimit(std::size_t bytes);
  ~FileSizeLimit();
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

  // False when the limit could not be set.
  bool Ok() const { return ok_; }

 private:
  struct Saved;
  std::unique_ptr<Saved> saved_;  // what to restore; null when nothing was changed
  bool ok_ = false;
};

}  // namespace quillet::test
