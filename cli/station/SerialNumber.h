#pragma once
// Serial numbers patched into each board's image: where they go, how they are written, which comes
// next, and the one a board already carries. Pure: the station asks, the journal remembers.

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace quillet::cli::station {

enum class Endian { Little, Big };

struct SerialPlan {
  uint32_t address = 0;
  int width = 4;  // bytes, 1..8
  Endian endian = Endian::Little;
  uint64_t start = 0;
  uint64_t step = 1;
  std::optional<uint64_t> end;  // the last number that may be issued
  bool overwrite = false;       // the number may replace bytes the image uses
};

// Why the plan cannot serve this image on a chip of `chipSize` bytes; empty when it can. Checked
// before any board is touched.
std::string CheckSerialPlan(const SerialPlan& plan, const std::vector<uint8_t>& image, uint32_t chipSize);

std::vector<uint8_t> SerialBytes(uint64_t value, int width, Endian endian);

// A copy of `image` with `value` written at the plan's address, padded with 0xFF up to it.
std::vector<uint8_t> PatchSerial(const std::vector<uint8_t>& image, const SerialPlan& plan, uint64_t value);

// The next number to issue after `highestReserved` (every number the journal ever reserved lies at
// or below it); nothing when the range or the width has run out.
std::optional<uint64_t> NextSerial(const SerialPlan& plan, std::optional<uint64_t> highestReserved);

// The number at the plan's address in a board's flash, when it is one `issued` holds.
std::optional<uint64_t> KeptSerial(const std::vector<uint8_t>& flash, const SerialPlan& plan,
                                   const std::set<uint64_t>& issued);

}  // namespace quillet::cli::station
