#pragma once
// Something that tells when HID devices come and go. Any number of listeners follow it, each on
// its own thread: every add and remove reaches every listener, in order, as a call it posted.

#include <string>

#include "hid/Listeners.h"

namespace quillet::hid {

struct DeviceChange {
  enum Kind { Added, Removed };
  Kind kind = Added;
  std::string node;  // the device node, e.g. /dev/hidraw3
};

class IDeviceChangeSource {
 public:
  using Listener = Listeners<DeviceChange>::Listener;
  virtual ~IDeviceChangeSource() = default;
  // Changes from now on; those before the call are not news to the listener.
  [[nodiscard]] virtual Subscription Subscribe(Post post, Listener listener) = 0;
};

}  // namespace quillet::hid
