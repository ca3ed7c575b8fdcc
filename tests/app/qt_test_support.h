// Helpers of the dialog tests: QString in failure messages, and bounded, event-driven
// waits (the event loop runs until a signal brings the awaited state, or the limit passes).
#pragma once

#include <QEventLoop>
#include <QObject>
#include <QString>
#include <QTimer>
#include <chrono>
#include <functional>
#include <ostream>

// GoogleTest prints a QString as its text.
inline void PrintTo(const QString& text, std::ostream* out) {
  *out << '"' << text.toStdString() << '"';
}

namespace tavrin::app::testing {

inline constexpr auto kSignalWaitLimit = std::chrono::seconds{5};

// Runs the event loop until `done()` holds, looking again each time `sender` emits
// `signal`; false when the limit passed first.
template <typename Sender, typename Signal>
bool WaitUntil(Sender* sender, Signal signal, const std::function<bool()>& done,
               std::chrono::milliseconds limit = kSignalWaitLimit) {
  if (done()) return true;
  QEventLoop loop;
  QTimer deadline;
  deadline.setSingleShot(true);
  QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
  QObject::connect(sender, signal, &loop, [&] {
    if (done()) loop.quit();
  });
  deadline.start(limit);
  loop.exec();
  return done();
}

}  // namespace tavrin::app::testing
