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

// A device setup class identifier, as records carry it.
struct HidGuid {
  uint32_t Data1 = 0;
  uint16_t Data2 = 0;
  uint16_t Data3 = 0;
  std::array<uint8_t, 8> Data4{};
  bool operator==(const HidGuid&) const = default;
};

// The interface class every HID device node is listed under.
inline constexpr HidGuid kHidInterfaceClass{
    0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

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

// The kinds GetReportLength takes. Not HidReportType's order: output comes first.
enum TReportKind : int { rkOutput = 0, rkInput = 1, rkFeature = 2 };

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
  // `kind` is a TReportKind; any other value gives the feature length.
  uint16_t GetReportLength(int kind) const;
  // `index` is a HidCountIndex; 0 for any other value.
  uint16_t GetCount(int index) const;
  // Kind NumberOutputButtonCaps: output; NumberFeatureButtonCaps: feature; anything else:
  // input. std::out_of_range ("Index is out of range") for an index outside that count.
  void GetButtons(int index, int kind, HidCapEntry& dest) const;
  // Likewise with NumberOutputValueCaps and NumberFeatureValueCaps.
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
