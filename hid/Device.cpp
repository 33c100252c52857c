#include "hid/Device.h"

namespace quillet::hid {

std::unique_ptr<THidDevice> THidDevice::FromDevice(const TDevice& from) {
  auto d = std::make_unique<THidDevice>();
  d->Name = from.Name;
  d->PhysicalObjectName = from.PhysicalObjectName;
  d->InterfacePath = from.InterfacePath;
  d->RegistryKey = from.RegistryKey;
  d->Description = from.Description;
  d->Service = from.Service;
  d->DriverKey = from.DriverKey;
  d->InstanceId = from.InstanceId;
  d->Children = from.Children;
  d->PortName = from.PortName;
  d->Manufacturer = from.Manufacturer;
  d->InstanceHandle = from.InstanceHandle;
  d->ClassId = from.ClassId;
  return d;
}

uint16_t THidDevice::GetReportLength(int kind) const {
  if (kind == rkOutput) return Caps.OutputReportByteLength;
  if (kind == rkInput) return Caps.InputReportByteLength;
  return Caps.FeatureReportByteLength;
}

uint16_t THidDevice::GetCount(int index) const {
  if (index < 0 || index >= static_cast<int>(Caps.Counts.size())) return 0;
  return Caps.Counts[index];
}

namespace {

// The report type a GetButtons or GetValues kind names: the output or feature count, else input.
HidReportType TypeOfKind(int kind, HidCountIndex output, HidCountIndex feature) {
  return kind == output ? HidP_Output : kind == feature ? HidP_Feature : HidP_Input;
}

const HidCapEntry& EntryAt(const std::vector<HidCapEntry>& caps, int index, uint16_t count) {
  if (index < 0 || index >= count || static_cast<size_t>(index) >= caps.size())
    throw std::out_of_range("Index is out of range");
  return caps[index];
}

}  // namespace

void THidDevice::GetButtons(int index, int kind, HidCapEntry& dest) const {
  const HidReportType type = TypeOfKind(kind, NumberOutputButtonCaps, NumberFeatureButtonCaps);
  dest = EntryAt(ButtonCaps[type], index, GetCount(ButtonCapsCount(type)));
}

void THidDevice::GetValues(int index, int kind, HidCapEntry& dest) const {
  const HidReportType type = TypeOfKind(kind, NumberOutputValueCaps, NumberFeatureValueCaps);
  dest = EntryAt(ValueCaps[type], index, GetCount(ValueCapsCount(type)));
}

std::string GetUsagePageString(uint16_t page) {
  static const char* const kNames[] = {
      "Undefined",       "Generic Desktop", "Simulation",      "VR",
      "Sport",           "Game",            "Generic Device",  "Keyboard",
      "LEDs",            "Button",          "Ordinal",         "Telephony",
      "Consumer",        "Digitizer",       "Reserved",        "PID Page",
      "Unicode",         "Reserved",        "Reserved",        "Reserved",
      "Alphanumeric Display"};
  if (page < std::size(kNames)) return kNames[page];
  return "Unknown";
}

}  // namespace quillet::hid
