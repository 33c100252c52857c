#include "cli/ImageIo.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "app/ImageFileKind.h"
#include "engine/Wire.h"
#include "hex/Chex2bin.h"
#include "hex/HexDigit.h"

namespace quillet::cli {

bool ReadFileBytes(const std::string& path, std::vector<uint8_t>& out, std::string& why) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    why = std::strerror(errno);
    return false;
  }
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) {
    why = "is a directory";
    return false;
  }
  out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (in.bad()) {
    why = "read error";
    return false;
  }
  return true;
}

namespace {

void AppendByte(std::string& s, uint8_t b) {
  s += kUpperHexDigits[b >> 4];
  s += kUpperHexDigits[b & 15];
}

void AppendRecord(std::string& s, uint8_t type, uint16_t offset, std::span<const uint8_t> data) {
  uint8_t sum = static_cast<uint8_t>(data.size() + (offset >> 8) + (offset & 0xFF) + type);
  s += ':';
  AppendByte(s, static_cast<uint8_t>(data.size()));
  AppendByte(s, static_cast<uint8_t>(offset >> 8));
  AppendByte(s, static_cast<uint8_t>(offset));
  AppendByte(s, type);
  for (uint8_t b : data) {
    AppendByte(s, b);
    sum = static_cast<uint8_t>(sum + b);
  }
  AppendByte(s, static_cast<uint8_t>(-sum));
  s += '\n';
}

}  // namespace

std::string ConversionError(const std::string& path, std::span<const uint8_t> file,
                            const CHex2Bin& converter, int32_t result, std::string_view lead) {
  std::string error = path;
  if (converter.FailedRecordOffset >= 0) {
    error += ':';
    error += std::to_string(LineOfOffset(file, static_cast<size_t>(converter.FailedRecordOffset)));
  }
  error += ": ";
  error += lead;
  error += "result " + std::to_string(result) + ", " + CHex2Bin::ResultMessage(result);
  if (result == CHex2Bin::kEofError) error += " (no end record " + std::string(kIntelHexEndRecord) + ")";
  return error;
}

size_t LineOfOffset(std::span<const uint8_t> text, size_t offset) {
  offset = std::min(offset, text.size());
  return 1 + static_cast<size_t>(std::count(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(offset), '\n'));
}

LoadedImage LoadImageFile(const std::string& path, uint32_t flashSize, const std::string& chipName) {
  LoadedImage r;
  const ImageFileKind kind = ImageFileKindOf(path);
  if (kind == ImageFileKind::Other) {
    // Anything else (an ELF file, a listing) would be programmed byte for byte as if it were an image.
    r.error = path + ": not an image file; its name must end in .hex (Intel HEX) or .bin (raw binary)";
    return r;
  }
  std::vector<uint8_t> file;
  std::string why;
  if (!ReadFileBytes(path, file, why)) {
    r.error = path + ": cannot read: " + why;
    return r;
  }
  if (kind == ImageFileKind::Hex) {
    CHex2Bin converter;
    uint32_t length = 0;
    int32_t result = converter.ConvertBytes(file, std::nullopt, &length, nullptr);
    if (result == CHex2Bin::kLengthOnly) {
      // Only an image that fits the chip is built; a hostile file cannot make it large anyway.
      if (flashSize != 0 && length > flashSize) {
        r.error = path + ": the image is " + std::to_string(length) + " bytes, larger than the " +
                  std::to_string(flashSize) + " bytes of " + chipName + "'s flash";
        return r;
      }
      r.bytes.resize(length);
      uint8_t none = 0;  // an empty image still needs somewhere to go, or the call only measures
      result = converter.ConvertBytes(file, std::nullopt, &length, length ? r.bytes.data() : &none);
    }
    if (result != CHex2Bin::kSuccess) {
      r.error = ConversionError(path, file, converter, result, "HEX conversion failed with ");
      r.bytes.clear();
      return r;
    }
  } else {
    r.bytes = std::move(file);
  }
  if (r.bytes.empty()) {
    r.error = path + ": the image is empty";
  } else if (flashSize != 0 && r.bytes.size() > flashSize) {
    r.error = path + ": the image is " + std::to_string(r.bytes.size()) + " bytes, larger than the " +
              std::to_string(flashSize) + " bytes of " + chipName + "'s flash";
  }
  if (!r.error.empty()) r.bytes.clear();
  return r;
}

std::string IntelHexFromImage(std::span<const uint8_t> image) {
  std::string s;
  uint32_t upper = 0;  // the extended linear address in force
  for (size_t row = 0; row < image.size(); row += 16) {
    const size_t end = std::min(row + 16, image.size());
    size_t first = row, last = end;
    while (first < end && image[first] == kErasedByte) ++first;
    if (first == end) continue;
    while (image[last - 1] == kErasedByte) --last;
    if (const auto high = static_cast<uint32_t>(first >> 16); high != upper) {
      const uint8_t value[2] = {static_cast<uint8_t>(high >> 8), static_cast<uint8_t>(high)};
      AppendRecord(s, 0x04, 0, value);
      upper = high;
    }
    AppendRecord(s, 0x00, static_cast<uint16_t>(first & 0xFFFF), image.subspan(first, last - first));
  }
  s += kIntelHexEndRecord;
  s += '\n';
  return s;
}

std::string WriteFileAtomically(const std::string& path, std::span<const uint8_t> bytes) {
  namespace fs = std::filesystem;
  const fs::path target(path);
  const fs::path dir = target.has_parent_path() ? target.parent_path() : fs::path(".");
  std::string temp = (dir / ('.' + target.filename().string() + ".XXXXXX")).string();
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) return path + ": cannot write: " + std::strerror(errno);
  size_t done = 0;
  int error = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      error = errno;
      break;
    }
    done += static_cast<size_t>(n);
  }
  if (!error && ::fsync(fd) != 0) error = errno;
  // mkstemp makes the file private; give it the mode a new file would have.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  if (!error && ::fchmod(fd, 0666 & ~mask) != 0) error = errno;
  if (::close(fd) != 0 && !error) error = errno;
  if (!error && ::rename(temp.c_str(), path.c_str()) != 0) error = errno;
  if (error) {
    ::unlink(temp.c_str());
    return path + ": cannot write: " + std::strerror(error);
  }
  return {};
}

ImageComparison CompareImages(std::span<const uint8_t> expected, std::span<const uint8_t> actual) {
  ImageComparison c;
  c.compared = expected.size();
  for (size_t i = 0; i < expected.size(); ++i) {
    const uint8_t want = expected[i];
    const uint8_t got = i < actual.size() ? actual[i] : kErasedByte;
    if (want == got) continue;
    if (c.differing++ == 0) {
      c.firstAddress = i;
      c.expected = want;
      c.actual = got;
    }
    c.bitsOneToZero += static_cast<size_t>(std::popcount(static_cast<uint8_t>(want & ~got)));
    c.bitsZeroToOne += static_cast<size_t>(std::popcount(static_cast<uint8_t>(~want & got)));
  }
  return c;
}

std::string DescribeMismatch(const ImageComparison& c, bool writtenWithoutErase) {
  char text[256];
  std::snprintf(text, sizeof text,
                "first difference at 0x%04zX: expected 0x%02X, read 0x%02X; %zu of %zu bytes differ, "
                "%zu bits 1->0 and %zu bits 0->1",
                c.firstAddress, c.expected, c.actual, c.differing, c.compared, c.bitsOneToZero,
                c.bitsZeroToOne);
  std::string s = text;
  if (writtenWithoutErase && c.bitsOneToZero > 0)
    s += "; bits that should be 1 read 0 after a write without erase: was the flash erased?";
  return s;
}

}  // namespace quillet::cli
