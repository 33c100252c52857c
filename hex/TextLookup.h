#pragma once
// The hex layer's messages in the user's language: the caller passes its message catalogue's
// lookup, and the layer itself stays free of one.

#include <cstddef>
#include <cstdio>
#include <string>

namespace quillet {

// The user's language for an English text (a printf format); the English text itself when there is
// no translation.
using TextLookup = const char* (*)(const char* english);

// The English text, looked up when there is a lookup.
inline std::string LookedUp(TextLookup lookup, const char* english) { return lookup ? lookup(english) : english; }

// printf's formatting into a string: the one home of it for every layer's texts.
template <class... Args>
std::string FormatText(const char* format, Args... args) {
  const int length = std::snprintf(nullptr, 0, format, args...);
  if (length <= 0) return {};
  std::string text(static_cast<std::size_t>(length), '\0');
  std::snprintf(text.data(), text.size() + 1, format, args...);
  return text;
}

// The English printf format, looked up when there is a lookup, filled in.
template <class... Args>
std::string LookedUp(TextLookup lookup, const char* english, Args... args) {
  return FormatText(lookup ? lookup(english) : english, args...);
}

}  // namespace quillet
