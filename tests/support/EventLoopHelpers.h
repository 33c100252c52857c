#pragma once
// Runs the main thread's event loop until a condition holds, for tests.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <functional>

namespace quillet::test {

// Generous: it only bounds how long a broken build takes to fail.
inline constexpr int kEventWaitMs = 20000;

inline bool PumpUntil(const std::function<bool()>& condition, int limitMs = kEventWaitMs) {
  if (condition()) return true;
  QElapsedTimer clock;
  clock.start();
  QEventLoop loop;
  QTimer poll;
  poll.setInterval(5);
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (condition() || clock.elapsed() > limitMs) loop.quit();
  });
  poll.start();
  loop.exec();
  return condition();
}

inline void PumpFor(int ms) {
  QElapsedTimer clock;
  clock.start();
  PumpUntil([&] { return clock.elapsed() >= ms; }, ms + 1000);
}

}  // namespace quillet::test
