#include "app/Translations.h"

#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace quillet {

namespace {

// "<folder>/<name>_<language>.qm", from the locale's languages in the user's order of preference.
bool Load(QTranslator& translator, const QLocale& locale, const QString& name, const QString& folder) {
  return translator.load(locale, name, QStringLiteral("_"), folder);
}

void Install(QCoreApplication& app, const QString& name, const QString& folder) {
  auto* translator = new QTranslator(&app);
  if (Load(*translator, QLocale(), name, folder))
    app.installTranslator(translator);
  else
    delete translator;
}

const QString kProgramTranslations = QStringLiteral(":/i18n");

}  // namespace

void InstallTranslations(QCoreApplication& app) {
  // Qt's own texts (dialog buttons, the file dialog), where the system has them in that language.
  Install(app, QStringLiteral("qtbase"), QLibraryInfo::path(QLibraryInfo::TranslationsPath));
  Install(app, QStringLiteral("quillet"), kProgramTranslations);
}

bool LoadProgramTranslation(QTranslator& translator, const QLocale& locale) {
  return Load(translator, locale, QStringLiteral("quillet"), kProgramTranslations);
}

}  // namespace quillet
