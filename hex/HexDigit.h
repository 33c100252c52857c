#pragma once
// Hex digits, read and written, for every folder that handles them. Standard library only, so a
// layer above hex/ may include it.

#include <cstdint>
#include <span>
#include <string>

namespace quillet {

// The value of a hex digit (0-9, A-F, a-f); -1 for any other character.
constexpr int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The digit of each value 0-15, upper case.
inline constexpr char kUpperHexDigits[] = "0123456789ABCDEF";

// Bytes as two lower-case digits each, no separators: "00ab7f".
inline std::string LowerHexText(std::span<const std::uint8_t> bytes) {
  constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(bytes.size() * 2);
  for (std::uint8_t b : bytes) {
    text += kDigits[b >> 4];
    text += kDigits[b & 0xF];
  }
  return text;
}

}  // namespace quillet
