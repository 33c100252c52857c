#pragma once
// The records of the device list: TDevice as enumeration produces it, THidDevice with what the
// query of one HID interface adds (attributes, capabilities and the capability arrays).

#include <array>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "hid/HidPlatform.h"
#include "hid/HidTypes.h"

namespace quillet::hid {

class TBaseIO;

class TDevice {
 public:
  virtual ~TDevice() = default;

  int32_t ListPosition = -1;
  TBaseIO* Owner = nullptr;
  uint32_t InstanceHandle = 0;
  int32_t SortKey = 0;
  std::string Name;
  std::string PhysicalObjectName;
  std::string InterfacePath;
  std::string RegistryKey;
  std::string Description;
  std::string Service;
  std::string DriverKey;
  std::string InstanceId;
  std::string Children;
  std::string PortName;
  std::string Manufacturer;
  std::string SerialNumber;
  HidGuid ClassId;
};

class THidDevice : public TDevice {
 public:
  static constexpr uint32_t kAttributesSize = 10;

  THidDevice() { Attributes.Size = kAttributesSize; }
  // Takes what enumeration found; position, owner, sort key and serial number start afresh.
  static std::unique_ptr<THidDevice> FromDevice(const TDevice& from);

  uint16_t GetVendorId() const { return Attributes.VendorID; }
  uint16_t GetProductId() const { return Attributes.ProductID; }
  uint16_t GetVersion() const { return Attributes.VersionNumber; }
  uint16_t GetUsage() const { return Caps.Usage; }
  uint16_t GetUsagePage() const { return Caps.UsagePage; }
  // 0: output, 1: input, anything else: feature.
  uint16_t GetReportLength(int kind) const;
  uint16_t GetCount(int index) const;
  // Kind 3 output, 6 feature, anything else input; std::out_of_range for a bad index.
  void GetButtons(int index, int kind, HidCapEntry& dest) const;
  // Kind 4 output, 7 feature, anything else input.
  void GetValues(int index, int kind, HidCapEntry& dest) const;

  std::shared_ptr<const HidPreparsedData> fPpd;  // held only while the record is queried
  HidAttributes Attributes;
  HidCaps Caps;
  // Button and value capabilities of each report type, indexed by HidReportType.
  std::array<std::vector<HidCapEntry>, 3> ButtonCaps;
  std::array<std::vector<HidCapEntry>, 3> ValueCaps;
};

// Names the HID usage pages 0 to 20; "Unknown" for others.
std::string GetUsagePageString(uint16_t page);

}  // namespace quillet::hid
