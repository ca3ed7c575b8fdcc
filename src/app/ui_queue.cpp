#include "app/ui_queue.h"

#include <QMetaObject>

namespace tavrin::app {

void UiQueue::Post(std::function<void()> call) {
  bool wake = false;
  {
    std::lock_guard lock(mutex_);
    calls_.push_back(std::move(call));
    wake = !wakePending_;
    wakePending_ = true;
  }
  // Invoked by name: the event carries no data of ours, the queue above carries the calls.
  if (wake) QMetaObject::invokeMethod(this, "Drain", Qt::QueuedConnection);
}

void UiQueue::Drain() {
  if (draining_) return;  // a modal box inside a call: the outer Drain goes on after it
  draining_ = true;
  for (;;) {
    std::function<void()> call;
    {
      std::lock_guard lock(mutex_);
      if (calls_.empty()) {
        wakePending_ = false;
        break;
      }
      call = std::move(calls_.front());
      calls_.pop_front();
    }
    call();
  }
  draining_ = false;
}

}  // namespace tavrin::app
