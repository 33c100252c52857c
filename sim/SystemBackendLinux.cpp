// The system's devices on Linux: hidraw nodes found through sysfs, and a udev monitor for plug
// and unplug.

#include <stdexcept>

#include "hid/LinuxHidPlatform.h"
#include "hid/UdevMonitor.h"
#include "sim/Backend.h"

namespace quillet {

std::optional<HidBackend> SystemHidBackend(std::string&) {
  HidBackend b;
  b.platform = std::make_shared<hid::LinuxHidPlatform>(hid::LinuxHidPathsFromEnvironment());
  try {
    b.changes = std::make_shared<hid::UdevMonitor>();
  } catch (const std::exception& e) {
    b.changesError = e.what();
  }
  return b;
}

}  // namespace quillet
