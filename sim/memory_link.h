// An in-memory full-duplex line between a PC side (a serial::SerialDevice) and the
// simulated target (a sim::Stream), for tests that need no pseudo-terminal.
//
// Threads: PcEnd() may be used by one reader thread and any number of writers; TargetEnd()
// by one thread at a time. Close() may be called from any thread. The link owns both
// queues; the ends are views into it and live as long as the link.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <span>

#include "serial/serial_device.h"
#include "sim/stream.h"

namespace tavrin::sim {

class MemoryLink {
 public:
  MemoryLink();
  ~MemoryLink();
  MemoryLink(const MemoryLink&) = delete;
  MemoryLink& operator=(const MemoryLink&) = delete;

  serial::SerialDevice& PcEnd() { return pcEnd_; }
  Stream& TargetEnd() { return targetEnd_; }

  // The line is gone: PC reads and writes fail with EIO, target reads return -1 and
  // target writes false. Unread bytes are dropped.
  void Close();

 private:
  class PcEndImpl final : public serial::SerialDevice {
   public:
    explicit PcEndImpl(MemoryLink& link) : link_(link) {}
    serial::IoResult Read(std::span<std::uint8_t> into, std::chrono::milliseconds timeout,
                          serial::StopFd stop) override;
    serial::IoResult Write(std::span<const std::uint8_t> bytes, std::chrono::milliseconds timeout,
                           serial::StopFd stop) override;
    serial::DeviceResult PurgeReceive() override;
    serial::DeviceResult PurgeBoth() override;
    serial::DeviceResult SetDtr(bool) override { return serial::DeviceResult::Ok(); }
    serial::DeviceResult SetRts(bool) override { return serial::DeviceResult::Ok(); }
    serial::LineReading<serial::ModemLines> GetModemLines() override { return {}; }
    serial::LineReading<serial::LineCounters> GetLineCounters() override { return {}; }
    std::size_t InputQueued() override;
    std::size_t OutputQueued() override;

   private:
    MemoryLink& link_;
  };

  class TargetEndImpl final : public Stream {
   public:
    explicit TargetEndImpl(MemoryLink& link) : link_(link) {}
    long Read(std::span<std::uint8_t> into, std::chrono::milliseconds timeout) override;
    bool Write(std::span<const std::uint8_t> bytes) override;

   private:
    MemoryLink& link_;
  };

  // Takes up to into.size() bytes from the PC's queue; caller holds mutex_.
  std::size_t TakeForPcLocked(std::span<std::uint8_t> into);
  // Keeps the eventfd readable exactly while the PC has something to see; caller holds mutex_.
  void UpdatePcSignalLocked();

  std::mutex mutex_;
  std::condition_variable targetCanRead_;
  std::deque<std::uint8_t> toPc_;      // written by the target, not yet read by the PC
  std::deque<std::uint8_t> toTarget_;  // written by the PC, not yet read by the target
  bool closed_ = false;
  bool pcSignalRaised_ = false;
  int pcReadable_ = -1;  // eventfd: readable while toPc_ holds bytes or the line is closed
  PcEndImpl pcEnd_{*this};
  TargetEndImpl targetEnd_{*this};
};

}  // namespace tavrin::sim
