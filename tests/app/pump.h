// Waits in the window tests: the UI thread's event loop runs until a condition holds or a
// limit passes. It sleeps in the event loop until something arrives; it never spins.
#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>

namespace tavrin::app::testing {

template <typename Predicate>
bool PumpUntil(Predicate done, int limitMs = 10000) {
  QElapsedTimer timer;
  timer.start();
  while (!done()) {
    if (timer.elapsed() > limitMs) return false;
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
  }
  return true;
}

}  // namespace tavrin::app::testing
