#include "sim/memory_link.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>

namespace tavrin::sim {

namespace {

using Clock = std::chrono::steady_clock;

int MillisecondsLeft(Clock::time_point deadline) {
  auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return static_cast<int>(std::clamp<long long>(left, 0, 60'000));
}

serial::IoResult LineGone() {
  return {serial::IoStatus::kFailed, 0, EIO};
}

}  // namespace

MemoryLink::MemoryLink() : pcReadable_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
  if (pcReadable_ < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
}

MemoryLink::~MemoryLink() {
  close(pcReadable_);
}

void MemoryLink::Close() {
  {
    std::lock_guard lock(mutex_);
    closed_ = true;
    toPc_.clear();
    toTarget_.clear();
    UpdatePcSignalLocked();
  }
  targetCanRead_.notify_all();
}

std::size_t MemoryLink::TakeForPcLocked(std::span<std::uint8_t> into) {
  std::size_t count = std::min(into.size(), toPc_.size());
  std::copy_n(toPc_.begin(), count, into.begin());
  toPc_.erase(toPc_.begin(), toPc_.begin() + static_cast<std::ptrdiff_t>(count));
  UpdatePcSignalLocked();
  return count;
}

void MemoryLink::UpdatePcSignalLocked() {
  bool wanted = closed_ || !toPc_.empty();
  if (wanted == pcSignalRaised_) return;
  if (wanted) {
    std::uint64_t one = 1;
    [[maybe_unused]] auto n = write(pcReadable_, &one, sizeof one);
  } else {
    std::uint64_t value = 0;
    [[maybe_unused]] auto n = read(pcReadable_, &value, sizeof value);
  }
  pcSignalRaised_ = wanted;
}

serial::IoResult MemoryLink::PcEndImpl::Read(std::span<std::uint8_t> into,
                                             std::chrono::milliseconds timeout,
                                             serial::StopFd stop) {
  const auto deadline = Clock::now() + timeout;
  while (true) {
    {
      std::lock_guard lock(link_.mutex_);
      if (link_.closed_) return LineGone();
      if (!link_.toPc_.empty()) {
        return {serial::IoStatus::kOk, link_.TakeForPcLocked(into), 0};
      }
    }
    pollfd fds[2] = {{link_.pcReadable_, POLLIN, 0}, {stop, POLLIN, 0}};
    int ready = poll(fds, stop >= 0 ? 2 : 1, MillisecondsLeft(deadline));
    if (ready < 0 && errno != EINTR) return {serial::IoStatus::kFailed, 0, errno};
    if (stop >= 0 && (fds[1].revents & POLLIN) != 0) return {serial::IoStatus::kStopped, 0, 0};
    if (ready == 0 && Clock::now() >= deadline) return {serial::IoStatus::kTimeout, 0, 0};
  }
}

serial::IoResult MemoryLink::PcEndImpl::Write(std::span<const std::uint8_t> bytes,
                                              std::chrono::milliseconds, serial::StopFd) {
  {
    std::lock_guard lock(link_.mutex_);
    if (link_.closed_) return LineGone();
    link_.toTarget_.insert(link_.toTarget_.end(), bytes.begin(), bytes.end());
  }
  link_.targetCanRead_.notify_all();
  return {serial::IoStatus::kOk, bytes.size(), 0};
}

serial::DeviceResult MemoryLink::PcEndImpl::PurgeReceive() {
  std::lock_guard lock(link_.mutex_);
  link_.toPc_.clear();
  link_.UpdatePcSignalLocked();
  return serial::DeviceResult::Ok();
}

serial::DeviceResult MemoryLink::PcEndImpl::PurgeBoth() {
  std::lock_guard lock(link_.mutex_);
  link_.toPc_.clear();
  link_.toTarget_.clear();  // written by the PC but not yet taken off the line
  link_.UpdatePcSignalLocked();
  return serial::DeviceResult::Ok();
}

std::size_t MemoryLink::PcEndImpl::InputQueued() {
  std::lock_guard lock(link_.mutex_);
  return link_.toPc_.size();
}

std::size_t MemoryLink::PcEndImpl::OutputQueued() {
  std::lock_guard lock(link_.mutex_);
  return link_.toTarget_.size();
}

long MemoryLink::TargetEndImpl::Read(std::span<std::uint8_t> into,
                                     std::chrono::milliseconds timeout) {
  std::unique_lock lock(link_.mutex_);
  link_.targetCanRead_.wait_for(lock, timeout,
                                [&] { return link_.closed_ || !link_.toTarget_.empty(); });
  if (link_.closed_) return -1;
  std::size_t count = std::min(into.size(), link_.toTarget_.size());
  std::copy_n(link_.toTarget_.begin(), count, into.begin());
  link_.toTarget_.erase(link_.toTarget_.begin(),
                        link_.toTarget_.begin() + static_cast<std::ptrdiff_t>(count));
  return static_cast<long>(count);
}

bool MemoryLink::TargetEndImpl::Write(std::span<const std::uint8_t> bytes) {
  std::lock_guard lock(link_.mutex_);
  if (link_.closed_) return false;
  link_.toPc_.insert(link_.toPc_.end(), bytes.begin(), bytes.end());
  link_.UpdatePcSignalLocked();
  return true;
}

}  // namespace tavrin::sim
