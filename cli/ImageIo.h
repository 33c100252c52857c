#pragma once
// The command line's rules for image files: an image is loaded with every check made before the
// programmer is touched, and output files are replaced whole.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace quillet::cli {

struct LoadedImage {
  std::vector<uint8_t> bytes;
  std::string error;  // non-empty: the file cannot be programmed, and why (naming the file)
};

// A HEX or BIN file, converted in memory (no side file is left beside it). Refused: a file that is
// neither, cannot be read or converted, an empty image, and an image larger than `flashSize`
// (0: no limit) of the chip `chipName`.
LoadedImage LoadImageFile(const std::string& path, uint32_t flashSize, const std::string& chipName);

// Writes `bytes` as the whole new content of `path` (ReplaceFileAtomically). Empty on success,
// else why, naming the file.
std::string WriteFileAtomically(const std::string& path, std::span<const uint8_t> bytes);

}  // namespace quillet::cli
