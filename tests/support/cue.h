// A point where a fake stops until the test lets it go, as a host call would while the
// UI thread it waits for is busy: the test arms it, the fake's thread reaches Hold and
// stays there (at most kCueWait, so that a regression ends rather than hangs) until
// Release.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace tavrin::test {

inline constexpr auto kCueWait = std::chrono::seconds{5};

class Cue {
 public:
  void Arm() {
    std::lock_guard lock(mutex_);
    armed_ = true;
    reached_ = false;
  }
  // The fake's side: stops here while armed.
  void Hold() {
    std::unique_lock lock(mutex_);
    if (!armed_) return;
    reached_ = true;
    changed_.notify_all();
    changed_.wait_for(lock, kCueWait, [this] { return !armed_; });
  }
  bool WaitReached() {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, kCueWait, [this] { return reached_; });
  }
  void Release() {
    {
      std::lock_guard lock(mutex_);
      armed_ = false;
    }
    changed_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool armed_ = false;
  bool reached_ = false;
};

}  // namespace tavrin::test
