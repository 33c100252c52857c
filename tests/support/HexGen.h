#pragma once
// Writes Intel HEX text for tests and benchmarks: single records with a right (or
// deliberately wrong) checksum, and whole generated files from a seeded random generator.

#include <algorithm>
#include <cstdint>
#include <map>
#include <random>
#include <span>
#include <string>
#include <vector>

namespace quillet::test {

inline const std::string kEndRecord = ":00000001FF";

inline void AppendHexByte(std::string& s, std::uint8_t b, bool lower = false) {
  const char* digits = lower ? "0123456789abcdef" : "0123456789ABCDEF";
  s += digits[b >> 4];
  s += digits[b & 0xF];
}

// ":" count offset type data checksum, with checksumDelta added to the right checksum.
inline std::string Record(std::uint8_t type, std::uint16_t offset, std::span<const std::uint8_t> data,
                          int checksumDelta = 0, bool lower = false) {
  std::string s = ":";
  std::uint8_t sum = 0;
  auto put = [&](std::uint8_t b) {
    AppendHexByte(s, b, lower);
    sum = static_cast<std::uint8_t>(sum + b);
  };
  put(static_cast<std::uint8_t>(data.size()));
  put(static_cast<std::uint8_t>(offset >> 8));
  put(static_cast<std::uint8_t>(offset));
  put(type);
  for (std::uint8_t b : data) put(b);
  AppendHexByte(s, static_cast<std::uint8_t>(-sum + checksumDelta), lower);
  return s;
}

inline std::string Data(std::uint16_t offset, std::span<const std::uint8_t> data, int checksumDelta = 0) {
  return Record(0x00, offset, data, checksumDelta);
}

// A type-2 (segment) or type-4 (linear) address record holding value.
inline std::string Address(std::uint8_t type, std::uint16_t value) {
  const std::uint8_t v[2] = {static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value)};
  return Record(type, 0, v);
}

// n bytes first, first + 1, ... (mod 256).
inline std::vector<std::uint8_t> Ramp(std::size_t n, std::uint8_t first = 0) {
  std::vector<std::uint8_t> v(n);
  for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<std::uint8_t>(first + i);
  return v;
}

enum class Addressing { kNone, kSegment, kLinear };

struct GenOptions {
  std::uint32_t seed = 1;
  std::uint32_t imageSize = 0x8000;  // data lies in [0, imageSize)
  Addressing addressing = Addressing::kNone;
  bool gaps = false;     // leave holes between records
  bool shuffle = false;  // records out of address order within each address window
};

struct Generated {
  std::string text;
  std::vector<std::int16_t> bytes;  // by address below imageSize: the byte the file sets there, or -1
  std::uint32_t dataBytes = 0;                  // how many bytes the records carry
  std::uint32_t end = 0;                        // highest address set + 1
};

// A well-formed file: data records that never overlap and never cross their address window (64 KiB
// for linear addressing and for none, 64 KiB or 32 KiB for segment addressing), each window preceded
// by its address record, windows in rising order. Record sizes, line ends, digit case and stray
// type-3/type-5 records vary with the seed; the end record is always last.
inline Generated Generate(const GenOptions& o) {
  std::mt19937 rng(o.seed);
  auto uniform = [&](std::uint32_t lo, std::uint32_t hi) {
    return std::uniform_int_distribution<std::uint32_t>(lo, hi)(rng);
  };
  const std::uint32_t window =
      o.addressing == Addressing::kSegment && uniform(0, 1) == 0 ? 0x8000 : 0x10000;
  const int sizeMode = static_cast<int>(uniform(0, 3));  // 16, 32, 255 or random bytes per record
  const bool lower = uniform(0, 3) == 0;
  const std::string eol = uniform(0, 1) ? "\r\n" : "\n";
  const bool startRecords = uniform(0, 1) == 0;

  struct Rec {
    std::uint32_t address;
    std::vector<std::uint8_t> data;
  };
  std::map<std::uint32_t, std::vector<Rec>> windows;
  Generated g;
  g.bytes.assign(o.imageSize, -1);
  std::uint32_t address = 0;
  while (address < o.imageSize) {
    if (o.gaps && uniform(0, 7) == 0) {
      address += uniform(0, 15) == 0 ? uniform(0x100, 0x1000) : uniform(1, 64);
      if (address >= o.imageSize) break;
    }
    std::uint32_t n = sizeMode == 0 ? 16 : sizeMode == 1 ? 32 : sizeMode == 2 ? 255 : uniform(1, 255);
    const std::uint32_t windowEnd = (address / window + 1) * window;
    n = std::min({n, o.imageSize - address, windowEnd - address});
    Rec r{address, std::vector<std::uint8_t>(n)};
    for (std::uint32_t i = 0; i < n; ++i) {
      r.data[i] = static_cast<std::uint8_t>(uniform(0, 255));
      g.bytes[address + i] = r.data[i];
    }
    g.dataBytes += n;
    g.end = address + n;
    windows[address / window].push_back(std::move(r));
    address += n;
  }

  for (auto& [index, recs] : windows) {
    if (o.shuffle) std::shuffle(recs.begin(), recs.end(), rng);
    if (o.addressing == Addressing::kLinear) {
      g.text += Address(0x04, static_cast<std::uint16_t>(index)) + eol;
    } else if (o.addressing == Addressing::kSegment) {
      g.text += Address(0x02, static_cast<std::uint16_t>(index * window >> 4)) + eol;
    }
    for (const Rec& r : recs) {
      g.text += Record(0x00, static_cast<std::uint16_t>(r.address % window), r.data, 0, lower) + eol;
    }
  }
  if (startRecords) {
    const std::uint8_t start[4] = {0x00, 0x00, 0x12, 0x34};
    g.text += Record(0x03, 0, start, 0, lower) + eol;
    g.text += Record(0x05, 0, start, 0, lower) + eol;
  }
  g.text += kEndRecord + eol;
  return g;
}

// A plain file as a compiler would emit it: 16-byte records from address 0 over a random image of
// imageSize bytes, with type-4 records at each 64 KiB window.
inline std::string Plain(std::uint32_t imageSize, std::uint32_t seed = 7) {
  const bool linear = imageSize > 0x10000;
  std::mt19937 rng(seed);
  std::string text;
  std::vector<std::uint8_t> chunk(16);
  for (std::uint32_t a = 0; a < imageSize; a += 16) {
    if (linear && a % 0x10000 == 0) {
      text += Address(0x04, static_cast<std::uint16_t>(a >> 16)) + "\r\n";
    }
    chunk.resize(std::min<std::uint32_t>(16, imageSize - a));
    for (auto& b : chunk) b = static_cast<std::uint8_t>(rng());
    text += Data(static_cast<std::uint16_t>(a), chunk) + "\r\n";
  }
  return text + kEndRecord + "\r\n";
}

}  // namespace quillet::test
