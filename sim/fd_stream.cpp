#include "sim/fd_stream.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace tavrin::sim {

FdStream::FdStream(int fd, int stopFd, std::chrono::milliseconds writeTimeout)
    : fd_(fd), stopFd_(stopFd), writeTimeout_(writeTimeout) {}

int FdStream::WaitFor(short events, std::chrono::milliseconds timeout) const {
  pollfd fds[2] = {{fd_, events, 0}, {stopFd_, POLLIN, 0}};
  int wait = static_cast<int>(std::clamp<long long>(timeout.count(), 0, 60'000));
  int ready = poll(fds, stopFd_ >= 0 ? 2 : 1, wait);
  if (ready < 0) return errno == EINTR ? 0 : -1;
  if (stopFd_ >= 0 && (fds[1].revents & POLLIN) != 0) return -1;
  if ((fds[0].revents & (events | POLLHUP | POLLERR)) != 0) return 1;
  return 0;
}

long FdStream::Read(std::span<std::uint8_t> into, std::chrono::milliseconds timeout) {
  int ready = WaitFor(POLLIN, timeout);
  if (ready <= 0) return ready;
  ssize_t n = read(fd_, into.data(), into.size());
  if (n > 0) return static_cast<long>(n);
  if (n < 0 && (errno == EAGAIN || errno == EINTR)) return 0;
  return -1;  // end of file, or EIO once the other side of a pseudo-terminal is gone
}

bool FdStream::Write(std::span<const std::uint8_t> bytes) {
  const auto deadline = std::chrono::steady_clock::now() + writeTimeout_;
  while (!bytes.empty()) {
    ssize_t n = write(fd_, bytes.data(), bytes.size());
    if (n > 0) {
      bytes = bytes.subspan(static_cast<std::size_t>(n));
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
    auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 || WaitFor(POLLOUT, left) < 0) return false;
  }
  return true;
}

}  // namespace tavrin::sim
