#pragma once
// A translated pattern filled in with its arguments, for the window's texts and the hex view's.

#include <QString>
#include <initializer_list>
#include <string>
#include <string_view>

namespace quillet {

// The pattern as UTF-8 with %1 to %9 replaced by the arguments in one pass, so that an argument's
// own "%1" stays as it is. The arguments' bytes are kept as they are: a file name need not be UTF-8.
std::string FillIn(const QString& pattern, std::initializer_list<std::string_view> args = {});

}  // namespace quillet
