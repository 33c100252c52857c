#include "hex/ImageFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <utility>

#include "hex/Chex2bin.h"
#include "hex/HexConversion.h"

namespace quillet {

int ReadFileBytes(const std::string& path, std::vector<std::uint8_t>& out, std::size_t readLimit) {
  out.clear();
  errno = 0;
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    const int error = errno != 0 ? errno : EIO;
    // Windows refuses to open a folder at all; it is the same failure as the first read below.
    std::error_code ec;
    return error == EACCES && std::filesystem::is_directory(path, ec) ? EISDIR : error;
  }
  std::uint8_t chunk[64 * 1024];
  while (readLimit == 0 || out.size() < readLimit) {
    std::size_t want = sizeof chunk;
    if (readLimit != 0) want = std::min(want, readLimit - out.size());
    const std::size_t got = std::fread(chunk, 1, want, file);
    out.insert(out.end(), chunk, chunk + got);
    if (got < want) break;
  }
  // A folder opens like a file here and fails at the first read (EISDIR).
  const int error = std::ferror(file) ? (errno != 0 ? errno : EIO) : 0;
  std::fclose(file);
  if (error != 0) out.clear();
  return error;
}

namespace {

ImageLoad Failure(ImageLoadFailure failure, const std::string& path) {
  ImageLoad load;
  load.error.failure = failure;
  load.error.path = path;
  return load;
}

ImageLoad TooLarge(const std::string& path, std::uint64_t size, const ImageLoadOptions& options) {
  ImageLoad load = Failure(ImageLoadFailure::kTooLarge, path);
  load.error.size = size;
  load.error.limit = options.sizeLimit;
  load.error.limitName = options.limitName;
  return load;
}

bool Exceeds(std::uint64_t size, const ImageLoadOptions& options) {
  return options.sizeLimit != 0 && size > options.sizeLimit;
}

}  // namespace

ImageLoad LoadImage(const std::string& path, const ImageLoadOptions& options) {
  const ImageFileKind kind = ImageFileKindOf(path);
  // Anything else (an ELF file, a listing) would be programmed byte for byte as if it were an image.
  if (kind == ImageFileKind::Other) return Failure(ImageLoadFailure::kNotAnImage, path);

  std::vector<std::uint8_t> file;
  std::size_t readLimit = 0;
  if (kind == ImageFileKind::Bin && options.sizeLimit != 0) {
    // A binary too large is refused before it is read; one more byte than the limit is enough to
    // tell that it grew since, or that it is a device without end.
    std::error_code ec;
    const std::uintmax_t size = std::filesystem::file_size(path, ec);
    if (!ec && Exceeds(size, options)) return TooLarge(path, size, options);
    readLimit = static_cast<std::size_t>(options.sizeLimit) + 1;
  }
  if (const int error = ReadFileBytes(path, file, readLimit); error != 0) {
    ImageLoad load = Failure(ImageLoadFailure::kUnreadable, path);
    load.error.systemError = error;
    return load;
  }

  ImageLoad load;
  load.image.path = path;
  load.image.format = kind;
  if (kind == ImageFileKind::Hex) {
    std::optional<std::filesystem::path> sideFile;
    if (options.writeSideFile) sideFile = path + ".bin";
    HexConversion c = ConvertHexImage(file, sideFile, options.sizeLimit);
    if (c.result == CHex2Bin::kBufferOverflow) return TooLarge(path, c.length, options);
    if (!c.Built()) {
      load = Failure(ImageLoadFailure::kConversionFailed, path);
      load.error.converterResult = c.result;
      load.error.line = c.failedLine;
      load.error.size = c.length;
      return load;
    }
    load.sideFileFailed = c.result == CHex2Bin::kWriteDestError;
    load.image.bytes = std::move(c.image);
  } else {
    load.image.bytes = std::move(file);
  }
  if (load.image.bytes.empty() && !options.acceptEmpty) return Failure(ImageLoadFailure::kEmpty, path);
  if (Exceeds(load.image.Size(), options)) return TooLarge(path, load.image.Size(), options);
  return load;
}

std::string DescribeImageLoadError(const ImageLoadError& e, TextLookup lookup) {
  const char* path = e.path.c_str();
  switch (e.failure) {
    case ImageLoadFailure::kNone:
      return {};
    case ImageLoadFailure::kNotAnImage:
      return LookedUp(lookup, "%s: not an image file; its name must end in .hex (Intel HEX) or .bin (raw binary)",
                       path);
    case ImageLoadFailure::kUnreadable:
      return LookedUp(lookup, "%s: cannot read: %s", path, std::strerror(e.systemError));
    case ImageLoadFailure::kConversionFailed:
      return ConversionMessage(e.path, e.line, e.converterResult, LookedUp(lookup, "HEX conversion failed with "));
    case ImageLoadFailure::kEmpty:
      return LookedUp(lookup, "%s: the image is empty", path);
    case ImageLoadFailure::kTooLarge: {
      const auto size = static_cast<unsigned long long>(e.size);
      const auto limit = static_cast<unsigned long long>(e.limit);
      if (e.limitName.empty())
        return LookedUp(lookup, "%s: the image is %llu bytes, larger than the %llu bytes", path, size, limit);
      return LookedUp(lookup, "%s: the image is %llu bytes, larger than the %llu bytes of %s", path, size, limit,
                       e.limitName.c_str());
    }
  }
  return {};
}

}  // namespace quillet
