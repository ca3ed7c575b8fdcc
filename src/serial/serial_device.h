// The serial device as the link sees it: one interface, one backend per platform
// (PosixSerialDevice on Linux), and in-memory or pseudo-terminal devices in tests.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tavrin::serial {

struct PortSettings;

// Outcome of a device call that can fail at the system level.
struct DeviceResult {
  bool ok = true;
  int error = 0;     // errno of the failed call
  std::string step;  // name of the failed step, as reports give it ("SetCommState", ...)

  static DeviceResult Ok() { return {}; }
  static DeviceResult Fail(int err, std::string stepName) {
    return {false, err, std::move(stepName)};
  }
};

// The step a failed purge of the device is reported under.
inline constexpr std::string_view kPurgeStep = "PurgeComm";

// Outcome of a read or write that waits.
enum class IoStatus {
  kOk,       // bytes moved (possibly 0 on a read whose wait ended quietly)
  kTimeout,  // the wait ended with nothing moved
  kStopped,  // the stop signal was raised while waiting
  kFailed,   // the device failed; errno is in the result
};

struct IoResult {
  IoStatus status = IoStatus::kOk;
  std::size_t count = 0;
  int error = 0;
};

// Modem input lines as sampled from the device.
struct ModemLines {
  bool cts = false;
  bool dsr = false;
  bool rlsd = false;  // carrier detect
  bool ring = false;
};

// Cumulative line-error counters (as the kernel keeps them).
struct LineCounters {
  std::uint64_t frame = 0;
  std::uint64_t overrun = 0;
  std::uint64_t parity = 0;
  std::uint64_t brk = 0;
  std::uint64_t bufferOverrun = 0;
};

// One look at the modem lines or the line-error counters. `value` is empty when the
// device has none (a pseudo-terminal, some USB CDC devices: nothing to report) and when
// the look failed; a failed look also carries its errno (a USB adapter that went away
// gives EIO).
template <typename Value>
struct LineReading {
  std::optional<Value> value;
  int error = 0;  // errno of a failed look; 0 when it did not fail

  static LineReading Failed(int err) { return {std::nullopt, err}; }
};

// A file descriptor that poll() can wait on; raised by SerialLink to end waits.
// Implementations use it to give up a blocking read or write (-1: no stop signal).
using StopFd = int;

class SerialDevice {
 public:
  virtual ~SerialDevice() = default;

  // Reads what has arrived, waiting up to `timeout` for the first byte and returning once
  // the line is quiet. Gives up with kStopped when `stop` becomes readable.
  virtual IoResult Read(std::span<std::uint8_t> into, std::chrono::milliseconds timeout,
                        StopFd stop) = 0;
  // Writes all bytes unless the stop signal is raised, the device fails or `timeout`
  // passes; count says how many went out.
  virtual IoResult Write(std::span<const std::uint8_t> bytes, std::chrono::milliseconds timeout,
                         StopFd stop) = 0;

  virtual DeviceResult PurgeReceive() = 0;  // drop what has been received, unread
  virtual DeviceResult PurgeBoth() = 0;     // drop unread input and unsent output

  virtual DeviceResult SetDtr(bool on) = 0;
  virtual DeviceResult SetRts(bool on) = 0;
  // Modem lines; no value when the device has none (pseudo-terminal, some USB CDC).
  virtual LineReading<ModemLines> GetModemLines() = 0;
  // Line-error counters; no value when the device keeps none.
  virtual LineReading<LineCounters> GetLineCounters() = 0;
  // Bytes waiting in the input and output queues.
  virtual std::size_t InputQueued() = 0;
  virtual std::size_t OutputQueued() = 0;

  // Applies the line settings (speed, data bits, parity, stop bits, raw mode, no flow
  // control). Returns the steps that failed, in order, each named as reports name it
  // ("GetCommState", "SetCommState"); empty when the device took everything. A refused
  // frame leaves the device's previous one in force. Devices without line settings
  // (in-memory fakes) accept everything.
  virtual std::vector<DeviceResult> ApplySettings(const PortSettings&) { return {}; }
  // Puts back the line settings found when the device was opened.
  virtual DeviceResult RestoreSettings() { return DeviceResult::Ok(); }
  // Waits at most `limit` for what was written to leave the device; false when it had
  // not (the caller then discards the rest).
  virtual bool DrainOutput(std::chrono::milliseconds) { return true; }
};

}  // namespace tavrin::serial
