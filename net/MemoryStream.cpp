#include "net/MemoryStream.h"

#include <algorithm>
#include <cstring>

namespace quillet {

void TMemoryStream::SetPosition(int64_t position) {
  position_ = static_cast<size_t>(std::clamp<int64_t>(position, 0, Size()));
}

void TMemoryStream::Write(const void* bytes, size_t count) {
  if (count == 0) return;
  if (position_ + count > data_.size()) data_.resize(position_ + count);
  std::memcpy(data_.data() + position_, bytes, count);
  position_ += count;
}

size_t TMemoryStream::Read(void* bytes, size_t count) {
  const size_t n = std::min(count, data_.size() - position_);
  if (n) std::memcpy(bytes, data_.data() + position_, n);
  position_ += n;
  return n;
}

}  // namespace quillet
