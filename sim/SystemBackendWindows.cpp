// The system's devices on Windows: no HID backend is built for Windows yet, so only the simulated
// programmer can be used there.

#include "sim/Backend.h"

namespace quillet {

std::optional<HidBackend> SystemHidBackend(std::string& error) {
  error = "this build cannot use the system's HID devices yet; --simulate runs over the simulated programmer";
  return std::nullopt;
}

}  // namespace quillet
