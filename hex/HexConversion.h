#pragma once
// A HEX file's bytes into an image in one call: the converter measures the image first, so that
// an image larger than the caller's limit is refused before anything is built or written, then
// fills a buffer of exactly that size (and the side file, when one is asked for).

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quillet {

struct HexConversion {
  // The converter's result code: kSuccess; kWriteDestError when the image was built but the side
  // file could not be written; 1 to 4 when the file is broken; kBufferOverflow when the image is
  // larger than the limit (nothing built or written).
  std::int32_t result = 0;
  // The image length L; for results 1 to 4 the bytes counted up to the failing record.
  std::uint64_t length = 0;
  // The image, for kSuccess and kWriteDestError.
  std::vector<std::uint8_t> image;
  // The 1-based line of the record the converter stopped at (results 3 and 4), else 0.
  std::size_t failedLine = 0;

  bool Built() const;
};

// `limit` 0: no limit.
HexConversion ConvertHexImage(std::span<const std::uint8_t> file,
                              const std::optional<std::filesystem::path>& sideFile, std::uint64_t limit = 0);

// "<path>[:<line>]: <lead>result <code>, <message>", and for a missing end record the record that
// is missing.
std::string ConversionMessage(const std::string& path, std::size_t line, std::int32_t result,
                              std::string_view lead = {});

// The 1-based line of a byte offset in a text.
std::size_t LineOfOffset(std::span<const std::uint8_t> text, std::size_t offset);

}  // namespace quillet
