// A stream whose written bytes reach the other side a fixed time after they were
// written, as a USB serial adapter holds what it has received for its latency timer
// before it passes it on to the PC. The delay is the same for every byte: bytes written
// back to back arrive back to back, one delay later, so a long burst loses no rate; what
// it costs is one delay on every answer the other side waits for. Reads pass through.
//
// Threads: one reader, one writer, and a delivery thread of the stream's own that writes
// to the inner stream. The clock is a parameter so that tests can see the delays asked
// for without waiting them out.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <stop_token>
#include <thread>
#include <vector>

#include "sim/paced_stream.h"
#include "sim/stream.h"

namespace tavrin::sim {

class DelayedStream final : public Stream {
 public:
  // The inner stream and the clock must outlive this stream.
  DelayedStream(Stream& inner, std::chrono::milliseconds delay, PaceClock& clock);
  // Ends the delivery thread (after at most one delay); bytes not yet due are dropped.
  ~DelayedStream() override;
  DelayedStream(const DelayedStream&) = delete;
  DelayedStream& operator=(const DelayedStream&) = delete;

  long Read(std::span<std::uint8_t> into, std::chrono::milliseconds timeout) override;
  // Holds the bytes for the delay and returns at once; false once the inner stream has
  // refused a write (the other side is gone).
  bool Write(std::span<const std::uint8_t> bytes) override;

 private:
  struct Held {
    std::vector<std::uint8_t> bytes;
    PaceClock::TimePoint due;
  };

  void Deliver(std::stop_token stop);

  Stream& inner_;
  std::chrono::milliseconds delay_;
  PaceClock& clock_;
  std::mutex mutex_;
  std::condition_variable_any added_;
  std::deque<Held> held_;  // under mutex_, in the order written (and so of due times)
  bool gone_ = false;      // under mutex_
  std::jthread delivery_;  // last: starts once everything it uses exists
};

}  // namespace tavrin::sim
