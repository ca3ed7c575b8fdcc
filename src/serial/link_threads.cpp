// SerialLink: the two link threads, how they start and how they are stopped.
#include <string>
#include <system_error>
#include <vector>

#include "serial/error_reporter.h"
#include "serial/line_status.h"
#include "serial/receive_handler.h"
#include "serial/serial_link.h"

namespace tavrin::serial {
namespace {

constexpr std::string_view kStepCreateReader = "CreateThread(Reader/Status)";
constexpr std::string_view kStepCreateWriter = "CreateThread (Writer)";
constexpr std::string_view kStepReadFailed = "ReadFile in ReaderAndStatusProc";
constexpr std::string_view kReaderDidNotExit = "Reader/Status Thread didn't exit.\n\r";
constexpr std::string_view kWriterDidNotExit = "Writer Thread didn't exit.\n\r";

}  // namespace

bool SerialLink::StartLinkThreads() {
  // A thread that closed the port itself after a fatal error may still be finishing.
  JoinLinkThreads(Self::kNone);
  ResetStop();
  if (!StartLinkThread(reader_, &SerialLink::ReaderAndStatusProc, kStepCreateReader)) {
    return false;
  }
  // The queue is made before the writer thread runs, so that a character typed just
  // after Connect waits for it rather than being dropped.
  queue_.Open();
  if (StartLinkThread(writer_, &SerialLink::WriterProc, kStepCreateWriter)) return true;
  queue_.Close();
  return false;
}

bool SerialLink::StartLinkThread(LinkThread& link, int (SerialLink::*proc)(),
                                 std::string_view step) {
  int error = 0;
  {
    std::lock_guard lock(threadsMutex_);
    try {
      link.thread = std::thread(&SerialLink::RunLinkThread, this, std::ref(link), proc);
      link.id = link.thread.get_id();
      link.running = true;
      return true;
    } catch (const std::system_error& failure) {
      error = failure.code().value();
    }
  }
  // OpenPort holds the lifecycle lock: close here rather than through ClosePort.
  reporter_.ReportErrorCloseAndExit(step, error, [this] {
    if (connected_.exchange(false)) CloseLocked();
  });
  return false;
}

void SerialLink::RunLinkThread(LinkThread& link, int (SerialLink::*proc)()) {
  (this->*proc)();
  {
    std::lock_guard lock(threadsMutex_);
    link.running = false;
  }
  threadEnded_.notify_all();
}

StopOutcome SerialLink::StopLinkThreads(std::chrono::milliseconds limit) {
  const Self self = CallingLinkThread();
  RaiseStop();
  std::vector<std::string_view> stillRunning;
  {
    std::unique_lock lock(threadsMutex_);
    if (!threadEnded_.wait_for(lock, limit, [&] { return LinkThreadsEnded(self); })) {
      if (self != Self::kReader && reader_.running) stillRunning.push_back(kReaderDidNotExit);
      if (self != Self::kWriter && writer_.running) stillRunning.push_back(kWriterDidNotExit);
    }
  }
  if (!stillRunning.empty()) {
    // The signal stays raised: the threads still have to see it.
    for (std::string_view line : stillRunning) reporter_.Sink().Debug(line);
    return StopOutcome::kTimedOut;
  }
  JoinLinkThreads(self);
  // A link thread stopping the link keeps the signal raised so that it ends too; the
  // next StartLinkThreads resets it.
  if (self == Self::kNone) {
    // Exclusively: a write that started before the signal has given up by now, and one
    // that starts after the reset finds the connection gone.
    std::unique_lock deviceLock(deviceMutex_);
    ResetStop();
  }
  return StopOutcome::kEnded;
}

bool SerialLink::WaitLinkThreadsEnded(std::chrono::milliseconds limit) {
  std::vector<std::string_view> stillRunning;
  {
    std::unique_lock lock(threadsMutex_);
    if (threadEnded_.wait_for(lock, limit, [&] { return LinkThreadsEnded(Self::kNone); })) {
      return true;
    }
    if (reader_.running) stillRunning.push_back(kReaderDidNotExit);
    if (writer_.running) stillRunning.push_back(kWriterDidNotExit);
  }
  for (std::string_view line : stillRunning) reporter_.Sink().Debug(line);
  return false;
}

SerialLink::Self SerialLink::CallingLinkThread() {
  const auto id = std::this_thread::get_id();
  std::lock_guard lock(threadsMutex_);
  if (reader_.running && reader_.id == id) return Self::kReader;
  if (writer_.running && writer_.id == id) return Self::kWriter;
  return Self::kNone;
}

bool SerialLink::LinkThreadsEnded(Self self) const {
  return (self == Self::kReader || !reader_.running) && (self == Self::kWriter || !writer_.running);
}

void SerialLink::JoinLinkThreads(Self self) {
  if (self != Self::kReader && reader_.thread.joinable()) reader_.thread.join();
  if (self != Self::kWriter && writer_.thread.joinable()) writer_.thread.join();
}

void SerialLink::RaiseStop() {
  stop_.Raise();
  queue_.Interrupt();
}

void SerialLink::ResetStop() {
  stop_.Reset();
  queue_.ClearInterrupt();
}

// The only code that reads the port. Each pass reads what arrives (the read returns
// once the line is quiet, at most kReadBufferSize bytes), hands it to OutputABuffer,
// and looks for line events; a pass with nothing received for quietPassInterval also
// clears the device's error state. While a frame is part-way in, the pass first lets its
// rest gather (GatherTime), so that a line handing over a few bytes at a time does not
// cost a wake-up per few bytes.
int SerialLink::ReaderAndStatusProc() {
  SerialDevice& device = *device_;
  std::vector<std::uint8_t> buffer(kReadBufferSize);
  LineMonitor monitor(device, statusLog_, reporter_, eventMask_);
  monitor.PollModemLines();
  monitor.PollCommErrors();
  while (!stop_.Raised()) {
    const IoResult result = device.Read(buffer, timings_.quietPassInterval, stop_.Fd());
    if (result.status == IoStatus::kStopped) break;
    if (result.status == IoStatus::kFailed) {
      FatalError(kStepReadFailed, result.error);
      return 0;
    }
    if (result.count > 0) {
      receiver_.OutputABuffer(std::span(buffer.data(), result.count));
      const auto gather = GatherTime(receiver_.BytesStillComing(), baudRate_, characterBits_);
      if (stop_.WaitFor(gather)) break;
    }
    monitor.CheckLineEvents();
    if (result.status == IoStatus::kTimeout) {
      monitor.PollModemLines();
      monitor.PollCommErrors();
    }
  }
  return 1;
}

// Sends the typed characters queued by QueueCharWrite. The queue ends with this thread:
// what is still queued when the link stops is dropped, and later characters refused.
int SerialLink::WriterProc() {
  const auto write = [this](std::span<const std::uint8_t> bytes) { return WriterGeneric(bytes); };
  for (;;) {
    const WriteQueue::Wake wake = queue_.WaitForWork(timings_.writerIdleWait);
    if (wake == WriteQueue::Wake::kStop) break;
    if (wake == WriteQueue::Wake::kWork) ServiceWriteQueue(queue_, write, reporter_);
  }
  queue_.Close();
  return 1;
}

}  // namespace tavrin::serial
