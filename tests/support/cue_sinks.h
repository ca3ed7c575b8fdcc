// An output window that stops on cue, as one whose UI thread is busy elsewhere leaves the
// thread that feeds it: every call is recorded in order ("\f" stands for a ClearOutput),
// and Show holds at `show` while it is armed.
#pragma once

#include <condition_variable>
#include <mutex>
#include <string>

#include "support/cue.h"
#include "terminal/output_sink.h"

namespace tavrin::test {

class CueOutput final : public terminal::OutputSink {
 public:
  void Show(std::span<const std::uint8_t> bytes, terminal::ColourMark) override {
    Record(std::string(bytes.begin(), bytes.end()));
    show.Hold();
  }
  void ClearOutput() override { Record("\f"); }

  // Waits until the calls, joined, contain `text`.
  bool WaitFor(const std::string& text) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, kCueWait,
                             [&] { return calls_.find(text) != std::string::npos; });
  }
  std::string Calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
  }

  Cue show;

 private:
  void Record(const std::string& call) {
    {
      std::lock_guard lock(mutex_);
      calls_ += call;
    }
    changed_.notify_all();
  }

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::string calls_;
};

}  // namespace tavrin::test
