#pragma once
// Hex digits, read and written, for every folder that handles them. Standard library only, so a
// layer above hex/ may include it.

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

}  // namespace quillet
