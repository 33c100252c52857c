#include "app/Translations.h"

#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

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

}  // namespace quillet
