#pragma once
// Our own reader of HID report descriptors: it derives what the link needs (top-level usage,
// report lengths, whether reports carry an ID byte) and the capability arrays. Any malformed or
// truncated descriptor yields nothing rather than a guess.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "hid/HidTypes.h"

namespace quillet::hid {

struct HidDescriptorInfo {
  HidCaps caps;
  // Button and value capabilities of each report type, indexed by HidReportType.
  std::array<std::vector<HidCapEntry>, 3> buttonCaps;
  std::array<std::vector<HidCapEntry>, 3> valueCaps;
  // Reports start with a report ID byte on the wire (the descriptor declares report IDs).
  bool numberedReports = false;
};

// Limits beyond which a descriptor is taken as malformed.
inline constexpr size_t kMaxReportDescriptorSize = 4096;
inline constexpr uint32_t kMaxReportSizeBits = 256;
inline constexpr uint32_t kMaxReportCount = 12288;
inline constexpr int kMaxGlobalStackDepth = 8;
inline constexpr int kMaxCollectionDepth = 64;

std::optional<HidDescriptorInfo> ParseReportDescriptor(const uint8_t* data, size_t size);

}  // namespace quillet::hid
