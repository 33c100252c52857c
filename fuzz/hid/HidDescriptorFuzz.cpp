// Feeds arbitrary bytes to the report descriptor reader, and whatever it accepts through the
// capability copies, checking that what it derives stays self-consistent.

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "hid/HidDescriptor.h"
#include "hid/HidPlatform.h"

using namespace quillet::hid;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto info = ParseReportDescriptor(data, size);
  if (!info) return 0;
  HidPreparsedData ppd;
  ppd.info = *info;
  HidCaps caps;
  if (CapsFromDescriptor(ppd, caps) != HIDP_STATUS_SUCCESS) std::abort();
  for (int type = HidP_Input; type <= HidP_Feature; ++type) {
    const auto kind = static_cast<HidReportType>(type);
    HidCapEntry entries[8];
    uint16_t count = 8;
    ButtonCapsFromDescriptor(kind, entries, count, ppd);
    if (count > 8 || count > info->buttonCaps[type].size()) std::abort();
    count = 8;
    ValueCapsFromDescriptor(kind, entries, count, ppd);
    if (count > 8 || count > info->valueCaps[type].size()) std::abort();
    if (caps.Counts[type * 3] != info->buttonCaps[type].size() ||
        caps.Counts[type * 3 + 1] != info->valueCaps[type].size())
      std::abort();
  }
  // A length is either absent or holds at least the ID byte and one byte of data.
  for (uint16_t length : {caps.InputReportByteLength, caps.OutputReportByteLength,
                          caps.FeatureReportByteLength})
    if (length == 1) std::abort();
  return 0;
}
