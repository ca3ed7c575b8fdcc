// The target's side of a real line: a file descriptor (pseudo-terminal master or a serial
// device) opened non-blocking by the caller, who keeps ownership of it. One reader and
// one writer thread at most.
#pragma once

#include <chrono>

#include "sim/stream.h"

namespace tavrin::sim {

class FdStream final : public Stream {
 public:
  // `stopFd` (-1: none): once readable, reads return -1 and writes false, so that a
  // target blocked on a line nobody reads can still be ended.
  explicit FdStream(int fd, int stopFd = -1,
                    std::chrono::milliseconds writeTimeout = std::chrono::seconds{30});

  long Read(std::span<std::uint8_t> into, std::chrono::milliseconds timeout) override;
  // Gives up (false) when the line takes no byte for the write time-out.
  bool Write(std::span<const std::uint8_t> bytes) override;

 private:
  // Waits for `events` on the fd; 1 ready, 0 time-out, -1 stopped or failed.
  int WaitFor(short events, std::chrono::milliseconds timeout) const;

  int fd_;
  int stopFd_;
  std::chrono::milliseconds writeTimeout_;
};

}  // namespace tavrin::sim
