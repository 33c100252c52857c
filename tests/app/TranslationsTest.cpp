// The window's translation file and the filling in of its texts.
#include "app/Translations.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QFile>
#include <QRegularExpression>
#include <QXmlStreamReader>
#include <string>
#include <vector>

#include "programmer/MessageCatalogue.h"
#include "tests/support/Language.h"
#include "widgets/HexFile.h"

namespace quillet {
namespace {

struct FillCase {
  const char* name;
  const char* pattern;  // UTF-8
  std::vector<std::string> args;
  std::string filled;
};
void PrintTo(const FillCase& c, std::ostream* os) { *os << c.name; }
class FillInTest : public ::testing::TestWithParam<FillCase> {};

TEST_P(FillInTest, ReplacesEachPlaceholderOnceAndKeepsTheArgumentsBytes) {
  const FillCase& c = GetParam();
  const std::vector<std::string_view> views(c.args.begin(), c.args.end());
  std::string filled;
  switch (views.size()) {
    case 0: filled = FillIn(QString::fromUtf8(c.pattern)); break;
    case 1: filled = FillIn(QString::fromUtf8(c.pattern), {views[0]}); break;
    default: filled = FillIn(QString::fromUtf8(c.pattern), {views[0], views[1]}); break;
  }
  EXPECT_EQ(filled, c.filled);
}

INSTANTIATE_TEST_SUITE_P(
    Patterns, FillInTest,
    ::testing::Values(
        FillCase{"InOrder", "%1  %2 bytes", {"a.bin", "16"}, "a.bin  16 bytes"},
        FillCase{"OutOfOrder", "%2 then %1", {"a", "b"}, "b then a"},
        FillCase{"AnArgumentsOwnPlaceholderStays", "%1 and %2", {"x%2", "y"}, "x%2 and y"},
        FillCase{"FileNameThatIsNotUtf8", "载入文件%1", {"/tmp/\xff\xfe.bin"}, "载入文件/tmp/\xff\xfe.bin"},
        FillCase{"PlaceholderWithoutArgument", "%1 %3", {"x"}, "x %3"},
        FillCase{"PercentAtTheEnd", "100%", {}, "100%"},
        FillCase{"TrailingBlanksKept", "获取版本信息失败  ", {}, "获取版本信息失败  "}),
    [](const auto& info) { return std::string(info.param.name); });

// Every text of the file is translated, the English has no Chinese in it, and both have the same
// placeholders, so no argument is lost or doubled in either language.
TEST(TranslationFile, EveryMessageIsTranslatedWithTheSamePlaceholders) {
  QFile file(QStringLiteral(QUILLET_TS_FILE));
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  QXmlStreamReader xml(&file);
  static const QRegularExpression placeholder(QStringLiteral("%[1-9]"));
  const auto placeholders = [](const QString& text) {
    std::vector<std::string> found;
    for (auto it = placeholder.globalMatch(text); it.hasNext();) found.push_back(it.next().captured().toStdString());
    std::sort(found.begin(), found.end());
    return found;
  };
  int messages = 0;
  QString source;
  while (!xml.atEnd()) {
    if (xml.readNext() != QXmlStreamReader::StartElement) continue;
    if (xml.name() == QLatin1String("source")) {
      source = xml.readElementText();
    } else if (xml.name() == QLatin1String("translation")) {
      EXPECT_TRUE(xml.attributes().value(QLatin1String("type")).isEmpty())
          << "unfinished or obsolete: " << source.toStdString();
      const QString translation = xml.readElementText();
      ++messages;
      EXPECT_FALSE(translation.isEmpty()) << source.toStdString();
      EXPECT_FALSE(test::HasCjk(source.toStdString())) << source.toStdString();
      EXPECT_EQ(placeholders(translation), placeholders(source)) << source.toStdString();
    }
  }
  EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString();
  EXPECT_GT(messages, 0);
}

// Singapore reads simplified Chinese, as the mainland does; Taiwan and Hong Kong, which write
// traditional Chinese, read English. The window's translation and the log's catalogue agree.
TEST(Regions, TheWindowAndTheLogChooseTheSameLanguage) {
  const struct {
    const char* locale;
    bool chinese;
  } regions[] = {{"zh_CN", true}, {"zh_SG", true}, {"zh_TW", false}, {"zh_HK", false}, {"en_US", false}};
  for (const auto& region : regions) {
    QTranslator translator;
    const bool loaded = LoadProgramTranslation(translator, QLocale(QString::fromLatin1(region.locale)));
    EXPECT_EQ(loaded, region.chinese) << region.locale;
    if (loaded) {
      EXPECT_TRUE(test::HasCjk(translator.translate("HexFile", widgets::kCannotOpen).toStdString()))
          << region.locale;
    }
    test::ScopedLanguage language(region.locale);
    EXPECT_EQ(test::HasCjk(logtext::Translate("Chip connected!")), region.chinese) << region.locale;
  }
}

}  // namespace
}  // namespace quillet
