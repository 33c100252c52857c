#include <signal.h>
#include <sys/resource.h>

#include "tests/support/FileSizeLimit.h"

namespace quillet::test {

struct FileSizeLimit::Saved {
  struct rlimit limit {};
  struct sigaction action {};
};

FileSizeLimit::FileSizeLimit(std::size_t bytes) {
  auto saved = std::make_unique<Saved>();
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  if (::getrlimit(RLIMIT_FSIZE, &saved->limit) != 0 || ::sigaction(SIGXFSZ, &ignore, &saved->action) != 0) return;
  struct rlimit limit = saved->limit;
  limit.rlim_cur = bytes;
  ok_ = ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
  saved_ = std::move(saved);
}

FileSizeLimit::~FileSizeLimit() {
  if (!saved_) return;
  ::setrlimit(RLIMIT_FSIZE, &saved_->limit);
  ::sigaction(SIGXFSZ, &saved_->action, nullptr);
}

}  // namespace quillet::test
