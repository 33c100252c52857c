// Feeds arbitrary bytes to the report descriptor reader, checking that whatever it accepts is
// self-consistent: the counts match the capability arrays, and the report lengths are sound.

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "hid/HidDescriptor.h"

using namespace quillet::hid;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto info = ParseReportDescriptor(data, size);
  if (!info) return 0;
  const HidCaps& caps = info->caps;
  for (const HidReportType type : {HidP_Input, HidP_Output, HidP_Feature}) {
    if (caps.Counts[ButtonCapsCount(type)] != info->buttonCaps[type].size() ||
        caps.Counts[ValueCapsCount(type)] != info->valueCaps[type].size())
      std::abort();
  }
  // A length is either absent or holds at least the ID byte and one byte of data.
  for (uint16_t length : {caps.InputReportByteLength, caps.OutputReportByteLength,
                          caps.FeatureReportByteLength})
    if (length == 1) std::abort();
  return 0;
}
