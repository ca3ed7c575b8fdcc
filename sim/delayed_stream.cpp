#include "sim/delayed_stream.h"

#include <utility>

namespace tavrin::sim {

DelayedStream::DelayedStream(Stream& inner, std::chrono::milliseconds delay, PaceClock& clock)
    : inner_(inner),
      delay_(delay),
      clock_(clock),
      delivery_([this](std::stop_token stop) { Deliver(std::move(stop)); }) {}

DelayedStream::~DelayedStream() {
  delivery_.request_stop();
  delivery_.join();
}

long DelayedStream::Read(std::span<std::uint8_t> into, std::chrono::milliseconds timeout) {
  return inner_.Read(into, timeout);
}

bool DelayedStream::Write(std::span<const std::uint8_t> bytes) {
  const auto due = clock_.Now() + delay_;
  {
    std::lock_guard lock(mutex_);
    if (gone_) return false;
    held_.push_back({{bytes.begin(), bytes.end()}, due});
  }
  added_.notify_one();
  return true;
}

// Due times only grow, so the oldest held bytes are always the next to go.
void DelayedStream::Deliver(std::stop_token stop) {
  std::unique_lock lock(mutex_);
  while (added_.wait(lock, stop, [this] { return !held_.empty(); })) {
    const auto due = held_.front().due;
    lock.unlock();
    clock_.SleepUntil(due);  // at most one delay, so a stop is seen soon enough
    lock.lock();
    if (stop.stop_requested()) return;
    Held next = std::move(held_.front());
    held_.pop_front();
    lock.unlock();
    const bool written = inner_.Write(next.bytes);
    lock.lock();
    if (!written) {
      gone_ = true;
      held_.clear();
    }
  }
}

}  // namespace tavrin::sim
