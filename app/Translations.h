#pragma once
// The window's user texts in the user's language: English in the code, their translations in
// app/translations (Qt's .ts files, compiled into the program by lrelease), chosen by the locale
// as LANGUAGE, LC_ALL, LC_MESSAGES and LANG name it. A language without a translation reads
// English.

#include <QCoreApplication>
#include <QString>
#include <initializer_list>
#include <string>
#include <string_view>

namespace quillet {

// Loads the program's translation for the locale's language, if it has one, and Qt's own.
void InstallTranslations(QCoreApplication& app);

// A user text kept in a constant: its English source, translated each time it is read, so that
// a constant made before the application exists still speaks the language chosen at start-up.
// Mark the source with QT_TRANSLATE_NOOP(context, ...) for lupdate.
struct UiText {
  const char* context;
  const char* source;
  QString Text() const { return QCoreApplication::translate(context, source); }
  operator QString() const { return Text(); }  // NOLINT: a text wherever a QString is taken
};

// The pattern as UTF-8 with %1 to %9 replaced by the arguments in one pass, so that an argument's
// own "%1" stays as it is. The arguments' bytes are kept as they are: a file name need not be UTF-8.
std::string FillIn(const QString& pattern, std::initializer_list<std::string_view> args = {});

}  // namespace quillet
