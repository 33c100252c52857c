#pragma once
// The window's texts in English for a scope, in a test binary that runs under another language:
// the application's translators are taken away and put back in the same order when the scope
// ends, and the environment names English for the log's catalogue (ScopedLanguage).

#include <QCoreApplication>
#include <QTranslator>
#include <vector>

#include "tests/support/Language.h"

namespace quillet::test {

class ScopedEnglishWindow {
 public:
  ScopedEnglishWindow() : language_("en_US") {
    for (QTranslator* translator : QCoreApplication::instance()->findChildren<QTranslator*>())
      if (QCoreApplication::removeTranslator(translator)) removed_.push_back(translator);
  }
  ~ScopedEnglishWindow() {
    for (QTranslator* translator : removed_) QCoreApplication::installTranslator(translator);
  }
  ScopedEnglishWindow(const ScopedEnglishWindow&) = delete;
  ScopedEnglishWindow& operator=(const ScopedEnglishWindow&) = delete;

 private:
  ScopedLanguage language_;
  std::vector<QTranslator*> removed_;
};

}  // namespace quillet::test
