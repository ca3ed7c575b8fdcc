// The pieces a port's run is built from beside the engine: its temporary directory, the
// line trace (--trace) with --confirm's watch for a refusal, and the COM test's receiver.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <utility>

#include "cli/cli_console.h"
#include "core/port_core.h"
#include "serial/com_test.h"

namespace tavrin::cli {

using PartsClock = std::chrono::steady_clock;

// A private temporary directory for the port, removed at its end unless kept.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  // Empty when it could not be made.
  const std::filesystem::path& Path() const { return path_; }
  // Why it could not be made (the system's text).
  const std::string& Error() const { return error_; }
  // Where it is made: $TMPDIR, else /tmp.
  static std::filesystem::path Base();

 private:
  std::filesystem::path path_;
  std::string error_;
};

// --trace: every byte on the line, hex, with the time since the start, one console write
// a block (a call per byte would slow the line it is meant to show).
class Tracer {
 public:
  Tracer(bool enabled, Console& console, std::string tag)
      : enabled_(enabled), console_(console), tag_(std::move(tag)) {}
  void Dump(const char* direction, std::span<const std::uint8_t> bytes);

 private:
  bool enabled_;
  Console& console_;
  std::string tag_;
  PartsClock::time_point start_ = PartsClock::now();
};

// The first value set (on any thread), for a thread that waits for it at most `limit`, or
// until `stop` holds (looked at every `poll`). Later values are ignored.
template <typename T>
class FirstValue {
 public:
  void Set(T value) {
    {
      std::lock_guard lock(mutex_);
      if (value_) return;
      value_ = std::move(value);
    }
    set_.notify_all();
  }
  std::optional<T> Wait(PartsClock::duration limit, const std::function<bool()>& stop,
                        PartsClock::duration poll) {
    const auto until = PartsClock::now() + limit;
    std::unique_lock lock(mutex_);
    while (!value_ && PartsClock::now() < until && !stop()) {
      set_.wait_for(lock, std::min<PartsClock::duration>(poll, until - PartsClock::now()));
    }
    return value_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable set_;
  std::optional<T> value_;
};

// The bytes on the line: the trace, and --confirm's watch for the target's refusal of the
// upload's last frame. Armed from the moment that frame is due, it keeps the first
// refusal or terminate code the target sends (0x04, 0x13, 0x17): during the packet phase
// such a code ends the upload anyway, so one seen from then on can only be a refusal of
// the last frame. Sent and Received on the engine's threads; Arm on the transfer thread;
// Wait on the port's thread.
class LineWatch final : public core::LineTrace {
 public:
  explicit LineWatch(Tracer& tracer) : tracer_(tracer) {}
  void Sent(std::span<const std::uint8_t> bytes) override { tracer_.Dump("PC>", bytes); }
  void Received(std::span<const std::uint8_t> bytes) override;
  void Arm() { armed_ = true; }
  // The refusal seen, waiting at most `limit` for one, or until `stop` holds (looked at
  // every `poll`).
  std::optional<std::uint8_t> Wait(PartsClock::duration limit, const std::function<bool()>& stop,
                                   PartsClock::duration poll) {
    return refusal_.Wait(limit, stop, poll);
  }

 private:
  Tracer& tracer_;
  std::atomic<bool> armed_{false};
  FirstValue<std::uint8_t> refusal_;
};

// Keeps the payload of the first test frame that comes back (reader thread), for the
// port's thread.
class FirstPayload final : public serial::ComTestView {
 public:
  void ShowReceived(std::vector<std::uint8_t> payload) override;
  // The payload, waiting at most `limit` for it, or until `stop` holds (looked at every
  // `poll`).
  std::optional<std::string> Wait(PartsClock::duration limit, const std::function<bool()>& stop,
                                  PartsClock::duration poll) {
    return payload_.Wait(limit, stop, poll);
  }

 private:
  FirstValue<std::string> payload_;
};

// The first `length` bytes of `from` into `to`, created or replaced.
bool CopyPrefix(const std::filesystem::path& from, std::uint64_t length,
                const std::filesystem::path& to);

}  // namespace tavrin::cli
