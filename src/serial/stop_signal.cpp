#include "serial/stop_signal.h"

#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <ctime>

namespace tavrin::serial {

StopSignal::StopSignal() : fd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
  if (fd_ < 0) createError_ = errno;
}

StopSignal::~StopSignal() {
  if (fd_ >= 0) ::close(fd_);
}

void StopSignal::Raise() {
  raised_.store(true);
  const std::uint64_t one = 1;
  // The counter only saturates after 2^64-2 raises; a failed write changes nothing
  // here, the flag is already set.
  [[maybe_unused]] const auto written = ::write(fd_, &one, sizeof one);
}

void StopSignal::Reset() {
  std::uint64_t count = 0;
  // Reading empties the counter; nothing to read (EAGAIN) means it was not raised.
  [[maybe_unused]] const auto read = ::read(fd_, &count, sizeof count);
  raised_.store(false);
}

bool StopSignal::WaitFor(std::chrono::microseconds limit) const {
  if (limit.count() <= 0 || Raised()) return Raised();
  pollfd watch{fd_, POLLIN, 0};
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(limit);
  const timespec timeout{static_cast<time_t>(seconds.count()),
                         static_cast<long>((limit - seconds).count() * 1000)};
  // An interrupted wait only ends early; the reader goes on either way.
  ::ppoll(&watch, 1, &timeout, nullptr);
  return Raised();
}

EitherSignal::EitherSignal(const StopSignal& first, const StopSignal& second)
    : fd_(::epoll_create1(EPOLL_CLOEXEC)), first_(first.Fd()) {
  if (fd_ < 0) return;
  epoll_event watch{};
  watch.events = EPOLLIN;
  if (::epoll_ctl(fd_, EPOLL_CTL_ADD, first.Fd(), &watch) != 0 ||
      ::epoll_ctl(fd_, EPOLL_CTL_ADD, second.Fd(), &watch) != 0) {
    ::close(fd_);
    fd_ = -1;
  }
}

EitherSignal::~EitherSignal() {
  if (fd_ >= 0) ::close(fd_);
}

}  // namespace tavrin::serial
