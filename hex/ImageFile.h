#pragma once
// Firmware image files: the one loader of HEX and BIN files that the window, its reload before a
// Write and the command line share. A HEX file goes through the converter in memory; a BIN file is
// taken as it is. Failures are typed, and one function words them.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "hex/ImageFileKind.h"
#include "hex/TextLookup.h"

namespace quillet {

// A firmware image and where it came from.
struct Image {
  std::string path;
  ImageFileKind format = ImageFileKind::Bin;  // Hex or Bin, never Other
  std::vector<std::uint8_t> bytes;            // byte index = address
  std::size_t Size() const { return bytes.size(); }
};

struct ImageLoadOptions {
  std::uint64_t sizeLimit = 0;  // the largest image taken (0: no limit)
  std::string limitName;        // what the limit is, for the message ("NRF24LE1_16K's flash")
  bool writeSideFile = false;   // a HEX file's image is also written to "<path>.bin"
  bool acceptEmpty = false;     // an image of 0 bytes is a result, not a failure
};

enum class ImageLoadFailure {
  kNone,
  kNotAnImage,        // the name ends in neither HEX nor BIN
  kUnreadable,        // systemError says why
  kConversionFailed,  // converterResult, line; size: the bytes counted up to the failure
  kEmpty,
  kTooLarge,  // size; limit
};

struct ImageLoadError {
  ImageLoadFailure failure = ImageLoadFailure::kNone;
  std::string path;
  int systemError = 0;             // errno, for kUnreadable
  std::int32_t converterResult = 0;
  std::size_t line = 0;            // 1-based line of the record the converter stopped at; 0: none
  std::uint64_t size = 0;
  std::uint64_t limit = 0;
  std::string limitName;
};

struct ImageLoad {
  Image image;           // the image when error.failure is kNone
  ImageLoadError error;
  bool sideFileFailed = false;  // the image was built, but "<path>.bin" could not be written
  bool Ok() const { return error.failure == ImageLoadFailure::kNone; }
};

ImageLoad LoadImage(const std::string& path, const ImageLoadOptions& options);

// One line naming the file and what is wrong with it, in English or, through `lookup`, in the
// user's language.
std::string DescribeImageLoadError(const ImageLoadError& error, TextLookup lookup = nullptr);

// Reads the whole file into `out`, or at most `readLimit` bytes of it when that is not 0. Returns 0,
// or the errno of the failure.
int ReadFileBytes(const std::string& path, std::vector<std::uint8_t>& out, std::size_t readLimit = 0);

}  // namespace quillet
