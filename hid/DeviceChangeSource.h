#pragma once
// Something that tells when HID devices come and go, through a file descriptor an event loop can
// watch: when it is readable, TakeChange returns what happened, one change per call.

#include <optional>
#include <string>

namespace quillet::hid {

struct DeviceChange {
  enum Kind { Added, Removed };
  Kind kind = Added;
  std::string node;  // the device node, e.g. /dev/hidraw3
};

class IDeviceChangeSource {
 public:
  virtual ~IDeviceChangeSource() = default;
  virtual int Fd() const = 0;
  // The next pending change, or nothing when none is waiting; never blocks.
  virtual std::optional<DeviceChange> TakeChange() = 0;
};

}  // namespace quillet::hid
