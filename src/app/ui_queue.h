// UiQueue: calls handed over from any thread and run on the UI thread, in the order they
// were posted. The calls wait in a queue under a mutex; the event loop is woken once for
// all that arrive before it runs them, so a burst from a worker costs one wake-up. A call
// that opens a modal box holds the queue back until the box is closed, so nothing runs out
// of order. Create and destroy it on the UI thread; calls still queued then are dropped.
#pragma once

#include <QObject>
#include <deque>
#include <functional>
#include <mutex>

namespace tavrin::app {

class UiQueue final : public QObject {
  Q_OBJECT

 public:
  UiQueue() = default;

  // Any thread.
  void Post(std::function<void()> call);

  // Runs what is queued (the event loop calls it after a Post).
  Q_INVOKABLE void Drain();

 private:
  std::mutex mutex_;
  std::deque<std::function<void()>> calls_;
  bool wakePending_ = false;  // under mutex_: a Drain is already on its way
  bool draining_ = false;     // UI thread: a call of Drain is running
};

}  // namespace tavrin::app
