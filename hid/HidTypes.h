#pragma once
// Plain records the HID layer exchanges: device attributes, the capabilities derived from a
// report descriptor, and one entry of a capability array.

#include <array>
#include <cstdint>

namespace quillet::hid {

enum HidReportType : int { HidP_Input = 0, HidP_Output = 1, HidP_Feature = 2 };

struct HidAttributes {
  uint32_t Size = 0;
  uint16_t VendorID = 0;
  uint16_t ProductID = 0;
  uint16_t VersionNumber = 0;
};

// Positions of the nine counts in HidCaps::Counts, in the order GetCount numbers them: three per
// report type, in HidReportType's order.
enum HidCountIndex : int {
  NumberInputButtonCaps = 0,
  NumberInputValueCaps = 1,
  NumberInputDataIndices = 2,
  NumberOutputButtonCaps = 3,
  NumberOutputValueCaps = 4,
  NumberOutputDataIndices = 5,
  NumberFeatureButtonCaps = 6,
  NumberFeatureValueCaps = 7,
  NumberFeatureDataIndices = 8,
};

// The position of each count of one report type.
constexpr HidCountIndex ButtonCapsCount(HidReportType type) {
  return static_cast<HidCountIndex>(type * 3);
}
constexpr HidCountIndex ValueCapsCount(HidReportType type) {
  return static_cast<HidCountIndex>(type * 3 + 1);
}
constexpr HidCountIndex DataIndicesCount(HidReportType type) {
  return static_cast<HidCountIndex>(type * 3 + 2);
}
static_assert(ButtonCapsCount(HidP_Output) == NumberOutputButtonCaps &&
              ValueCapsCount(HidP_Feature) == NumberFeatureValueCaps &&
              DataIndicesCount(HidP_Input) == NumberInputDataIndices);

struct HidCaps {
  uint16_t Usage = 0;
  uint16_t UsagePage = 0;
  uint16_t InputReportByteLength = 0;
  uint16_t OutputReportByteLength = 0;
  uint16_t FeatureReportByteLength = 0;
  std::array<uint16_t, 17> Reserved{};
  uint16_t NumberLinkCollectionNodes = 0;
  std::array<uint16_t, 9> Counts{};  // indexed by HidCountIndex
};

// One data field of a report (a button or a value), as the descriptor declares it.
struct HidCapEntry {
  uint16_t UsagePage = 0;
  uint8_t ReportID = 0;
  bool IsRange = false;
  bool IsAbsolute = true;
  uint32_t BitField = 0;  // the main item's flags (constant, variable, relative, ...)
  uint16_t LinkCollection = 0;
  uint16_t UsageMin = 0;
  uint16_t UsageMax = 0;
  uint16_t DataIndexMin = 0;
  uint16_t DataIndexMax = 0;
  uint16_t BitSize = 0;
  uint16_t ReportCount = 0;
  int32_t LogicalMin = 0;
  int32_t LogicalMax = 0;
};

}  // namespace quillet::hid
