#pragma once
// The operations the HID component needs from the operating system. The component talks only to
// this interface; the Linux backend (sysfs + hidraw) and the simulated backend implement it.
//
// Error codes are the platform's own numbers (errno values on Linux and in the simulation);
// ErrorText turns one into the message shown to the user.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "hid/HidDescriptor.h"
#include "hid/HidTypes.h"

namespace quillet::hid {

class TDevice;

enum class HidAccess { ReadWrite, ReadOnly, WriteOnly, None };

enum class HidStringKind { Product, Manufacturer, SerialNumber };

// A parsed report descriptor, held while a record is queried and while a connection is open.
struct HidPreparsedData {
  virtual ~HidPreparsedData() = default;
  HidDescriptorInfo info;
};

struct HidIoResult {
  enum Status { Ok, Cancelled, Failed };
  Status status = Failed;
  size_t count = 0;  // bytes placed in the buffer, for Ok
  int error = 0;     // platform error code, for Failed
};

// One open device node. It is shared by the connection and its reader; Shutdown ends any pending
// read or write and makes every later one fail, and the node itself is released only when the
// last owner lets go, so no other thread can be left using a released node.
class IHidHandle {
 public:
  virtual ~IHidHandle() = default;

  // UTF-8 text of a device string; false when the device has none or it cannot be read.
  virtual bool GetString(HidStringKind kind, std::string& out) = 0;
  virtual bool GetIndexedString(int index, std::string& out) = 0;
  // The parsed report descriptor, or null when it cannot be read or parsed.
  virtual std::shared_ptr<const HidPreparsedData> GetPreparsedData() = 0;
  virtual bool GetAttributes(HidAttributes& out) = 0;

  // Blocks until one input report arrives (report ID byte first), Shutdown is called, or the
  // device fails (an unplugged device fails its pending read).
  virtual HidIoResult Read(uint8_t* buffer, size_t size) = 0;
  // Blocks until the device has taken the report (report ID byte first) or Shutdown is called.
  // A device that has not taken it within `limit` fails the write with ETIMEDOUT; a limit of
  // zero or less waits as long as it takes.
  virtual HidIoResult Write(const uint8_t* report, size_t size, std::chrono::milliseconds limit) = 0;
  HidIoResult Write(const uint8_t* report, size_t size) {
    return Write(report, size, std::chrono::milliseconds::zero());
  }
  virtual void Shutdown() = 0;

  // Report transfers over the control pipe; false where the node or the platform cannot do them.
  virtual bool GetFeature(uint8_t* buffer, size_t size) = 0;
  virtual bool SetFeature(const uint8_t* buffer, size_t size) = 0;
  virtual bool GetInputReport(uint8_t* buffer, size_t size) = 0;
  virtual bool SetOutputReport(const uint8_t* buffer, size_t size) = 0;
};

struct HidOpenResult {
  std::shared_ptr<IHidHandle> handle;  // null on failure
  int error = 0;
  bool sharingViolation = false;  // the node exists but another process holds it exclusively
};

class IHidPlatform {
 public:
  virtual ~IHidPlatform() = default;

  virtual HidGuid GetHidGuid() = 0;
  // First pass: one record per present device of the class, with its first interface's path.
  virtual std::vector<std::unique_ptr<TDevice>> EnumerateDevices(const HidGuid& classId) = 0;
  // Second pass: one record per interface of the class, found from the interfaces alone.
  virtual std::vector<std::unique_ptr<TDevice>> EnumerateInterfaces(const HidGuid& classId) = 0;

  // Overlapped handles take part in a connection; the others only answer queries.
  virtual HidOpenResult Open(const std::string& path, HidAccess access, bool shared,
                             bool overlapped) = 0;

  virtual uint32_t GetCaps(const HidPreparsedData& ppd, HidCaps& caps) = 0;
  // Fills up to `count` entries; returns HIDP_STATUS_SUCCESS or another status.
  virtual uint32_t GetButtonCaps(HidReportType type, HidCapEntry* caps, uint16_t& count,
                                 const HidPreparsedData& ppd) = 0;
  virtual uint32_t GetValueCaps(HidReportType type, HidCapEntry* caps, uint16_t& count,
                                const HidPreparsedData& ppd) = 0;

  virtual std::string ErrorText(int error) = 0;
};

// The capability operations over a parsed descriptor, shared by the backends.
uint32_t CapsFromDescriptor(const HidPreparsedData& ppd, HidCaps& caps);
uint32_t ButtonCapsFromDescriptor(HidReportType type, HidCapEntry* caps, uint16_t& count,
                                  const HidPreparsedData& ppd);
uint32_t ValueCapsFromDescriptor(HidReportType type, HidCapEntry* caps, uint16_t& count,
                                 const HidPreparsedData& ppd);

}  // namespace quillet::hid
