// Line events and line errors as the reader/status thread sees them. The device keeps
// modem-line states and cumulative error counters; LineMonitor compares them with the
// values of its last look and turns the differences into the event word and error bits
// of the link, and those into status messages ("EVENT: ERR \n", "ERROR: FRAME \n").
// A look that fails (other than on a device that has no such lines) is reported as
// "GetCommModemStatus" or "ClearCommError", and the thread goes on.
//
// Threads: a LineMonitor belongs to the reader/status thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "serial/serial_device.h"

namespace tavrin::serial {

class ErrorReporter;
class StatusLog;

// Line-error bits, as the error word names them.
constexpr std::uint32_t kCommErrorRxOver = 0x0001;    // input buffer overflow
constexpr std::uint32_t kCommErrorOverrun = 0x0002;   // the UART lost a character
constexpr std::uint32_t kCommErrorRxParity = 0x0004;  // parity error
constexpr std::uint32_t kCommErrorFrame = 0x0008;     // framing error
constexpr std::uint32_t kCommErrorBreak = 0x0010;     // break received
constexpr std::uint32_t kCommErrorTxFull = 0x0100;    // output buffer full
constexpr std::uint32_t kCommErrorPto = 0x0200;       // printer time-out
constexpr std::uint32_t kCommErrorIoe = 0x0400;       // I/O error
constexpr std::uint32_t kCommErrorDns = 0x0800;       // device not selected
constexpr std::uint32_t kCommErrorOop = 0x1000;       // out of paper
constexpr std::uint32_t kCommErrorMode = 0x8000;      // mode not supported

// "EVENT: " with the name of every bit set, "NULL" for none, then "\n".
std::string CommEventText(std::uint32_t eventWord);
// "ERROR: " with the name of every bit set, then "\n"; empty when no bit is set.
std::string CommErrorsText(std::uint32_t errors);
// The error bits of the counters' growth from `before` to `after`.
std::uint32_t CommErrorsBetween(const LineCounters& before, const LineCounters& after);

class LineMonitor {
 public:
  LineMonitor(SerialDevice& device, StatusLog& statusLog, ErrorReporter& reporter,
              std::uint32_t eventMask);

  // Reads the modem lines; they are the new reference for change events. A failed look
  // is reported and keeps the old reference.
  void PollModemLines();
  // Reads and clears the line errors: the counters become the new reference. A failed
  // look is reported and keeps the old reference.
  void PollCommErrors();
  // The event word (within the mask) of what changed since the last look. This look
  // stands for the wait for device events and reports nothing: a look that fails here
  // is reported by the next PollModemLines or PollCommErrors.
  std::uint32_t PendingEvents();
  // Logs the event word, then the errors when it holds a line error, then takes a new
  // look at the lines (and at the errors, when it held none).
  void DescribeCommEvent(std::uint32_t eventWord);
  // Logs the line errors since the last look and the queue status, and clears them.
  void DescribeCommErrors();
  // One pass: the pending events, when there are any, described.
  void CheckLineEvents();

 private:
  SerialDevice& device_;
  StatusLog& statusLog_;
  ErrorReporter& reporter_;
  std::uint32_t eventMask_;
  std::optional<ModemLines> lines_;
  std::optional<LineCounters> counters_;
};

}  // namespace tavrin::serial
