// SerialLink: opening and closing the connection, and the writes.
#include "serial/serial_link.h"

#include <algorithm>
#include <cerrno>
#include <string>
#include <utility>
#include <vector>

#include "serial/error_reporter.h"
#include "serial/posix_serial_device.h"
#include "serial/status_log.h"

namespace tavrin::serial {
namespace {

// Status messages and report steps of the link.
constexpr std::string_view kStepSetDtr = "EscapeCommFunction (SETDTR)";
constexpr std::string_view kStepClearDtr = "EscapeCommFunction(CLRDTR)";
constexpr std::string_view kStepRestore = "SetCommTimeouts (Restoration to original)";
constexpr std::string_view kStepCloseFailed = "Error closing port.";
constexpr std::string_view kStepWriteFailed = "WriteFile (in Writer)";
constexpr std::string_view kStepShortWrite = "Error writing data to port (overlapped)";
constexpr std::string_view kStepWriterPacket = "HeapAlloc (writer packet)";
constexpr std::string_view kStepThreadExitEvent = "CreateEvent (Thread exit event)";
constexpr std::string_view kStatusWriteTimedOut = "Write timed out. (immediate)\r\n";
constexpr std::string_view kStatusWriteAborted = "Write aborted\r\n";

// A write has no time limit of its own on the line; this bound only catches a port
// that takes nothing at all (a peer that never reads): twice the line time at the
// connection's speed (10 bits a byte) plus a margin.
constexpr auto kWriteMargin = std::chrono::milliseconds{5000};
constexpr std::uint64_t kBitsPerByte = 10;

struct StepFailure {
  std::string_view step;
  int error;
};

}  // namespace

DeviceFactory PosixDeviceFactory() {
  return [](std::string_view portName) -> std::unique_ptr<SerialDevice> {
    return PosixSerialDevice::Open(portName).device;
  };
}

SerialLink::SerialLink(ReceiveHandler& receiver, StatusLog& statusLog, ErrorReporter& reporter,
                       DeviceFactory factory, LinkTimings timings)
    : receiver_(receiver),
      statusLog_(statusLog),
      reporter_(reporter),
      factory_(std::move(factory)),
      timings_(timings) {
  if (!stop_.Valid()) reporter_.ReportErrorAndExit(kStepThreadExitEvent, stop_.CreateError());
}

SerialLink::~SerialLink() {
  // Shutdown has reported a link thread that would not end and the host has not ended the
  // run: the objects that thread uses cannot go from under it.
  if (!Shutdown()) JoinLinkThreads(Self::kNone);
  std::unique_lock deviceLock(deviceMutex_);
  device_.reset();
}

bool SerialLink::Shutdown() {
  ClosePort();
  // A link thread that met a fatal error has cleared the connected flag (so ClosePort did
  // nothing here) and closes the port itself, under the lifecycle lock: it is waited for
  // without that lock.
  RaiseStop();
  if (!WaitLinkThreadsEnded(timings_.closeWaitLimit)) {
    reporter_.ReportErrorAndExit(kStepCloseFailed, ETIMEDOUT);
    return false;
  }
  std::lock_guard lifecycle(lifecycleMutex_);
  JoinLinkThreads(Self::kNone);
  return true;
}

OpenOutcome SerialLink::OpenPort(const PortSettings& settings) {
  std::lock_guard lifecycle(lifecycleMutex_);
  // A port left open without a connection (DTR failed) is still ours: it is busy.
  if (connected_ || device_) return OpenOutcome::kNotAvailable;
  std::unique_ptr<SerialDevice> device = factory_(settings.portName);
  if (!device) return OpenOutcome::kNotAvailable;
  device->PurgeReceive();
  ApplyPortSettings(*device, settings, reporter_);
  const DeviceResult dtr = device->SetDtr(true);
  {
    std::unique_lock deviceLock(deviceMutex_);
    device_ = std::move(device);
    eventMask_ = settings.eventMask;
    baudRate_ = settings.baudRate;
    characterBits_ = CharacterBits(settings);
  }
  if (!dtr.ok) {
    reporter_.ReportError(kStepSetDtr, dtr.error);
    return OpenOutcome::kOpenedNotConnected;
  }
  // Set before the threads start, so that a fatal error on one of them finds a
  // connection to close (it waits for this call to finish first).
  connected_ = true;
  if (!StartLinkThreads()) return OpenOutcome::kFailed;
  return OpenOutcome::kConnected;
}

bool SerialLink::ClosePort() {
  // Cleared first, so that nothing new is queued or written; whoever clears it closes.
  if (!connected_.exchange(false)) return false;
  std::lock_guard lifecycle(lifecycleMutex_);
  CloseLocked();
  return true;
}

void SerialLink::CloseLocked() {
  if (StopLinkThreads(timings_.closeWaitLimit) != StopOutcome::kEnded) {
    reporter_.ReportErrorAndExit(kStepCloseFailed, ETIMEDOUT);
    return;
  }
  ReleaseDevice();
}

// The output drains before anything else: restoring the device's own settings may
// change the speed under bytes still leaving, and a purge would throw them away (on a
// pseudo-terminal, the end of the last frame the other side has not read yet).
void SerialLink::ReleaseDevice() {
  std::vector<StepFailure> failures;
  const auto note = [&failures](std::string_view step, const DeviceResult& result) {
    if (!result.ok) failures.push_back({step, result.error});
  };
  {
    std::unique_lock deviceLock(deviceMutex_);
    if (!device_) return;
    const bool drained = device_->DrainOutput(kDrainLimit);
    note(kStepClearDtr, device_->SetDtr(false));
    note(kStepRestore, device_->RestoreSettings());
    note(kPurgeStep, drained ? device_->PurgeReceive() : device_->PurgeBoth());
    device_.reset();
  }
  for (const StepFailure& failure : failures) reporter_.ReportError(failure.step, failure.error);
}

void SerialLink::FatalError(std::string_view step, int error) {
  reporter_.ReportErrorCloseAndExit(step, error, [this] { ClosePort(); });
}

std::size_t SerialLink::WriterGeneric(std::span<const std::uint8_t> bytes,
                                      const StopSignal* cancel) {
  return FinishWrite(WriteSerialised(bytes, cancel), bytes.size());
}

IoResult SerialLink::WriteSerialised(std::span<const std::uint8_t> bytes,
                                     const StopSignal* cancel) {
  if (!connected_) return {IoStatus::kStopped, 0, 0};
  std::shared_lock deviceLock(deviceMutex_);
  if (!device_ || !connected_) return {IoStatus::kStopped, 0, 0};
  std::lock_guard writeLock(writeMutex_);
  if (stop_.Raised() || (cancel && cancel->Raised())) return {IoStatus::kStopped, 0, 0};
  const auto limit = WriteTimeLimit(bytes.size());
  if (!cancel) return device_->Write(bytes, limit, stop_.Fd());
  // A target that stopped reading holds the write until the limit; a cancel ends it.
  const EitherSignal stopOrCancel(stop_, *cancel);
  return device_->Write(bytes, limit, stopOrCancel.Fd());
}

// Reports outside the locks: a report may wait for the operator, and the fatal path
// closes the port, which needs the device to itself.
std::size_t SerialLink::FinishWrite(const IoResult& result, std::size_t asked) {
  switch (result.status) {
    case IoStatus::kOk:
      if (result.count < asked) statusLog_.UpdateStatus(kStatusWriteTimedOut);
      return result.count;
    case IoStatus::kStopped:
      return 0;  // the link is stopping or the transfer cancelled: the rest is abandoned
    case IoStatus::kTimeout:
      reporter_.ReportError(kStepShortWrite, ETIMEDOUT);
      return result.count;
    case IoStatus::kFailed:
      break;
  }
  if (result.error == ECANCELED) {
    statusLog_.UpdateStatus(kStatusWriteAborted);
    reporter_.ReportError(kStepShortWrite, result.error);
    return result.count;
  }
  FatalError(kStepWriteFailed, result.error);
  return result.count;
}

std::chrono::microseconds GatherTime(std::size_t coming, std::uint32_t baud,
                                     unsigned characterBits) {
  if (coming <= kReadAsTheyCome || baud == 0) return std::chrono::microseconds{0};
  const std::uint64_t bytes = std::min(coming - kReadAsTheyCome, kGatherAtMost);
  const std::chrono::microseconds lineTime{bytes * characterBits * 1'000'000 / baud};
  return std::min<std::chrono::microseconds>(lineTime, kGatherLimit);
}

std::chrono::milliseconds SerialLink::WriteTimeLimit(std::size_t bytes) const {
  const std::uint64_t baud = baudRate_ == 0 ? 1 : baudRate_;
  const auto lineTime = std::chrono::milliseconds{
      static_cast<std::chrono::milliseconds::rep>(2 * bytes * kBitsPerByte * 1000 / baud)};
  return kWriteMargin + lineTime;
}

bool SerialLink::QueueCharWrite(std::uint8_t character) {
  return Queue({WriterPacketKind::kSendChar, character, {}});
}

bool SerialLink::QueueWrite(std::span<const std::uint8_t> bytes) {
  return Queue({WriterPacketKind::kSendBlock, 0, {bytes.begin(), bytes.end()}});
}

// Refused while no connection is up: from the moment ClosePort begins nothing taken
// would be sent.
bool SerialLink::Queue(WriterPacket packet) {
  if (!connected_) return false;
  switch (queue_.Push(std::move(packet))) {
    case WriteQueue::PushResult::kQueued:
      return true;
    case WriteQueue::PushResult::kFull:
      reporter_.ReportError(kStepWriterPacket, ENOMEM);
      return false;
    case WriteQueue::PushResult::kNoQueue:
    case WriteQueue::PushResult::kTooLong:
      break;
  }
  return false;
}

DeviceResult SerialLink::PurgeReceive() {
  std::shared_lock deviceLock(deviceMutex_);
  if (!device_) return DeviceResult::Ok();
  return device_->PurgeReceive();
}

}  // namespace tavrin::serial
