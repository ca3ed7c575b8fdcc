// How a whole station is stopped, and its count of units. The first stop (the operator's
// first Ctrl+C, or --units reached) lets units in progress end and stops every port that
// only waits; the second cancels the units in progress too.
//
// Threads: any. Listeners are added before the ports' threads start and are called on the
// thread that stops the station; a listener only wakes its port (it never waits).
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

namespace tavrin::station {

class StationControl {
 public:
  enum class Stage { kRun, kFinish, kCancel };

  // `unitsLimit`: the station finishes once this many units have been recorded.
  explicit StationControl(std::optional<unsigned> unitsLimit = std::nullopt)
      : unitsLimit_(unitsLimit) {}

  Stage Current() const { return stage_.load(); }
  bool Running() const { return Current() == Stage::kRun; }
  void Finish() { Raise(Stage::kFinish); }
  void Cancel() { Raise(Stage::kCancel); }
  // The next stop: Finish, then Cancel.
  void StopFurther() { Raise(Current() == Stage::kRun ? Stage::kFinish : Stage::kCancel); }

  void Listen(std::function<void()> wake) { listeners_.push_back(std::move(wake)); }

  // A unit has been recorded; finishes the station when the limit is reached. Returns
  // the units recorded so far.
  unsigned UnitRecorded() {
    const unsigned units = ++units_;
    if (unitsLimit_ && units >= *unitsLimit_) Finish();
    return units;
  }
  unsigned Units() const { return units_.load(); }
  bool LimitReached() const { return unitsLimit_ && units_.load() >= *unitsLimit_; }

 private:
  void Raise(Stage stage) {
    {
      std::lock_guard lock(mutex_);
      if (stage_.load() >= stage) return;
      stage_ = stage;
    }
    for (const auto& wake : listeners_) wake();
  }

  const std::optional<unsigned> unitsLimit_;
  std::mutex mutex_;
  std::atomic<Stage> stage_{Stage::kRun};
  std::atomic<unsigned> units_{0};
  std::vector<std::function<void()>> listeners_;
};

}  // namespace tavrin::station
