#include "hex/IntelHexWriter.h"

#include <algorithm>

#include "hex/Chex2bin.h"
#include "hex/HexDigit.h"

namespace quillet {
namespace {

void AppendByte(std::string& s, std::uint8_t b) {
  s += kUpperHexDigits[b >> 4];
  s += kUpperHexDigits[b & 15];
}

void AppendRecord(std::string& s, std::uint8_t type, std::uint16_t offset, std::span<const std::uint8_t> data) {
  auto sum = static_cast<std::uint8_t>(data.size() + (offset >> 8) + (offset & 0xFF) + type);
  s += ':';
  AppendByte(s, static_cast<std::uint8_t>(data.size()));
  AppendByte(s, static_cast<std::uint8_t>(offset >> 8));
  AppendByte(s, static_cast<std::uint8_t>(offset));
  AppendByte(s, type);
  for (std::uint8_t b : data) {
    AppendByte(s, b);
    sum = static_cast<std::uint8_t>(sum + b);
  }
  AppendByte(s, static_cast<std::uint8_t>(-sum));
  s += '\n';
}

}  // namespace

std::string IntelHexFromImage(std::span<const std::uint8_t> image) {
  std::string s;
  std::uint32_t upper = 0;  // the extended linear address in force
  for (std::size_t row = 0; row < image.size(); row += 16) {
    const std::size_t end = std::min(row + 16, image.size());
    std::size_t first = row, last = end;
    while (first < end && image[first] == kHexFillByte) ++first;
    if (first == end) continue;
    while (image[last - 1] == kHexFillByte) --last;
    if (const auto high = static_cast<std::uint32_t>(first >> 16); high != upper) {
      const std::uint8_t value[2] = {static_cast<std::uint8_t>(high >> 8), static_cast<std::uint8_t>(high)};
      AppendRecord(s, 0x04, 0, value);
      upper = high;
    }
    AppendRecord(s, 0x00, static_cast<std::uint16_t>(first & 0xFFFF), image.subspan(first, last - first));
  }
  s += kIntelHexEndRecord;
  s += '\n';
  return s;
}

}  // namespace quillet
