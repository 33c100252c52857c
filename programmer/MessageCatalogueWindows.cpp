#include <windows.h>

#include <cstdlib>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "programmer/CatalogueLanguage.h"
#include "programmer/EmbeddedCatalogues.h"
#include "programmer/MessageCatalogue.h"
#include "programmer/MoCatalogue.h"

namespace quillet::logtext {

namespace {

std::string Variable(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

// The user's display language as Windows names it ("zh-CN"), or empty.
std::string DisplayLanguage() {
  wchar_t name[LOCALE_NAME_MAX_LENGTH] = {};
  const LCID lcid = MAKELCID(::GetUserDefaultUILanguage(), SORT_DEFAULT);
  if (::LCIDToLocaleName(lcid, name, LOCALE_NAME_MAX_LENGTH, 0) == 0) return {};
  std::string ascii;
  for (const wchar_t* c = name; *c; ++c) ascii += static_cast<char>(*c & 0x7F);
  return ascii;
}

}  // namespace

// The catalogues built into the program, read once each. The language is chosen at each lookup,
// as gettext does, so a change to the environment takes effect at once.
const char* Translate(const char* english) {
  static std::mutex mutex;
  static std::map<std::string, std::optional<MoCatalogue>> read;
  static const std::string display = DisplayLanguage();
  std::lock_guard lock(mutex);
  std::vector<std::string_view> names;
  for (const EmbeddedCatalogue& c : EmbeddedCatalogues()) names.push_back(c.language);
  const std::string language = ChooseCatalogue(
      {Variable("LANGUAGE"), Variable("LC_ALL"), Variable("LC_MESSAGES"), Variable("LANG"), display}, names);
  if (language.empty()) return english;
  auto it = read.find(language);
  if (it == read.end()) {
    for (const EmbeddedCatalogue& c : EmbeddedCatalogues())
      if (c.language == language) it = read.emplace(language, MoCatalogue::Read(c.bytes)).first;
  }
  const char* text = it->second ? it->second->Find(english) : nullptr;
  return text ? text : english;
}

}  // namespace quillet::logtext
