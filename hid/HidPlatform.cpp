#include "hid/HidPlatform.h"

#include <algorithm>

namespace quillet::hid {
namespace {

uint32_t CopyCaps(const std::vector<HidCapEntry>& from, HidReportType type, HidCapEntry* caps,
                  uint16_t& count) {
  if (type < HidP_Input || type > HidP_Feature) return HIDP_STATUS_NULL;
  const size_t n = std::min<size_t>(count, from.size());
  if (n && !caps) return HIDP_STATUS_NULL;
  std::copy_n(from.begin(), n, caps);
  count = static_cast<uint16_t>(n);
  return HIDP_STATUS_SUCCESS;
}

}  // namespace

uint32_t CapsFromDescriptor(const HidPreparsedData& ppd, HidCaps& caps) {
  caps = ppd.info.caps;
  return HIDP_STATUS_SUCCESS;
}

uint32_t ButtonCapsFromDescriptor(HidReportType type, HidCapEntry* caps, uint16_t& count,
                                  const HidPreparsedData& ppd) {
  if (type < HidP_Input || type > HidP_Feature) return HIDP_STATUS_NULL;
  return CopyCaps(ppd.info.buttonCaps[type], type, caps, count);
}

uint32_t ValueCapsFromDescriptor(HidReportType type, HidCapEntry* caps, uint16_t& count,
                                 const HidPreparsedData& ppd) {
  if (type < HidP_Input || type > HidP_Feature) return HIDP_STATUS_NULL;
  return CopyCaps(ppd.info.valueCaps[type], type, caps, count);
}

}  // namespace quillet::hid
