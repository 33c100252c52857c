#pragma once
// The window's user texts in the user's language: English in the code, their translations in
// app/translations (Qt's .ts files, compiled into the program by lrelease), chosen by the locale
// as LANGUAGE, LC_ALL, LC_MESSAGES and LANG name it. A language without a translation reads
// English.

#include <QCoreApplication>
#include <QLocale>
#include <QTranslator>
#include <QString>
#include <initializer_list>
#include <string>
#include <string_view>

#include "widgets/TextFill.h"

namespace quillet {

// Loads the program's translation for the locale's language, if it has one, and Qt's own.
void InstallTranslations(QCoreApplication& app);

// The program's own translation for `locale`, as InstallTranslations chooses it; false for a
// language it has none for, which reads English.
bool LoadProgramTranslation(QTranslator& translator, const QLocale& locale);

// A user text kept in a constant: its English source, translated each time it is read, so that
// a constant made before the application exists still speaks the language chosen at start-up.
// Mark the source with QT_TRANSLATE_NOOP(context, ...) for lupdate.
struct UiText {
  const char* context;
  const char* source;
  QString Text() const { return QCoreApplication::translate(context, source); }
  operator QString() const { return Text(); }  // NOLINT: a text wherever a QString is taken
};

}  // namespace quillet
