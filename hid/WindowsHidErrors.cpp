#include "hid/WindowsHidErrors.h"

#include <windows.h>

#include <cerrno>
#include <cstring>

#include "component/WindowsText.h"

namespace quillet::hid {

HidErrorOfWindows HidErrorOfWindowsError(uint32_t windowsError) {
  switch (windowsError) {
    case ERROR_SHARING_VIOLATION:
      return {EBUSY, true};
    // A device unplugged under an open handle fails its transfers with one of these.
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEVICE_REMOVED:
    case ERROR_BAD_COMMAND:
    case ERROR_GEN_FAILURE:
      return {ENODEV, false};
    case ERROR_SEM_TIMEOUT:
    case WAIT_TIMEOUT:
      return {ETIMEDOUT, false};
    default:
      return {ErrnoOfWindowsError(windowsError), false};
  }
}

std::string HidErrorText(int error) {
  switch (error) {
    case EBUSY: return "the device is held by another program";
    case ENODEV: return "the device was removed";
    case EACCES: return "access to the device is denied";
    case ENOENT: return "no such device";
    default: return std::strerror(error);
  }
}

}  // namespace quillet::hid
