#include "hex/FormatText.h"

#include <cctype>
#include <cstdlib>

namespace quillet::format_detail {

namespace {

bool IsDigit(char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }

}  // namespace

std::string Positional(const char* format, const ArgumentFormatter* formatters, const void* const* arguments,
                       std::size_t count) {
  std::string text;
  std::size_t next = 0;  // for a directive without "n$"
  for (const char* p = format; *p;) {
    if (*p != '%') {
      text += *p++;
      continue;
    }
    if (p[1] == '%') {
      text += '%';
      p += 2;
      continue;
    }
    const char* start = p++;
    std::size_t index = next;
    const char* digits = p;
    while (IsDigit(*p)) ++p;
    if (*p == '$' && p != digits) {
      index = static_cast<std::size_t>(std::strtoul(digits, nullptr, 10)) - 1;
      ++p;
    } else {
      p = digits;
    }
    // Flags, width, precision and length, then the conversion itself.
    std::string directive = "%";
    while (*p && std::strchr("-+ #0'123456789.hlLqjzt", *p)) directive += *p++;
    if (!*p) {
      text.append(start);
      break;
    }
    directive += *p++;
    if (index < count) {
      text += formatters[index](directive, arguments[index]);
      next = index + 1;
    } else {
      text.append(start, p);
    }
  }
  return text;
}

}  // namespace quillet::format_detail
