#pragma once
// The message catalogue of the Qt-free layers (the log and quillet-cli), one implementation per
// system (MessageCatalogue<System>.cpp).

#include <string>

#include "hex/FormatText.h"

namespace quillet::logtext {

// The English text in the language the environment names (LANGUAGE, LC_ALL, LC_MESSAGES and LANG,
// as gettext reads them; on Windows, where none is set, the user's display language), as UTF-8;
// the English text itself where the catalogue has none. The result lives as long as the program.
const char* Translate(const char* english);

// printf's formatting of an already chosen format.
template <class... Args>
std::string Format(const char* format, Args... args) {
  return FormatText(format, args...);
}

// The English printf format's translation, filled in. The catalogue's compiler checks that each
// translation takes the same arguments.
template <class... Args>
std::string Say(const char* englishFormat, Args... args) {
  return Format(Translate(englishFormat), args...);
}

}  // namespace quillet::logtext
