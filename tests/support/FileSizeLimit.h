#pragma once
// A file size limit (RLIMIT_FSIZE) for the life of the object, with SIGXFSZ ignored so a write
// past it fails with EFBIG instead of ending the test: a write failing half-way, which any user can
// cause without a full disk.

#include <signal.h>
#include <sys/resource.h>

#include <cstddef>

namespace quillet::test {

class FileSizeLimit {
 public:
  explicit FileSizeLimit(std::size_t bytes) {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    if (::getrlimit(RLIMIT_FSIZE, &saved_) != 0 || ::sigaction(SIGXFSZ, &ignore, &previous_) != 0) return;
    struct rlimit limit = saved_;
    limit.rlim_cur = bytes;
    ok_ = ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
    restore_ = true;
  }
  ~FileSizeLimit() {
    if (!restore_) return;
    ::setrlimit(RLIMIT_FSIZE, &saved_);
    ::sigaction(SIGXFSZ, &previous_, nullptr);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

  // False when the limit could not be set.
  bool Ok() const { return ok_; }

 private:
  struct rlimit saved_ {};
  struct sigaction previous_ {};
  bool restore_ = false;
  bool ok_ = false;
};

}  // namespace quillet::test
