#pragma once
// Trimming of header lines and list entries.

#include <string_view>

namespace quillet {

inline constexpr std::string_view kBlanks = " \t";

// The text without blanks at its front and without the characters of `back` at its end.
constexpr std::string_view TrimBlanks(std::string_view text, std::string_view back = kBlanks) {
  const auto first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  text.remove_prefix(first);
  const auto last = text.find_last_not_of(back);
  if (last == std::string_view::npos) return {};
  return text.substr(0, last + 1);
}

}  // namespace quillet
