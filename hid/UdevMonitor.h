#pragma once
// Follows hidraw devices being added and removed, over a libudev monitor watched by a thread of
// its own.

#include <memory>
#include <string>

#include "hid/DeviceChangeSource.h"

struct udev;
struct udev_monitor;

namespace quillet::hid {

class ReadableWatch;

class UdevMonitor : public IDeviceChangeSource {
 public:
  // Throws std::runtime_error with the reason when the monitor cannot be set up.
  UdevMonitor();
  ~UdevMonitor() override;
  UdevMonitor(const UdevMonitor&) = delete;
  UdevMonitor& operator=(const UdevMonitor&) = delete;

  Subscription Subscribe(Post post, Listener listener) override;

 private:
  // Other actions (change, bind, ...) are consumed and skipped: only add and remove are reported.
  void TakeChanges();

  udev* udev_ = nullptr;
  udev_monitor* monitor_ = nullptr;
  Listeners<DeviceChange> listeners_;
  std::unique_ptr<ReadableWatch> watch_;
};

}  // namespace quillet::hid
