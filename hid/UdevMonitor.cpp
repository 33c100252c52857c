#include "hid/UdevMonitor.h"

#include <libudev.h>

#include <cstring>
#include <optional>
#include <stdexcept>

#include "hid/ReadableWatch.h"

namespace quillet::hid {

UdevMonitor::UdevMonitor() {
  udev_ = udev_new();
  if (!udev_) throw std::runtime_error("udev is not available");
  monitor_ = udev_monitor_new_from_netlink(udev_, "udev");
  int rc = monitor_ ? udev_monitor_filter_add_match_subsystem_devtype(monitor_, "hidraw", nullptr) : -1;
  if (rc >= 0) rc = udev_monitor_enable_receiving(monitor_);
  std::string reason;
  if (rc < 0) {
    reason = std::string("cannot watch hidraw devices: ") + std::strerror(rc < -1 ? -rc : ENOTSUP);
  } else {
    try {
      watch_ = std::make_unique<ReadableWatch>(udev_monitor_get_fd(monitor_), [this] { TakeChanges(); });
    } catch (const std::exception& e) {
      reason = std::string("cannot watch hidraw devices: ") + e.what();
    }
  }
  if (!reason.empty()) {
    if (monitor_) udev_monitor_unref(monitor_);
    udev_unref(udev_);
    throw std::runtime_error(reason);
  }
}

UdevMonitor::~UdevMonitor() {
  watch_.reset();  // its thread receives from the monitor
  udev_monitor_unref(monitor_);
  udev_unref(udev_);
}

Subscription UdevMonitor::Subscribe(Post post, Listener listener) {
  return listeners_.Subscribe(std::move(post), std::move(listener));
}

void UdevMonitor::TakeChanges() {
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
    if (change) listeners_.Publish(*change);
  }
}

}  // namespace quillet::hid
