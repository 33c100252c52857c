// Where no gettext reads the catalogue (Windows): the language the settings choose, and the
// compiled catalogue read from its bytes, the one the program carries among them.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "programmer/CatalogueLanguage.h"
#include "programmer/EmbeddedCatalogues.h"
#include "programmer/MoCatalogue.h"

namespace quillet::logtext {
namespace {

struct LanguageCase {
  LanguageSettings settings;
  std::string chosen;
};

TEST(CatalogueLanguage, SettingsChooseAsGettextDoesAndElseTheDisplayLanguage) {
  const std::string_view available[] = {"zh_CN"};
  const LanguageCase cases[] = {
      {{"", "", "", "", "zh-CN"}, "zh_CN"},                   // nothing set: Windows' display language
      {{"", "", "", "", "en-US"}, ""},
      {{"", "", "", "", "zh-TW"}, ""},                        // no catalogue for it, as gettext finds none
      {{"", "", "", "", ""}, ""},
      {{"zh_CN", "", "", "", "en-US"}, "zh_CN"},              // LANGUAGE first
      {{"de:zh_CN.UTF-8", "", "", "", "en-US"}, "zh_CN"},     // the first of the list that has one
      {{"en_US", "", "zh_CN.UTF-8", "", "zh-CN"}, ""},        // ... even where the locale says Chinese
      {{"", "", "zh_CN.UTF-8", "en_US.UTF-8", "en-US"}, "zh_CN"},
      {{"", "de_DE.UTF-8", "zh_CN.UTF-8", "", "zh-CN"}, ""},  // LC_ALL before LC_MESSAGES
      {{"zh_CN", "C", "", "", "zh-CN"}, ""},                  // plain C is English whatever else is set
      {{"zh_CN", "", "POSIX", "", "zh-CN"}, ""},
      {{"zh_CN", "", "C.UTF-8", "", "zh-CN"}, ""},
      {{"", "", "", "zh_CN.GB18030@pinyin", ""}, "zh_CN"},    // codeset and modifier are no part of the name
  };
  for (const LanguageCase& c : cases)
    EXPECT_EQ(ChooseCatalogue(c.settings, available), c.chosen)
        << "LANGUAGE=" << c.settings.language << " LC_ALL=" << c.settings.lcAll
        << " LC_MESSAGES=" << c.settings.lcMessages << " LANG=" << c.settings.lang << " UI=" << c.settings.userInterface;
  const std::string_view withLanguageOnly[] = {"zh"};
  EXPECT_EQ(ChooseCatalogue({"zh_CN", "", "", "", ""}, withLanguageOnly), "zh") << "the language alone is tried next";
}

// A catalogue as msgfmt lays it out, in either byte order, written by hand.
std::vector<uint8_t> Mo(const std::vector<std::pair<std::string, std::string>>& entries, bool bigEndian) {
  std::vector<uint8_t> out;
  auto word = [&](uint32_t w) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(w >> (bigEndian ? 24 - 8 * i : 8 * i)));
  };
  const uint32_t n = static_cast<uint32_t>(entries.size());
  const uint32_t originals = 28, translations = originals + 8 * n;
  uint32_t text = translations + 8 * n;
  std::string strings;
  std::vector<std::pair<uint32_t, uint32_t>> at[2];
  for (int side = 0; side < 2; ++side)
    for (const auto& e : entries) {
      const std::string& s = side ? e.second : e.first;
      at[side].emplace_back(static_cast<uint32_t>(s.size()), text + static_cast<uint32_t>(strings.size()));
      strings += s + '\0';
    }
  for (uint32_t w : {0x950412DEu, 0u, n, originals, translations, 0u, 0u}) word(w);
  for (int side = 0; side < 2; ++side)
    for (auto [length, offset] : at[side]) {
      word(length);
      word(offset);
    }
  out.insert(out.end(), strings.begin(), strings.end());
  return out;
}

TEST(MoCatalogue, FindsEachTranslationInEitherByteOrder) {
  const std::vector<std::pair<std::string, std::string>> entries = {
      {"", "Content-Type: text/plain; charset=UTF-8\n"},
      {"Verify passed", "校验通过"},
      {std::string("%d file\0%d files", 16), std::string("%d 个文件\0%d 个文件", 25)},
  };
  for (const bool bigEndian : {false, true}) {
    const auto catalogue = MoCatalogue::Read(Mo(entries, bigEndian));
    ASSERT_TRUE(catalogue) << bigEndian;
    EXPECT_EQ(catalogue->Size(), 2u) << "the header is no text";
    EXPECT_STREQ(catalogue->Find("Verify passed"), "校验通过");
    EXPECT_STREQ(catalogue->Find("%d file"), "%d 个文件") << "a plural entry by its singular";
    EXPECT_EQ(catalogue->Find("Verify failed"), nullptr);
    EXPECT_EQ(catalogue->Find(""), nullptr);
  }
}

TEST(MoCatalogue, BytesThatAreNoWholeCatalogueGiveNone) {
  const std::vector<uint8_t> good = Mo({{"a", "b"}}, false);
  ASSERT_TRUE(MoCatalogue::Read(good));
  struct Damage {
    const char* what;
    size_t at;  // the byte changed, or the length cut to
    int set;    // the byte's new value; -1: cut the bytes to `at`
  };
  const Damage damages[] = {
      {"nothing", 0, -1},
      {"shorter than its header", 20, -1},
      {"the last text without its NUL", 28 + 16 + 3, -1},
      {"no magic number", 0, 0x00},
      {"an original's offset past the end", 28 + 4 + 3, 0x10},
      {"a major revision this reader does not know", 6, 2},
  };
  for (const Damage& d : damages) {
    std::vector<uint8_t> bytes = good;
    if (d.set < 0) bytes.resize(d.at);
    else bytes.at(d.at) = static_cast<uint8_t>(d.set);
    EXPECT_FALSE(MoCatalogue::Read(bytes)) << d.what;
  }
}

TEST(EmbeddedCatalogues, TheProgramCarriesTheChineseCatalogueWhole) {
  // Singapore writes simplified Chinese as the mainland does and reads the same catalogue.
  ASSERT_EQ(EmbeddedCatalogues().size(), 2u);
  const char* const languages[] = {"zh_CN", "zh_SG"};
  for (size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(EmbeddedCatalogues()[i].language, languages[i]);
    const auto catalogue = MoCatalogue::Read(EmbeddedCatalogues()[i].bytes);
    ASSERT_TRUE(catalogue) << languages[i];
    EXPECT_STREQ(catalogue->Find("Chip connected!"), "芯片已连接！");
    EXPECT_STREQ(catalogue->Find("Programmer answered: firmware type %d version %d"),
                 "编程器通讯成功：固件类型%d 版本%d ");
  }
}

}  // namespace
}  // namespace quillet::logtext
