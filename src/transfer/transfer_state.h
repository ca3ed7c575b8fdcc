// TransferState: the flags and counters shared by the UI thread (start, Cancel, Pause),
// the transfer thread (TransferProc) and the reader thread (the receive processor).
// Every field is one atomic word written by one side and read by the other. Whoever
// changes a field that the transfer thread waits on calls Notify(), and the transfer
// thread waits with WaitFor(), so a wake-up is never lost and nothing spins. The reader
// thread notifies only for a change (Raise, Lower): a block that sets nothing new, such as
// region data inside a frame, wakes nobody.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "transfer/urt_file.h"

namespace tavrin::transfer {

enum class TransferMode : std::uint8_t { kUpload, kDownload };

struct TransferState {
  std::atomic<TransferMode> mode{TransferMode::kUpload};
  std::atomic<bool> running{false};
  std::atomic<bool> cancelRequest{false};
  std::atomic<bool> pause{false};
  std::atomic<bool> attention{false};
  std::atomic<bool> ackSeen{false};
  // Outlives a transfer: a ready flag left over makes the next transfer send the mode
  // command as soon as its attention phase ends.
  std::atomic<bool> ready{false};
  std::atomic<int> targetCode{0};
  std::atomic<bool> expectingAnswer{false};
  std::atomic<bool> verified{false};
  std::atomic<bool> answerComplete{false};  // wakes the who-am-I wait
  std::atomic<bool> captureHold{false};

  // Download fields.
  std::atomic<bool> receiving{false};
  std::atomic<bool> regionReady{false};
  std::atomic<bool> enqPending{false};
  std::atomic<bool> nakPending{false};
  std::atomic<bool> inFrame{false};

  // Sets or clears `flag`; true when that changed it (a change worth a Notify).
  static bool Raise(std::atomic<bool>& flag) { return !flag.exchange(true); }
  static bool Lower(std::atomic<bool>& flag) { return flag.exchange(false); }

  // Wakes the transfer thread after a change it may be waiting for.
  void Notify() {
    { std::lock_guard lock(mutex_); }
    changed_.notify_all();
    wakeups_.fetch_add(1, std::memory_order_relaxed);
  }
  // How often Notify was called: what the receive path costs the transfer thread.
  std::uint64_t Wakeups() const { return wakeups_.load(std::memory_order_relaxed); }

  // Waits until `done()` holds or `timeout` passes; returns done().
  template <typename Predicate>
  bool WaitFor(std::chrono::milliseconds timeout, Predicate done) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, done);
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::atomic<std::uint64_t> wakeups_{0};
};

}  // namespace tavrin::transfer
