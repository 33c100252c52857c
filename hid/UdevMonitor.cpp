#include "hid/UdevMonitor.h"

#include <libudev.h>

#include <cstring>
#include <stdexcept>

namespace quillet::hid {

UdevMonitor::UdevMonitor() {
  udev_ = udev_new();
  if (!udev_) throw std::runtime_error("udev is not available");
  monitor_ = udev_monitor_new_from_netlink(udev_, "udev");
  int rc = monitor_ ? udev_monitor_filter_add_match_subsystem_devtype(monitor_, "hidraw", nullptr) : -1;
  if (rc >= 0) rc = udev_monitor_enable_receiving(monitor_);
  if (rc < 0) {
    const std::string reason = std::string("cannot watch hidraw devices: ") +
                               std::strerror(rc < -1 ? -rc : ENOTSUP);
    if (monitor_) udev_monitor_unref(monitor_);
    udev_unref(udev_);
    throw std::runtime_error(reason);
  }
}

UdevMonitor::~UdevMonitor() {
  udev_monitor_unref(monitor_);
  udev_unref(udev_);
}

int UdevMonitor::Fd() const { return udev_monitor_get_fd(monitor_); }

std::optional<DeviceChange> UdevMonitor::TakeChange() {
  // The monitor's socket is non-blocking: receive returns null when nothing is queued.
  while (udev_device* dev = udev_monitor_receive_device(monitor_)) {
    const char* action = udev_device_get_action(dev);
    const char* node = udev_device_get_devnode(dev);
    std::optional<DeviceChange> change;
    if (action && std::strcmp(action, "add") == 0) change = DeviceChange{DeviceChange::Added, ""};
    else if (action && std::strcmp(action, "remove") == 0)
      change = DeviceChange{DeviceChange::Removed, ""};
    if (change && node) change->node = node;
    udev_device_unref(dev);
    if (change) return change;
  }
  return std::nullopt;
}

}  // namespace quillet::hid
