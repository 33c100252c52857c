#pragma once
// The hex layer's messages in the user's language: the caller passes its message catalogue's
// lookup, and the layer itself stays free of one.

#include <string>

#include "hex/FormatText.h"

namespace quillet {

// The user's language for an English text (a printf format); the English text itself when there is
// no translation.
using TextLookup = const char* (*)(const char* english);

// The English text, looked up when there is a lookup.
inline std::string LookedUp(TextLookup lookup, const char* english) { return lookup ? lookup(english) : english; }

// The English printf format, looked up when there is a lookup, filled in.
template <class... Args>
std::string LookedUp(TextLookup lookup, const char* english, Args... args) {
  return FormatText(lookup ? lookup(english) : english, args...);
}

}  // namespace quillet
