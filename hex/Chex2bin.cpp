#include "hex/Chex2bin.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <fstream>
#include <limits>
#include <string_view>
#include <vector>

#include "hex/HexDigit.h"

namespace quillet {
namespace {

// Characters from the colon to the checksum of a record with no data bytes.
constexpr std::size_t kRecordOverhead = 11;

// Value of each character read as a hex digit; a character that is not one counts as 0. A table,
// since every record character goes through it.
constexpr std::array<std::uint8_t, 256> MakeDigitTable() {
  std::array<std::uint8_t, 256> t{};
  for (int c = 0; c < 256; ++c) {
    const int value = HexDigitValue(static_cast<char>(c));
    t[static_cast<std::size_t>(c)] = static_cast<std::uint8_t>(value < 0 ? 0 : value);
  }
  return t;
}
constexpr std::array<std::uint8_t, 256> kDigit = MakeDigitTable();

inline std::uint8_t Pair(const std::uint8_t* p) {
  return static_cast<std::uint8_t>(kDigit[p[0]] << 4 | kDigit[p[1]]);
}

struct Record {
  std::uint32_t count = 0;    // data bytes, 0 to 255
  std::uint32_t offset = 0;   // 0 to 0xFFFF
  char type = 0;              // the type's second character; '0' to '5' name a type
  const std::uint8_t* data = nullptr;  // first character of the data pairs
  bool checksumOk = false;

  std::uint8_t Byte(std::uint32_t i) const { return Pair(data + 2 * i); }
  // Value of a type-2 or type-4 record: its first two data bytes, high first, missing ones 0.
  std::uint32_t AddressValue() const {
    std::uint32_t hi = count > 0 ? Byte(0) : 0;
    std::uint32_t lo = count > 1 ? Byte(1) : 0;
    return hi << 8 | lo;
  }
};

// Walks the records of the record area [text, text + size), skipping every byte between them
// that is not a colon.
class RecordReader {
 public:
  enum class Step { kRecord, kEnd, kTruncated };

  RecordReader(const std::uint8_t* text, std::size_t size) : text_(text), size_(size) {}

  // Reads the next record into r. kTruncated: the record's fields would run past the area's end;
  // nothing of it is read. With checkSum false the checksum is not computed.
  Step Next(Record& r, bool checkSum) {
    const void* colon = pos_ < size_ ? std::memchr(text_ + pos_, ':', size_ - pos_) : nullptr;
    if (colon == nullptr) return Step::kEnd;
    const std::uint8_t* p = static_cast<const std::uint8_t*>(colon);
    const std::size_t at = static_cast<std::size_t>(p - text_);
    start_ = at;
    if (size_ - at < kRecordOverhead) return Step::kTruncated;
    r.count = Pair(p + 1);
    const std::size_t length = kRecordOverhead + 2 * std::size_t{r.count};
    if (size_ - at < length) return Step::kTruncated;
    r.offset = std::uint32_t{Pair(p + 3)} << 8 | Pair(p + 5);
    r.type = static_cast<char>(p[8]);
    r.data = p + 9;
    if (checkSum) {
      unsigned sum = 0;
      for (std::size_t i = 1; i < length; i += 2) sum += Pair(p + i);
      r.checksumOk = (sum & 0xFF) == 0;
    }
    pos_ = at + length;
    return Step::kRecord;
  }

  // Where the record last returned or found truncated starts (its colon).
  std::size_t RecordStart() const { return start_; }

 private:
  const std::uint8_t* text_;
  std::size_t size_;
  std::size_t pos_ = 0;
  std::size_t start_ = 0;
};

// Writes data[0, n) at the start of the side file, creating it when absent. An existing file is
// opened for reading and writing, so it is never shortened. Returns false when it cannot be opened
// or created, or when writing or closing it fails (a full disk must not pass for a good copy).
bool WriteSideFile(const std::filesystem::path& path, const std::uint8_t* data, std::size_t n) {
  std::error_code ec;
  const bool absent = std::filesystem::status(path, ec).type() == std::filesystem::file_type::not_found;
  std::fstream f;
  if (absent) {
    f.open(path, std::ios::out | std::ios::binary);
  } else {
    f.open(path, std::ios::in | std::ios::out | std::ios::binary);
  }
  if (!f.is_open()) return false;
  f.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(n));
  f.close();
  return !f.fail();
}

// Reads the whole file; false when it cannot be opened or read, or is too large for a 32-bit length.
bool ReadWholeFile(const std::filesystem::path& path, std::vector<std::uint8_t>& out) {
  std::ifstream f(path, std::ios::in | std::ios::binary);
  if (!f.is_open()) return false;
  std::error_code ec;
  const auto expected = std::filesystem::file_size(path, ec);
  if (!ec && expected <= std::numeric_limits<std::uint32_t>::max()) out.reserve(expected + 1);
  constexpr std::size_t kChunk = 1 << 16;
  for (;;) {
    const std::size_t have = out.size();
    const std::size_t want = std::max(kChunk, out.capacity() - have);
    out.resize(have + want);
    f.read(reinterpret_cast<char*>(out.data() + have), static_cast<std::streamsize>(want));
    out.resize(have + static_cast<std::size_t>(f.gcount()));
    if (f.bad()) return false;
    if (f.eof()) break;
    if (out.size() > std::numeric_limits<std::uint32_t>::max()) return false;
  }
  return out.size() <= std::numeric_limits<std::uint32_t>::max();
}

// The record area: what precedes the first end marker in the text, which ends at the file's end
// or its first zero byte. None when the text has no end marker.
std::optional<std::span<const std::uint8_t>> FindRecordArea(std::span<const std::uint8_t> fileBytes) {
  const std::uint8_t* const bytes = fileBytes.data();
  const void* zero = fileBytes.empty() ? nullptr : std::memchr(bytes, 0, fileBytes.size());
  const std::size_t textSize =
      zero != nullptr ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(zero) - bytes)
                      : fileBytes.size();
  const std::string_view text(reinterpret_cast<const char*>(bytes), textSize);
  const std::size_t areaSize = text.find(kIntelHexEndRecord);
  if (areaSize == std::string_view::npos) return std::nullopt;
  return fileBytes.first(areaSize);
}

// What the checking pass found.
struct Measure {
  std::int32_t result = CHex2Bin::kSuccess;  // or the failing record's kChecksumError, kWrongLabel
  std::int64_t failedRecordOffset = -1;      // that record's colon
  std::uint32_t sum = 0;                     // S: the data bytes counted, up to a failing record
  std::uint32_t imageLength = 0;             // L, when every record passed
};

// The checking and sizing pass: checks every record and works out L from S and the highest data
// record. S is at most half the area, so it fits in 32 bits.
Measure CheckRecords(std::span<const std::uint8_t> area) {
  // Kept in locals rather than in the result: the record bytes, read as characters, could alias it.
  std::uint32_t sum = 0;
  std::int32_t result = CHex2Bin::kSuccess;
  std::uint32_t highest = 0, highestCount = 0;
  std::uint32_t segmentBase = 0, linearBase = 0;
  bool segmentFlag = false, linearFlag = false;
  RecordReader reader(area.data(), area.size());
  auto failed = [&](std::int32_t code) {
    return Measure{code, static_cast<std::int64_t>(reader.RecordStart()), sum, 0};
  };
  Record r;
  for (;;) {
    const auto step = reader.Next(r, true);
    if (step == RecordReader::Step::kEnd) break;
    if (step == RecordReader::Step::kTruncated) return failed(CHex2Bin::kChecksumError);
    switch (r.type) {
      case '0':
        if (!segmentFlag && !linearFlag) {
          sum += r.count;
          if (r.offset >= highest) {
            highest = r.offset;
            highestCount = r.count;
          }
        }
        break;
      case '2':
      case '4': {
        const bool segment = r.type == '2';
        const std::uint32_t base = segment ? r.AddressValue() << 4 : r.AddressValue() << 16;
        std::uint32_t& current = segment ? segmentBase : linearBase;
        bool& flag = segment ? segmentFlag : linearFlag;
        if (base < current) {
          flag = true;
        } else {
          current = base;
          flag = false;
          highest = 0;
        }
        break;
      }
      case '3':
      case '5':
        break;
      default:  // '1' (an end record before the marker) or no type at all
        result = CHex2Bin::kWrongLabel;
        break;
    }
    if (result == CHex2Bin::kSuccess && !r.checksumOk) result = CHex2Bin::kChecksumError;
    if (result != CHex2Bin::kSuccess) return failed(result);
  }
  return Measure{CHex2Bin::kSuccess, -1, sum, std::max(sum, highest + highestCount)};
}

// The placing pass: every data record, flagged by the checking pass or not, goes to segment +
// linear base + offset; bytes that would land at or beyond L are dropped.
std::vector<std::uint8_t> PlaceRecords(std::span<const std::uint8_t> area, std::uint32_t imageLength,
                                       std::uint8_t fill) {
  std::vector<std::uint8_t> image(imageLength, fill);
  RecordReader reader(area.data(), area.size());
  Record r;
  std::uint64_t segment = 0, linear = 0;
  while (reader.Next(r, false) == RecordReader::Step::kRecord) {
    if (r.type == '2') {
      segment = std::uint64_t{r.AddressValue()} << 4;
    } else if (r.type == '4') {
      linear = std::uint64_t{r.AddressValue()} << 16;
    } else if (r.type == '0') {
      const std::uint64_t address = segment + linear + r.offset;
      if (address >= imageLength) continue;
      const auto n = static_cast<std::uint32_t>(std::min<std::uint64_t>(r.count, imageLength - address));
      std::uint8_t* out = image.data() + address;
      for (std::uint32_t i = 0; i < n; ++i) out[i] = r.Byte(i);
    }
  }
  return image;
}

// Writes image[0, n) to the side file and the destination, those asked for. Both need the length
// variable (kLengthNull without it); a side file that cannot be written gives kWriteDestError.
std::int32_t WriteOutputs(const std::uint8_t* image, std::size_t n,
                          const std::optional<std::filesystem::path>& binPath, bool haveLength,
                          std::uint8_t* dest) {
  std::int32_t result = CHex2Bin::kSuccess;
  if (binPath) {
    if (!haveLength) {
      result = CHex2Bin::kLengthNull;
    } else if (!WriteSideFile(*binPath, image, n)) {
      result = CHex2Bin::kWriteDestError;
    }
  }
  if (dest != nullptr) {
    if (!haveLength) {
      result = CHex2Bin::kLengthNull;
    } else if (n > 0) {
      std::memcpy(dest, image, n);
    }
  }
  return result;
}

}  // namespace

const char* CHex2Bin::ResultMessage(std::int32_t code) {
  switch (code) {
    case kSuccess: return "Success.";
    case kOpenHexError: return "Open hex file error.";
    case kEofError: return "Hex file eof error.";
    case kChecksumError: return "Hex file checksum error.";
    case kWrongLabel: return "Hex file wrong label.";
    case kWriteDestError: return "Write Dest file error.";
    case kBufferOverflow: return "Dest buffer overflow.";
    case kLengthNull: return "Length parameter can not be NULL";
    case kLengthOnly: return "Get bin length Success.";
    default: return "";
  }
}

std::int32_t CHex2Bin::Finish(std::int32_t result) {
  LastResult = result;
  ResultText = ResultMessage(result);
  return result;
}

std::int32_t CHex2Bin::Convert(const std::filesystem::path& hexPath,
                               const std::optional<std::filesystem::path>& binPath,
                               std::uint32_t* length, std::uint8_t* dest) {
  std::vector<std::uint8_t> file;
  if (!ReadWholeFile(hexPath, file)) {
    FailedRecordOffset = -1;
    // L is 0, so no capacity can be smaller than it.
    if (length != nullptr) *length = 0;
    return Finish(kOpenHexError);
  }
  return ConvertBytes(file, binPath, length, dest);
}

std::int32_t CHex2Bin::ConvertBytes(std::span<const std::uint8_t> fileBytes,
                                    const std::optional<std::filesystem::path>& binPath,
                                    std::uint32_t* length, std::uint8_t* dest) {
  const std::uint32_t capacity = length != nullptr ? *length : 0;
  FailedRecordOffset = -1;

  // The last step: a non-zero capacity below L overrides any result; the length variable gets L.
  auto finish = [&](std::int32_t result, std::uint32_t imageLength) {
    if (length != nullptr) {
      if (capacity != 0 && capacity < imageLength) result = kBufferOverflow;
      *length = imageLength;
    }
    return Finish(result);
  };

  if (fileBytes.size() > std::numeric_limits<std::uint32_t>::max()) return finish(kOpenHexError, 0);
  const auto area = FindRecordArea(fileBytes);
  if (!area) return finish(kEofError, 0);

  const Measure measure = CheckRecords(*area);
  if (measure.result != kSuccess) {
    FailedRecordOffset = measure.failedRecordOffset;
    return finish(measure.result, measure.sum);
  }
  const std::uint32_t imageLength = measure.imageLength;
  BinLength = imageLength;
  if (!binPath && dest == nullptr) return finish(kLengthOnly, imageLength);

  const std::vector<std::uint8_t> image = PlaceRecords(*area, imageLength, FillByte);
  // The first n bytes go out, n = L unless a non-zero capacity is smaller.
  const std::size_t n = capacity != 0 && capacity < imageLength ? capacity : imageLength;
  return finish(WriteOutputs(image.data(), n, binPath, length != nullptr, dest), imageLength);
}

}  // namespace quillet
