#include "app/Translations.h"

#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <vector>

namespace quillet {

namespace {

// "<folder>/<name>_<language>.qm", from QLocale's languages in the user's order of preference.
void Install(QCoreApplication& app, const QString& name, const QString& folder) {
  auto* translator = new QTranslator(&app);
  if (translator->load(QLocale(), name, QStringLiteral("_"), folder))
    app.installTranslator(translator);
  else
    delete translator;
}

}  // namespace

void InstallTranslations(QCoreApplication& app) {
  // Qt's own texts (dialog buttons, the file dialog), where the system has them in that language.
  Install(app, QStringLiteral("qtbase"), QLibraryInfo::path(QLibraryInfo::TranslationsPath));
  Install(app, QStringLiteral("quillet"), QStringLiteral(":/i18n"));
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
