// A stream that takes the line time of a UART: 10 bits a byte (start, 8 data, stop) at
// `baud` bits a second. Written bytes reach the inner stream only once their line time
// has passed; received bytes are handed out only once they could have crossed the line.
// The clock is a parameter so that the pacing can be checked without waiting.
//
// Threads: one reader and one writer (they share only the clock).
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <random>

#include "sim/stream.h"

namespace tavrin::sim {

class PaceClock {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;
  virtual ~PaceClock() = default;
  virtual TimePoint Now() = 0;
  virtual void SleepUntil(TimePoint when) = 0;
};

class SteadyPaceClock final : public PaceClock {
 public:
  TimePoint Now() override { return std::chrono::steady_clock::now(); }
  void SleepUntil(TimePoint when) override;
};

constexpr unsigned kBitsPerByte = 10;  // start bit, 8 data bits, stop bit

// How written bytes reach the inner stream. By default in slices of about 10 ms of line
// time. With `maxGroup` above 0, in groups of 1..maxGroup bytes, each handed over as soon
// as its last byte has crossed the line: a UART without a deep FIFO, which passes the
// line on a few bytes at a time. The sizes come from `seed`, the same on every run.
struct SendGroups {
  std::size_t maxGroup = 0;
  std::uint64_t seed = 0;
};

// Line time of `bytes` bytes at `baud`.
constexpr std::chrono::nanoseconds LineTime(std::uint64_t bytes, unsigned baud) {
  return std::chrono::nanoseconds{
      static_cast<std::int64_t>(bytes * kBitsPerByte * 1'000'000'000ULL / baud)};
}

class PacedStream final : public Stream {
 public:
  // `baud` must be above 0. The clock must outlive the stream.
  PacedStream(Stream& inner, unsigned baud, PaceClock& clock, SendGroups groups = {});

  long Read(std::span<std::uint8_t> into, std::chrono::milliseconds timeout) override;
  bool Write(std::span<const std::uint8_t> bytes) override;

 private:
  struct Pending {
    std::uint8_t byte;
    PaceClock::TimePoint readyAt;  // when its last bit has crossed the line
  };

  enum class PullResult { kPulled, kTimedOut, kGone };
  // Takes what the inner stream has, waiting up to `wait` only when nothing is pending.
  PullResult Pull(std::chrono::milliseconds wait);
  std::size_t DeliverReady(std::span<std::uint8_t> into);
  // Bytes of the next group a write hands over, at most `left`.
  std::size_t NextGroup(std::size_t left);

  Stream& inner_;
  unsigned baud_;
  PaceClock& clock_;
  std::size_t sliceBytes_;              // bytes written to the inner stream at a time
  std::size_t maxGroup_;                // 0: slices of sliceBytes_; else groups of 1..this
  std::mt19937_64 groupSizes_;          // the group sizes (fully specified: same everywhere)
  PaceClock::TimePoint sendLineFree_;   // end of the line time of the last written byte
  PaceClock::TimePoint receiveAnchor_;  // start of the current run of received bytes
  std::uint64_t receiveCount_ = 0;      // bytes of that run (their line time from the anchor)
  std::deque<Pending> pending_;         // received, line time not yet over
  bool innerGone_ = false;
};

}  // namespace tavrin::sim
