#pragma once
// What the HID component needs from the operating system, and only what differs between the
// backends: the Linux backend (sysfs + hidraw, LinuxHidPlatform.h) and the simulated one
// (sim/SimHidPlatform.h). The component talks only to these interfaces. What a backend may lack
// has a default here.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "hid/HidDescriptor.h"
#include "hid/HidTypes.h"

namespace quillet::hid {

class TDevice;

enum class HidAccess { ReadWrite, ReadOnly, WriteOnly, None };

enum class HidStringKind { Product, Manufacturer, SerialNumber };

// The string descriptor most devices keep their serial number in; GetIndexedString's only index.
inline constexpr int kSerialNumberStringIndex = 3;

// A parsed report descriptor, held while a record is queried and while a connection is open.
// The component takes the capabilities from it.
struct HidPreparsedData {
  virtual ~HidPreparsedData() = default;
  // False where the platform cannot give the capabilities (the simulation's fault).
  virtual bool CapabilitiesReadable() const { return true; }
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
  virtual bool GetFeature(uint8_t*, size_t) { return false; }
  virtual bool SetFeature(const uint8_t*, size_t) { return false; }
  virtual bool GetInputReport(uint8_t*, size_t) { return false; }
  virtual bool SetOutputReport(const uint8_t*, size_t) { return false; }
};

struct HidOpenResult {
  std::shared_ptr<IHidHandle> handle;  // null on failure
  int error = 0;
  bool sharingViolation = false;  // the node exists but another process holds it exclusively
};

class IHidPlatform {
 public:
  virtual ~IHidPlatform() = default;

  // First pass: one record per present HID device, with its first interface's path.
  virtual std::vector<std::unique_ptr<TDevice>> EnumerateDevices() = 0;
  // Second pass: one record per HID interface, found from the interfaces alone.
  virtual std::vector<std::unique_ptr<TDevice>> EnumerateInterfaces() = 0;

  // Overlapped handles take part in a connection; the others only answer queries.
  virtual HidOpenResult Open(const std::string& path, HidAccess access, bool shared,
                             bool overlapped) = 0;

  // The message shown to the user for one of the platform's error codes (errno values on Linux
  // and in the simulation).
  virtual std::string ErrorText(int error) { return std::strerror(error); }
};

}  // namespace quillet::hid
