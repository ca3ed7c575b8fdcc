#include "serial/write_queue.h"

#include <utility>

#include "serial/error_reporter.h"

namespace tavrin::serial {

void WriteQueue::Open() {
  std::lock_guard lock(mutex_);
  packets_.clear();
  open_ = true;
}

void WriteQueue::Close() {
  std::lock_guard lock(mutex_);
  packets_.clear();
  open_ = false;
}

WriteQueue::PushResult WriteQueue::Push(WriterPacket packet) {
  {
    std::lock_guard lock(mutex_);
    if (!open_ || interrupted_) return PushResult::kNoQueue;
    if (packet.block.size() > kMaxWriterBlock) return PushResult::kTooLong;
    if (packets_.size() >= kMaxWriterPackets) return PushResult::kFull;
    packets_.push_back(std::move(packet));
  }
  changed_.notify_one();
  return PushResult::kQueued;
}

std::optional<WriterPacket> WriteQueue::TakeNext() {
  std::lock_guard lock(mutex_);
  if (interrupted_ || packets_.empty()) return std::nullopt;
  WriterPacket packet = std::move(packets_.front());
  packets_.pop_front();
  return packet;
}

WriteQueue::Wake WriteQueue::WaitForWork(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  // Whoever waits for the writer to be idle sees this only once the wait below has let
  // the lock go: the writer is then asleep and only a Push (or the stop) wakes it.
  ++waiting_;
  idle_.notify_all();
  changed_.wait_for(lock, timeout, [&] { return interrupted_ || !packets_.empty(); });
  --waiting_;
  if (interrupted_) return Wake::kStop;
  return packets_.empty() ? Wake::kTimeout : Wake::kWork;
}

bool WriteQueue::WaitUntilIdle(std::chrono::milliseconds limit) const {
  std::unique_lock lock(mutex_);
  return idle_.wait_for(lock, limit, [&] { return waiting_ > 0 && packets_.empty(); });
}

void WriteQueue::Interrupt() {
  {
    std::lock_guard lock(mutex_);
    interrupted_ = true;
  }
  changed_.notify_all();
}

void WriteQueue::ClearInterrupt() {
  std::lock_guard lock(mutex_);
  interrupted_ = false;
}

std::size_t WriteQueue::Size() const {
  std::lock_guard lock(mutex_);
  return packets_.size();
}

void ServiceWriteQueue(WriteQueue& queue,
                       const std::function<std::size_t(std::span<const std::uint8_t>)>& write,
                       ErrorReporter& reporter) {
  while (const auto packet = queue.TakeNext()) {
    switch (packet->kind) {
      case WriterPacketKind::kSendChar:
        write(std::span(&packet->character, 1));
        break;
      case WriterPacketKind::kSendBlock:
        write(packet->block);
        break;
      default:
        reporter.ReportError("Bad write request", 0);
        break;
    }
  }
}

}  // namespace tavrin::serial
