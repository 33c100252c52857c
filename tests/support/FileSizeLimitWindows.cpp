#include "tests/support/FileSizeLimit.h"

namespace quillet::test {

// Windows limits no process's file sizes: the tests that need a write to fail half-way are run on
// Linux only.
struct FileSizeLimit::Saved {};

FileSizeLimit::FileSizeLimit(std::size_t) {}
FileSizeLimit::~FileSizeLimit() = default;

}  // namespace quillet::test
