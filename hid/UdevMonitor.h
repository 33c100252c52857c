#pragma once
// Follows hidraw devices being added and removed, over a libudev monitor.

#include <memory>
#include <string>

#include "hid/DeviceChangeSource.h"

struct udev;
struct udev_monitor;

namespace quillet::hid {

class UdevMonitor : public IDeviceChangeSource {
 public:
  // Throws std::runtime_error with the reason when the monitor cannot be set up.
  UdevMonitor();
  ~UdevMonitor() override;
  UdevMonitor(const UdevMonitor&) = delete;
  UdevMonitor& operator=(const UdevMonitor&) = delete;

  int Fd() const override;
  // Other actions (change, bind, ...) are consumed and skipped: only add and remove are reported.
  std::optional<DeviceChange> TakeChange() override;

 private:
  udev* udev_ = nullptr;
  udev_monitor* monitor_ = nullptr;
};

}  // namespace quillet::hid
