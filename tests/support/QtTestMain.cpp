// GoogleTest entry for the tests that need a Qt application on the main thread. The target that
// compiles it picks the application (tests/support/CMakeLists.txt): QCoreApplication by default,
// QApplication for widgets, or the window's own application for the window's tests. The window's
// translations are installed in each, as in the program.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>

#include "app/Translations.h"

#if defined(QUILLET_TEST_WINDOW_APPLICATION)
#include "app/ErrorBox.h"
using TestApplication = quillet::QuilletApplication;
#elif defined(QUILLET_TEST_WIDGETS_APPLICATION)
#include <QApplication>
using TestApplication = QApplication;
#else
#include <QCoreApplication>
using TestApplication = QCoreApplication;
#endif

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
#if defined(QUILLET_TEST_WINDOW_APPLICATION)
  // The window runs on a display when one is given (the hot key needs X11), else offscreen.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
#elif defined(QUILLET_TEST_WIDGETS_APPLICATION)
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
#endif
  // The tests talk to servers on 127.0.0.1; a proxy from the caller's environment must not
  // stand in between. Tests that exercise the environment set it themselves.
  for (const char* name : {"http_proxy", "https_proxy", "all_proxy", "ALL_PROXY", "no_proxy", "NO_PROXY"})
    unsetenv(name);
  TestApplication app(argc, argv);
  quillet::InstallTranslations(app);  // as the program does
  // The application took the whole locale from the environment. The system's own messages
  // (strerror) go back to the C locale's, as in the tests without a Qt application, so that the
  // tests that expect them read the same whichever language the program's texts are checked in;
  // the program's texts choose their language from the environment, not from this setting.
  std::setlocale(LC_MESSAGES, "C");
  return RUN_ALL_TESTS();
}
