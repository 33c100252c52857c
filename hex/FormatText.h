#pragma once
// printf's formatting into a string, the one home of it for every layer's texts. Translations
// reorder their arguments with POSIX's "%2$s"; not every C library knows that form (Windows'
// does not), so a format that uses it is taken apart here and each directive formatted alone.

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>

namespace quillet {

namespace format_detail {

// One argument formatted by one directive that has no "n$".
using ArgumentFormatter = std::string (*)(const std::string& directive, const void* argument);

template <class... Args>
std::string Plain(const char* format, Args... args) {
  const int length = std::snprintf(nullptr, 0, format, args...);
  if (length <= 0) return {};
  std::string text(static_cast<std::size_t>(length), '\0');
  std::snprintf(text.data(), text.size() + 1, format, args...);
  return text;
}

template <class T>
std::string FormatOne(const std::string& directive, const void* argument) {
  return Plain(directive.c_str(), *static_cast<const T*>(argument));
}

// `format` with its "%n$" directives filled from arguments[n-1]. A directive naming no argument is
// copied as it stands.
std::string Positional(const char* format, const ArgumentFormatter* formatters, const void* const* arguments,
                       std::size_t count);

}  // namespace format_detail

template <class... Args>
std::string FormatText(const char* format, Args... args) {
  if constexpr (sizeof...(Args) > 0) {
    if (std::strchr(format, '$')) {
      const format_detail::ArgumentFormatter formatters[] = {&format_detail::FormatOne<Args>...};
      const void* const arguments[] = {&args...};
      return format_detail::Positional(format, formatters, arguments, sizeof...(Args));
    }
  }
  return format_detail::Plain(format, args...);
}

}  // namespace quillet
