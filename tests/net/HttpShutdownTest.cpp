// The program's end while its update query waits on the network, tested on a separate process.
// Kept apart from the client tests: starting a process from a process with threads upsets
// ThreadSanitizer's view of the threads' later locking.

#include <gtest/gtest.h>

#include <QProcess>

namespace quillet {
namespace {

// The program must end promptly once its window closes, even while the update query's name
// lookup hangs: the probe quits while its resolver never answers.
TEST(HttpClientShutdownDuringLookup, TheProcessEndsPromptlyAfterTheWindowCloses) {
  QProcess probe;
  probe.start(QUILLET_LOOKUP_QUIT_PROBE, {});
  ASSERT_TRUE(probe.waitForStarted(5000));
  bool pending = false;
  while (!pending && probe.waitForReadyRead(15000))
    pending = probe.readAllStandardOutput().contains("lookup pending");
  if (!pending && probe.waitForFinished(5000) && probe.exitCode() == 77)
    GTEST_SKIP() << "no private network namespace can be made here";
  ASSERT_TRUE(pending) << probe.readAllStandardError().toStdString();
  probe.write("quit\n");
  probe.closeWriteChannel();
  // Hang guard only: waiting for the lookup would take the whole five-second wait limit.
  const bool ended = probe.waitForFinished(2000);
  if (!ended) {
    probe.kill();
    probe.waitForFinished(10000);
  }
  EXPECT_TRUE(ended) << probe.readAllStandardOutput().toStdString();
  EXPECT_EQ(probe.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(probe.exitCode(), 0) << probe.readAllStandardError().toStdString();
}

}  // namespace
}  // namespace quillet
