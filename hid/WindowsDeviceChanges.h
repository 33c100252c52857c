#pragma once
// Follows HID devices being added and removed on Windows: a message-only window of its own thread
// registered for the HID interface class's arrivals and removals (WM_DEVICECHANGE). Windows 8's
// CM_Register_Notification would need no window, but Wine, which the tests run under, lacks it.

#include <cstdint>
#include <optional>
#include <thread>

#include "hid/DeviceChangeSource.h"

namespace quillet::hid {

class WindowsDeviceChanges : public IDeviceChangeSource {
 public:
  // Throws std::runtime_error with the reason when the window cannot be set up.
  WindowsDeviceChanges();
  ~WindowsDeviceChanges() override;
  WindowsDeviceChanges(const WindowsDeviceChanges&) = delete;
  WindowsDeviceChanges& operator=(const WindowsDeviceChanges&) = delete;

  Subscription Subscribe(Post post, Listener listener) override;

  // The change one WM_DEVICECHANGE message tells of (its wParam and lParam), if it is an arrival
  // or removal of a device interface; nothing for every other message.
  static std::optional<DeviceChange> ChangeOfMessage(uintptr_t event, const void* broadcast);

 private:
  Listeners<DeviceChange> listeners_;
  void* window_ = nullptr;  // the HWND, owned by the thread
  std::thread thread_;
};

}  // namespace quillet::hid
