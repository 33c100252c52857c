#pragma once
// SHA-256 of a byte string, as lowercase hex: how the journal names the image a board was given.

#include <cstdint>
#include <span>
#include <string>

namespace quillet::cli::station {

std::string Sha256Hex(std::span<const uint8_t> bytes);

}  // namespace quillet::cli::station
