// SerialLink: the connection to the target. It opens the port named in PortSettings,
// configures it, raises DTR and runs the two link threads: the reader/status thread
// (ReaderAndStatusProc), which hands every received block to ReceiveHandler::
// OutputABuffer and logs line events, and the writer thread (WriterProc), which sends
// the characters typed into the terminal screen window. It stops them and closes the
// port again.
//
// Threads, and what each may call:
// - UI thread: OpenPort, ClosePort, Shutdown, Connected, QueueCharWrite, QueueWrite.
//   OpenPort and ClosePort (through StartLinkThreads and StopLinkThreads) are the only
//   calls that start and stop the link threads. The UI thread never waits on the port:
//   what it sends goes through the writer thread's queue.
// - transfer thread: WriterGeneric, PurgeReceive, Connected.
// - reader/status thread: runs ReaderAndStatusProc; calls ReceiveHandler::OutputABuffer
//   (the block lives in the thread's buffer until the call returns), StatusLog, and on a
//   fatal error ClosePort (which then does not wait for its own thread) and
//   ErrorSink::EndProcess.
// - writer thread: runs WriterProc; calls WriterGeneric, and the fatal path as above.
// WriterGeneric serialises whole calls, so the bytes of one call are never interleaved
// with another's: a typed key never lands inside a frame. No host sink is called with a
// lock of the link held.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <span>
#include <string_view>
#include <thread>

#include "serial/port_settings.h"
#include "serial/serial_device.h"
#include "serial/stop_signal.h"
#include "serial/write_queue.h"

namespace tavrin::serial {

class ErrorReporter;
class ReceiveHandler;
class StatusLog;

// Opens a device by port name; null when the port is not available.
using DeviceFactory = std::function<std::unique_ptr<SerialDevice>(std::string_view portName)>;
// The factory for real ports: PosixSerialDevice::Open.
DeviceFactory PosixDeviceFactory();

// Shown (caption kPortOpenCaption, stop icon) when OpenPort cannot open the device.
constexpr std::string_view kPortNotAvailable = "Port is not available.";
constexpr std::string_view kPortOpenCaption = "COM Port Open";

constexpr std::size_t kReadBufferSize = 3000;                        // bytes, one read at most
constexpr auto kCloseWaitLimit = std::chrono::milliseconds{20000};   // for the link threads
constexpr auto kQuietPassInterval = std::chrono::milliseconds{500};  // line-state look
constexpr auto kWriterIdleWait = std::chrono::milliseconds{500};
constexpr auto kDrainLimit = std::chrono::seconds{2};  // output drain at close

// While a frame is part-way in, the reader reads the rest of it in one go rather than
// as it trickles in: it lets all but the last kReadAsTheyCome of the bytes still coming
// gather in the driver, for the time they take on the line, at most kGatherAtMost bytes
// and kGatherLimit at a time. Nobody waits on part of a frame, and its last bytes are read
// as they come, so the frame is handed on as soon as it is complete.
constexpr std::size_t kReadAsTheyCome = 64;
constexpr std::size_t kGatherAtMost = 2048;  // well inside the driver's receive buffer
constexpr auto kGatherLimit = std::chrono::milliseconds{20};
// How long to let `coming` bytes gather at `baud` with `characterBits` per character.
std::chrono::microseconds GatherTime(std::size_t coming, std::uint32_t baud,
                                     unsigned characterBits);

enum class OpenOutcome {
  kConnected,           // open, configured, DTR up, threads running
  kOpenedNotConnected,  // open, but DTR could not be raised (reported); no threads
  kNotAvailable,        // the device could not be opened: show kPortNotAvailable
  kFailed,              // a link thread could not be started (reported, run ended)
};

enum class StopOutcome { kEnded, kTimedOut };

// The link's waits; tests shorten them.
struct LinkTimings {
  std::chrono::milliseconds closeWaitLimit = kCloseWaitLimit;
  std::chrono::milliseconds quietPassInterval = kQuietPassInterval;
  // How long the writer waits for work before it looks again; what is queued wakes it
  // at once.
  std::chrono::milliseconds writerIdleWait = kWriterIdleWait;
};

class SerialLink {
 public:
  SerialLink(ReceiveHandler& receiver, StatusLog& statusLog, ErrorReporter& reporter,
             DeviceFactory factory = PosixDeviceFactory(), LinkTimings timings = {});
  // Shutdown, then the device goes.
  ~SerialLink();
  SerialLink(const SerialLink&) = delete;
  SerialLink& operator=(const SerialLink&) = delete;

  // Opens and configures the port of `settings`, raises DTR, starts the link threads.
  // A port that is open but not connected (DTR failed) stays busy until the link goes.
  OpenOutcome OpenPort(const PortSettings& settings);
  // Stops the link threads (at most closeWaitLimit, else "Error closing port." and the
  // run ends), lets the output drain, drops DTR, restores the device's settings,
  // discards what is left and closes the port. False when no connection was open.
  bool ClosePort();

  // Closes a connection that is still open, then waits (at most closeWaitLimit, holding no
  // lock) for link threads that are still ending, such as one closing the port itself
  // after a fatal error. True when every link thread has ended and been joined; on the
  // time-out "Error closing port." is reported and the run ends (ErrorSink::EndProcess).
  bool Shutdown();

  // 1 while a connection is up.
  bool Connected() const { return connected_.load(); }

  // Writes all of `bytes` to the port and returns how many it took; 0 when no
  // connection is up, or when the link was stopped or `cancel` raised while the write
  // waited (what is left of the write is abandoned).
  std::size_t WriterGeneric(std::span<const std::uint8_t> bytes,
                            const StopSignal* cancel = nullptr);
  // Queues one typed character for the writer thread. False when the character was
  // dropped: no connection or no queue (the writer thread is not running, or the link is
  // stopping), or the queue is full ("HeapAlloc (writer packet)" reported).
  bool QueueCharWrite(std::uint8_t character);
  // Queues `bytes` (a line of the line input box, a COM test frame; at most
  // kMaxWriterBlock) to be written whole by the writer thread, in order with typed
  // characters. Returns at once; false as for QueueCharWrite, or when too long.
  bool QueueWrite(std::span<const std::uint8_t> bytes);
  // Waits, at most `limit`, until the writer thread has taken everything queued and waits
  // for more; true when it does.
  bool WaitUntilWriterIdle(std::chrono::milliseconds limit) const {
    return queue_.WaitUntilIdle(limit);
  }
  // Drops what has been received and not yet read. A failure is returned, not reported:
  // the caller reports it ("PurgeComm") when it holds no lock.
  DeviceResult PurgeReceive();

 private:
  struct LinkThread {
    std::thread thread;    // started and joined under lifecycleMutex_
    std::thread::id id;    // under threadsMutex_
    bool running = false;  // under threadsMutex_
  };
  enum class Self { kNone, kReader, kWriter };

  // Starts the reader/status and writer threads; called by OpenPort. False when one
  // could not be started (reported; the port is closed and the run ends).
  bool StartLinkThreads();
  // Raises the thread-exit signal and waits, at most `limit`, for both link threads (not
  // for the calling one, when a link thread closes the port after a fatal error). The
  // signal is reset once they have ended; on the time-out each thread still running is
  // named on the debug output.
  StopOutcome StopLinkThreads(std::chrono::milliseconds limit);

  int ReaderAndStatusProc();
  int WriterProc();
  void RunLinkThread(LinkThread& link, int (SerialLink::*proc)());
  bool StartLinkThread(LinkThread& link, int (SerialLink::*proc)(), std::string_view step);

  Self CallingLinkThread();
  bool LinkThreadsEnded(Self self) const;
  void JoinLinkThreads(Self self);
  void RaiseStop();
  void ResetStop();

  void CloseLocked();
  void ReleaseDevice();
  void FatalError(std::string_view step, int error);

  bool Queue(WriterPacket packet);
  bool WaitLinkThreadsEnded(std::chrono::milliseconds limit);
  IoResult WriteSerialised(std::span<const std::uint8_t> bytes, const StopSignal* cancel);
  std::size_t FinishWrite(const IoResult& result, std::size_t asked);
  std::chrono::milliseconds WriteTimeLimit(std::size_t bytes) const;

  ReceiveHandler& receiver_;
  StatusLog& statusLog_;
  ErrorReporter& reporter_;
  DeviceFactory factory_;
  LinkTimings timings_;

  std::atomic<bool> connected_{false};
  StopSignal stop_;
  WriteQueue queue_;

  // Held by OpenPort and ClosePort for their whole run: one opens or closes at a time.
  std::mutex lifecycleMutex_;
  // The device lives from OpenPort to ClosePort. Writers and purges hold it shared;
  // ClosePort holds it exclusively to take the device away.
  std::shared_mutex deviceMutex_;
  std::unique_ptr<SerialDevice> device_;
  std::uint32_t eventMask_ = 0;  // set by OpenPort before the threads start
  std::uint32_t baudRate_ = 0;   // set by OpenPort before the threads start
  unsigned characterBits_ = 10;  // set by OpenPort before the threads start
  std::mutex writeMutex_;        // one WriterGeneric at a time

  mutable std::mutex threadsMutex_;
  std::condition_variable threadEnded_;
  LinkThread reader_;
  LinkThread writer_;
};

}  // namespace tavrin::serial
