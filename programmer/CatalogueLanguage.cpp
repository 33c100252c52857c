#include "programmer/CatalogueLanguage.h"

#include <algorithm>
#include <vector>

namespace quillet::logtext {

namespace {

std::vector<std::string> Split(const std::string& list) {
  std::vector<std::string> names;
  size_t start = 0;
  for (size_t colon; (colon = list.find(':', start)) != std::string::npos; start = colon + 1)
    names.push_back(list.substr(start, colon - start));
  names.push_back(list.substr(start));
  return names;
}

// "zh_CN.UTF-8@pinyin" -> "zh_CN"; Windows writes "zh-CN".
std::string Bare(std::string name) {
  name = name.substr(0, name.find_first_of(".@"));
  std::replace(name.begin(), name.end(), '-', '_');
  return name;
}

}  // namespace

std::string ChooseCatalogue(const LanguageSettings& s, std::span<const std::string_view> catalogues) {
  const std::string& locale = !s.lcAll.empty() ? s.lcAll : !s.lcMessages.empty() ? s.lcMessages : s.lang;
  if (Bare(locale) == "C" || Bare(locale) == "POSIX") return {};
  const std::vector<std::string> names = !s.language.empty() ? Split(s.language)
                                         : !locale.empty()   ? std::vector<std::string>{locale}
                                                             : std::vector<std::string>{s.userInterface};
  for (const std::string& name : names) {
    const std::string whole = Bare(name);
    for (const std::string& tried : {whole, whole.substr(0, whole.find('_'))}) {
      if (tried.empty()) continue;
      if (std::find(catalogues.begin(), catalogues.end(), tried) != catalogues.end()) return tried;
    }
  }
  return {};
}

}  // namespace quillet::logtext
