// Feeds arbitrary bytes to the report descriptor reader, and whatever it accepts through the
// component's query of a device declaring it, checking that what they derive stays
// self-consistent.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "hid/HidDescriptor.h"
#include "hid/HidIO.h"
#include "sim/SimHidPlatform.h"

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

  // The record the component makes of such a device carries the same capabilities.
  auto platform = std::make_shared<quillet::sim::SimHidPlatform>();
  quillet::sim::SimHidDeviceConfig device;
  device.reportDescriptor.assign(data, data + size);
  platform->Attach(device);
  THidIO hid(nullptr, platform);
  hid.Update();
  const THidDevice* record = hid.GetDevice(0);
  if (!record || record->GetReportLength(rkInput) != caps.InputReportByteLength ||
      record->GetReportLength(rkOutput) != caps.OutputReportByteLength ||
      record->GetReportLength(rkFeature) != caps.FeatureReportByteLength)
    std::abort();
  for (const HidReportType type : {HidP_Input, HidP_Output, HidP_Feature}) {
    if (record->GetCount(ButtonCapsCount(type)) != record->ButtonCaps[type].size() ||
        record->GetCount(ValueCapsCount(type)) != record->ValueCaps[type].size())
      std::abort();
  }
  return 0;
}
