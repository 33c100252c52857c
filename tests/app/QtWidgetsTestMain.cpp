// GoogleTest entry for tests that need a QApplication. Without a display they run on the
// offscreen platform.
#include <gtest/gtest.h>

#include <cstdlib>

#include "app/ErrorBox.h"

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  // The update query must reach the test's own address, never a proxy of the caller's.
  for (const char* name : {"http_proxy", "https_proxy", "all_proxy", "ALL_PROXY", "no_proxy", "NO_PROXY"})
    unsetenv(name);
  quillet::QuilletApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
