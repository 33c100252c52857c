// GoogleTest entry for tests that need a Qt event loop on the main thread.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <cstdlib>

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  // The tests talk to servers on 127.0.0.1; a proxy from the caller's environment must not
  // stand in between. Tests that exercise the environment set it themselves.
  for (const char* name : {"http_proxy", "https_proxy", "all_proxy", "ALL_PROXY", "no_proxy", "NO_PROXY"})
    unsetenv(name);
  QCoreApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
