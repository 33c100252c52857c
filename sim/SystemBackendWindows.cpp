// The system's devices on Windows: HID interfaces found through SetupAPI, and device
// notifications for plug and unplug.

#include <stdexcept>

#include "hid/WindowsDeviceChanges.h"
#include "hid/WindowsHidPlatform.h"
#include "sim/Backend.h"

namespace quillet {

std::optional<HidBackend> SystemHidBackend(std::string&) {
  HidBackend b;
  b.platform = std::make_shared<hid::WindowsHidPlatform>();
  try {
    b.changes = std::make_shared<hid::WindowsDeviceChanges>();
  } catch (const std::exception& e) {
    b.changesError = e.what();
  }
  return b;
}

}  // namespace quillet
