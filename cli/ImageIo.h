#pragma once
// The command line's image files: loading a HEX or BIN file with every check made before the
// programmer is touched, writing a read-back as BIN or Intel HEX, and comparing a read-back with
// the image that was written.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "hex/Chex2bin.h"

namespace quillet::cli {

struct LoadedImage {
  std::vector<uint8_t> bytes;
  std::string error;  // non-empty: the file cannot be programmed, and why (naming the file)
};

// A HEX file goes through the converter in memory (no side file is left beside it); a BIN file is
// taken as it is. Refused: a file that is neither, cannot be read or converted (the result code,
// its message and the line of the record it stopped at), an empty image, and an image larger than
// `flashSize` (0: no limit).
LoadedImage LoadImageFile(const std::string& path, uint32_t flashSize, const std::string& chipName);

// The whole file; false with `why` (the system's message) when it cannot be read.
bool ReadFileBytes(const std::string& path, std::vector<uint8_t>& out, std::string& why);

// The message for a failed conversion of the file at `path`, whose bytes are `file`: the path and
// the line of the record the converter stopped at, `lead`, the result code and its message, and
// for a missing end record the record that is missing.
std::string ConversionError(const std::string& path, std::span<const uint8_t> file,
                            const CHex2Bin& converter, int32_t result, std::string_view lead = {});

// The 1-based line of a byte offset in a text.
size_t LineOfOffset(std::span<const uint8_t> text, size_t offset);

// Intel HEX with 16-byte data records for the bytes that are not FF (extended linear address
// records where an address passes 64 KiB), then the end record.
std::string IntelHexFromImage(std::span<const uint8_t> image);

// Writes `bytes` to `path` through a temporary file in the same folder that is renamed over it,
// so an existing file is replaced whole or not at all. Empty on success, else why.
std::string WriteFileAtomically(const std::string& path, std::span<const uint8_t> bytes);

struct ImageComparison {
  size_t compared = 0;
  size_t differing = 0;  // bytes
  size_t firstAddress = 0;
  uint8_t expected = 0;  // at firstAddress
  uint8_t actual = 0;
  size_t bitsOneToZero = 0;  // should be 1, read 0
  size_t bitsZeroToOne = 0;  // should be 0, read 1
  bool Equal() const { return differing == 0; }
};

// Compares the first expected.size() bytes; bytes `actual` lacks count as differing from FF.
ImageComparison CompareImages(std::span<const uint8_t> expected, std::span<const uint8_t> actual);

// One line: where the first difference is, both bytes, how many bytes and bits differ; after a
// write without erase, bits that stayed 0 ask whether the flash was erased.
std::string DescribeMismatch(const ImageComparison& c, bool writtenWithoutErase);

}  // namespace quillet::cli
