#pragma once
// The in-memory body of an HTTP reply: a growable byte buffer with a read/write position.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace quillet {

class TMemoryStream {
 public:
  int64_t Size() const { return static_cast<int64_t>(data_.size()); }
  int64_t Position() const { return static_cast<int64_t>(position_); }
  // Positions beyond the end are clamped to the end.
  void SetPosition(int64_t position);

  // Writes at the position, growing the stream as needed, and advances the position.
  void Write(const void* bytes, size_t count);
  // Reads up to count bytes from the position; returns how many were read.
  size_t Read(void* bytes, size_t count);

  // Room for at least count bytes without regrowth; the size does not change.
  void Reserve(size_t count) { data_.reserve(count); }
  size_t Capacity() const { return data_.capacity(); }

  const uint8_t* Memory() const { return data_.data(); }

 private:
  std::vector<uint8_t> data_;
  size_t position_ = 0;
};

}  // namespace quillet
