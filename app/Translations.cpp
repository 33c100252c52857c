#include "app/Translations.h"

#include <QLocale>
#include <QTranslator>
#include <vector>

namespace quillet {

void InstallTranslations(QCoreApplication& app) {
  auto* translator = new QTranslator(&app);
  // ":/i18n/quillet_<language>.qm", from QLocale's languages in the user's order of preference.
  if (translator->load(QLocale(), QStringLiteral("quillet"), QStringLiteral("_"), QStringLiteral(":/i18n")))
    app.installTranslator(translator);
  else
    delete translator;
}

std::string FillIn(const QString& pattern, std::initializer_list<std::string_view> args) {
  const std::string text = pattern.toStdString();
  const std::vector<std::string_view> values(args);
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    const size_t n = i + 1 < text.size() ? static_cast<size_t>(text[i + 1] - '1') : values.size();
    if (text[i] == '%' && n < values.size()) {
      out += values[n];
      ++i;
    } else {
      out += text[i];
    }
  }
  return out;
}

}  // namespace quillet
