#pragma once
// Windows only: our strings are UTF-8, Windows' own calls take UTF-16; and its error codes, for
// callers that report errno values on every system.

#include <string>

namespace quillet {

std::wstring WidenUtf8(const std::string& text);
std::string NarrowToUtf8(const std::wstring& text);

// The errno value closest to a GetLastError code (EIO where none is close).
int ErrnoOfWindowsError(unsigned long error);

}  // namespace quillet
