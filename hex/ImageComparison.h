#pragma once
// A read-back compared with the image that was written: where the first difference is, and how
// many bytes and bits differ each way.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "hex/TextLookup.h"

namespace quillet {

struct ImageComparison {
  std::size_t compared = 0;
  std::size_t differing = 0;  // bytes
  std::size_t firstAddress = 0;
  std::uint8_t expected = 0;  // at firstAddress
  std::uint8_t actual = 0;
  std::size_t bitsOneToZero = 0;  // should be 1, read 0
  std::size_t bitsZeroToOne = 0;  // should be 0, read 1
  bool Equal() const { return differing == 0; }
};

// Compares the first expected.size() bytes; bytes `actual` lacks count as erased (FF).
ImageComparison CompareImages(std::span<const std::uint8_t> expected, std::span<const std::uint8_t> actual);

// One line: where the first difference is, both bytes, how many bytes and bits differ; after a
// write without erase, bits that stayed 0 ask whether the flash was erased. In English or, through
// `lookup`, in the user's language.
std::string DescribeMismatch(const ImageComparison& c, bool writtenWithoutErase, TextLookup lookup = nullptr);

}  // namespace quillet
