#pragma once
// How the Windows HID backend reports a Win32 error: as the errno value the HID component and the
// programmer layer take on every system, so a device held by another program, one this user may
// not open and one that has been unplugged read the same as on Linux.

#include <cstdint>
#include <string>

namespace quillet::hid {

struct HidErrorOfWindows {
  int error = 0;                   // errno value
  bool sharingViolation = false;   // another program holds the device exclusively
};

HidErrorOfWindows HidErrorOfWindowsError(uint32_t windowsError);

// The user's message for one of those errno values: the C library's words, but for the cases a
// programmer's user meets, which say what happened in Windows' terms.
std::string HidErrorText(int error);

}  // namespace quillet::hid
