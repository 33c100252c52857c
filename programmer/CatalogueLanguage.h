#pragma once
// Which catalogue the user's settings choose where no gettext chooses it for us (Windows): the
// environment as gettext reads it, else the user's display language. Pure, so it can be tested
// with any settings.

#include <span>
#include <string>
#include <string_view>

namespace quillet::logtext {

struct LanguageSettings {
  std::string language;     // LANGUAGE: a colon-separated list, first choice first
  std::string lcAll;        // LC_ALL, LC_MESSAGES and LANG: the locale, the first that is set
  std::string lcMessages;
  std::string lang;
  std::string userInterface;  // the system's display language, e.g. "zh-CN"
};

// The first of `catalogues` the settings name ("zh_CN"), or empty for English. LANGUAGE comes
// before the locale, which comes before the display language; a locale of plain C (or POSIX)
// means English whatever else is set. A name is tried whole (without codeset and modifier), then
// as its language alone, as gettext tries it.
std::string ChooseCatalogue(const LanguageSettings& settings, std::span<const std::string_view> catalogues);

}  // namespace quillet::logtext
