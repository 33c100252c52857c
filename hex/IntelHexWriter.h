#pragma once
// Images written as Intel HEX, so that the converter reads them back to the same image.

#include <cstdint>
#include <span>
#include <string>

namespace quillet {

// 16-byte data records for the bytes that are not the converter's fill byte (extended linear
// address records where an address passes 64 KiB), then the end record.
std::string IntelHexFromImage(std::span<const std::uint8_t> image);

}  // namespace quillet
