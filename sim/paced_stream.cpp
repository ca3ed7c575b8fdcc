#include "sim/paced_stream.h"

#include <algorithm>
#include <array>
#include <thread>

namespace tavrin::sim {

namespace {

// Received bytes held back at most; beyond it the inner stream is left to buffer (as a
// UART's FIFO would overflow, the line would have had to be faster than `baud`).
constexpr std::size_t kMaxPending = 64 * 1024;
// Received bytes are handed over in groups that arrived within this time of each other.
constexpr auto kReceiveLatency = std::chrono::milliseconds{2};
// Written bytes go out in slices of about 10 ms of line time.
constexpr unsigned kSlicesPerSecond = 100;

}  // namespace

void SteadyPaceClock::SleepUntil(TimePoint when) {
  std::this_thread::sleep_until(when);
}

PacedStream::PacedStream(Stream& inner, unsigned baud, PaceClock& clock, SendGroups groups)
    : inner_(inner),
      baud_(baud),
      clock_(clock),
      sliceBytes_(std::max<std::size_t>(1, baud / kBitsPerByte / kSlicesPerSecond)),
      maxGroup_(groups.maxGroup),
      groupSizes_(groups.seed),
      sendLineFree_(clock.Now()),
      receiveAnchor_(clock.Now()) {}

bool PacedStream::Write(std::span<const std::uint8_t> bytes) {
  const auto start = std::max(clock_.Now(), sendLineFree_);
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    const std::size_t count = NextGroup(bytes.size() - sent);
    clock_.SleepUntil(start + LineTime(sent + count, baud_));
    if (!inner_.Write(bytes.subspan(sent, count))) return false;
    sent += count;
  }
  sendLineFree_ = start + LineTime(bytes.size(), baud_);
  return true;
}

std::size_t PacedStream::NextGroup(std::size_t left) {
  if (maxGroup_ == 0) return std::min(sliceBytes_, left);
  return std::min<std::size_t>(1 + groupSizes_() % maxGroup_, left);
}

PacedStream::PullResult PacedStream::Pull(std::chrono::milliseconds wait) {
  if (innerGone_) return PullResult::kGone;
  std::array<std::uint8_t, 4096> buffer{};
  std::size_t room = std::min(buffer.size(), kMaxPending - std::min(kMaxPending, pending_.size()));
  if (room == 0) return PullResult::kPulled;
  const bool waits = pending_.empty();
  long n = inner_.Read(std::span(buffer).first(room), waits ? wait : std::chrono::milliseconds{0});
  if (n < 0) {
    innerGone_ = true;
    return PullResult::kGone;
  }
  if (n == 0 && waits) return PullResult::kTimedOut;
  const auto now = clock_.Now();
  if (now >= receiveAnchor_ + LineTime(receiveCount_, baud_)) {
    // The line has been idle: a new run of bytes starts now.
    receiveAnchor_ = now;
    receiveCount_ = 0;
  }
  for (long i = 0; i < n; ++i) {
    pending_.push_back(
        {buffer[static_cast<std::size_t>(i)], receiveAnchor_ + LineTime(++receiveCount_, baud_)});
  }
  return PullResult::kPulled;
}

std::size_t PacedStream::DeliverReady(std::span<std::uint8_t> into) {
  const auto now = clock_.Now();
  std::size_t count = 0;
  while (count < into.size() && !pending_.empty() && pending_.front().readyAt <= now) {
    into[count++] = pending_.front().byte;
    pending_.pop_front();
  }
  return count;
}

long PacedStream::Read(std::span<std::uint8_t> into, std::chrono::milliseconds timeout) {
  const auto deadline = clock_.Now() + timeout;
  while (true) {
    auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - clock_.Now());
    PullResult pulled = Pull(std::max(left, std::chrono::milliseconds{0}));
    if (pending_.empty()) {
      if (pulled == PullResult::kGone) return -1;
      // The inner stream has waited out the time itself.
      if (pulled == PullResult::kTimedOut || clock_.Now() >= deadline) return 0;
      continue;
    }
    // Bytes are handed over in groups, as a UART's receive FIFO does: the first byte's
    // group ends with the last byte wanted or kReceiveLatency after the first, whichever
    // comes first. Delivering each byte as soon as it is due would turn a fast line into
    // a poll per byte.
    const auto first = pending_.front().readyAt;
    const auto wanted = pending_[std::min(pending_.size(), into.size()) - 1].readyAt;
    const auto groupEnd = std::max(first, std::min(wanted, first + kReceiveLatency));
    const auto now = clock_.Now();
    if (now >= groupEnd || now >= deadline) {
      if (std::size_t count = DeliverReady(into); count > 0) return static_cast<long>(count);
      if (now >= deadline) return 0;
    }
    clock_.SleepUntil(std::min(groupEnd, deadline));
  }
}

}  // namespace tavrin::sim
