// The writer thread's request queue: characters typed into the terminal screen window,
// lines of the line input box and COM test frames wait here until the writer thread
// sends them, so that the UI thread never waits on the port (nor on a transfer's write
// that holds it). The queue exists only while the writer thread does (SerialLink opens it
// just before starting the thread, the thread closes it when it ends); pushes are refused
// outside that, and from the moment the link is told to stop.
//
// Threads: the UI thread pushes; the writer thread waits, takes and closes; SerialLink
// opens it and interrupts it (thread-exit signal) from whichever thread stops the link.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <vector>

namespace tavrin::serial {

class ErrorReporter;

enum class WriterPacketKind : std::uint32_t {
  kSendChar = 1,   // send one typed character
  kSendBlock = 2,  // send a line or a test frame, in one write
};

struct WriterPacket {
  WriterPacketKind kind = WriterPacketKind::kSendChar;
  std::uint8_t character = 0;
  std::vector<std::uint8_t> block;  // kSendBlock only
};

// The fixed pool: at most this many packets wait at once.
constexpr std::size_t kMaxWriterPackets = 256;
// The longest block a packet carries: a COM test frame (3000 characters and 4 bytes of
// frame); a line of the line input box is at most 81 bytes.
constexpr std::size_t kMaxWriterBlock = 3004;

class WriteQueue {
 public:
  enum class PushResult { kQueued, kNoQueue, kFull, kTooLong };
  enum class Wake { kWork, kStop, kTimeout };

  void Open();   // the writer thread is starting: pushes are taken
  void Close();  // the writer thread ends: what is still queued is dropped unsent

  // Refused (kNoQueue) while the queue is closed or interrupted: a packet taken then
  // would be dropped unsent.
  PushResult Push(WriterPacket packet);
  // The oldest packet; nullopt when the queue is empty or has been interrupted (packets
  // queued when the link stops are discarded, not sent).
  std::optional<WriterPacket> TakeNext();
  // Waits up to `timeout` for a packet or an interruption.
  Wake WaitForWork(std::chrono::milliseconds timeout);
  // Waits, at most `limit`, until the writer thread waits in WaitForWork with nothing
  // queued: everything queued before has been taken. True when it does.
  bool WaitUntilIdle(std::chrono::milliseconds limit) const;

  void Interrupt();       // the thread-exit signal was raised
  void ClearInterrupt();  // the thread-exit signal was reset

  std::size_t Size() const;

 private:
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  mutable std::condition_variable idle_;  // a writer began to wait
  std::deque<WriterPacket> packets_;
  int waiting_ = 0;  // writers inside WaitForWork
  bool open_ = false;
  bool interrupted_ = false;
};

// Sends every queued packet in order, through `write` (one call a packet), including
// packets added while it runs; a packet of an unknown kind is reported as "Bad write
// request" and dropped.
void ServiceWriteQueue(WriteQueue& queue,
                       const std::function<std::size_t(std::span<const std::uint8_t>)>& write,
                       ErrorReporter& reporter);

}  // namespace tavrin::serial
