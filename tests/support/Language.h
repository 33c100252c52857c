#pragma once
// The language of the messages for a scope, chosen as a user's environment chooses it: LANGUAGE
// and LC_MESSAGES name the locale, and an LC_ALL that would override them is taken away. The
// environment is put back as it was when the scope ends. Not for tests that run threads of their
// own while the language changes.
//
// gettext keeps the texts it found for a locale name; a program that changes LANGUAGE while it
// runs must tell it to look them up anew, as the gettext manual shows, and so does this.

#include <cstdlib>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace quillet::test {

// The environment and the catalogue's memory of it, one file per system (LanguageLinux.cpp, ...).
// A variable without a value is removed.
void SetVariable(const std::string& name, const std::optional<std::string>& value);
// Makes the catalogue look its texts up anew after a change to the environment.
void RereadCatalogue();

class ScopedLanguage {
 public:
  // `language` as in LANGUAGE, e.g. "zh_CN" or "en_US"; its UTF-8 locale must be installed
  // (scripts/setup.sh installs both).
  explicit ScopedLanguage(const std::string& language) {
    Set("LANGUAGE", language);
    Set("LC_MESSAGES", language + ".UTF-8");
    Set("LC_ALL", std::nullopt);
    Reread();
  }
  ~ScopedLanguage() {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) SetVariable(it->first, it->second);
    Reread();
  }
  // Forgets the texts found so far, after a change to the environment.
  static void Reread() { RereadCatalogue(); }
  ScopedLanguage(const ScopedLanguage&) = delete;
  ScopedLanguage& operator=(const ScopedLanguage&) = delete;

 private:
  void Set(const char* name, const std::optional<std::string>& value) {
    const char* old = std::getenv(name);
    saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
    SetVariable(name, value);
  }
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

// Whether UTF-8 text holds a Chinese, Japanese or Korean character or full-width punctuation
// ("！", "：", "（"); text that is not UTF-8 counts as holding one.
inline bool HasCjk(const std::string& text) {
  for (size_t i = 0; i < text.size();) {
    const auto byte = static_cast<unsigned char>(text[i]);
    const size_t length = byte < 0x80 ? 1 : byte >> 5 == 0x6 ? 2 : byte >> 4 == 0xE ? 3 : byte >> 3 == 0x1E ? 4 : 0;
    if (length == 0 || i + length > text.size()) return true;
    char32_t point = length == 1 ? byte : byte & (0x7F >> length);
    for (size_t k = 1; k < length; ++k) point = point << 6 | (static_cast<unsigned char>(text[i + k]) & 0x3F);
    if ((point >= 0x2E80 && point <= 0x9FFF) || (point >= 0xAC00 && point <= 0xD7AF) ||
        (point >= 0xF900 && point <= 0xFAFF) || (point >= 0xFF00 && point <= 0xFFEF) || point >= 0x20000)
      return true;
    i += length;
  }
  return false;
}

// The runs of digits in a text, in order: what a translation must carry over unchanged.
inline std::vector<std::string> NumbersIn(const std::string& text) {
  std::vector<std::string> numbers;
  std::string digits;
  for (const char c : text + ' ') {
    if (c >= '0' && c <= '9') {
      digits += c;
    } else if (!digits.empty()) {
      numbers.push_back(digits);
      digits.clear();
    }
  }
  return numbers;
}

}  // namespace quillet::test
