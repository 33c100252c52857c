#pragma once
// The hook through which a part hands a line to the activity log; every part that logs takes it.

#include <functional>
#include <string>

namespace quillet {

using AppendLogHook = std::function<void(const std::string& text)>;

}  // namespace quillet
