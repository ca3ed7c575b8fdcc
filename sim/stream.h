// The simulated target's side of the line: a byte stream it reads with a time-out and
// writes to. Backends: a file descriptor (pseudo-terminal master or device), a paced
// wrapper that takes UART line time, and the in-memory link used by tests.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <span>

namespace tavrin::sim {

class Stream {
 public:
  virtual ~Stream() = default;
  // Waits up to `timeout` for bytes; returns how many were read (0 on time-out), or -1
  // when the other side is gone.
  virtual long Read(std::span<std::uint8_t> into, std::chrono::milliseconds timeout) = 0;
  // Writes all bytes; false when the other side is gone.
  virtual bool Write(std::span<const std::uint8_t> bytes) = 0;
};

}  // namespace tavrin::sim
