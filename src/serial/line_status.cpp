#include "serial/line_status.h"

#include <array>
#include <string_view>

#include "serial/error_reporter.h"
#include "serial/port_settings.h"
#include "serial/status_log.h"

namespace tavrin::serial {
namespace {

// Report steps of failed looks at the line state.
constexpr std::string_view kStepModemStatus = "GetCommModemStatus";
constexpr std::string_view kStepCommErrors = "ClearCommError";

struct BitName {
  std::uint32_t bit;
  std::string_view name;
};

// In the order the messages list them.
constexpr std::array kEventNames{
    BitName{kEventCts, "CTS "},         BitName{kEventDsr, "DSR "},
    BitName{kEventErr, "ERR "},         BitName{kEventRing, "RING "},
    BitName{kEventRlsd, "RLSD "},       BitName{kEventBreak, "BREAK "},
    BitName{kEventRxFlag, "RXFLAG "},   BitName{kEventRxChar, "RXCHAR "},
    BitName{kEventTxEmpty, "TXEMPTY "},
};

constexpr std::array kErrorNames{
    BitName{kCommErrorDns, "DNS "},           BitName{kCommErrorIoe, "IOE "},
    BitName{kCommErrorOop, "OOP "},           BitName{kCommErrorPto, "PTO "},
    BitName{kCommErrorMode, "MODE "},         BitName{kCommErrorBreak, "BREAK "},
    BitName{kCommErrorFrame, "FRAME "},       BitName{kCommErrorRxOver, "RXOVER "},
    BitName{kCommErrorTxFull, "TXFULL "},     BitName{kCommErrorOverrun, "OVERRUN "},
    BitName{kCommErrorRxParity, "RXPARITY "},
};

// Errors that raise the line-error event; a break has an event of its own.
constexpr std::uint32_t kLineErrorBits = kCommErrorFrame | kCommErrorOverrun | kCommErrorRxParity;

template <std::size_t N>
std::string Names(const std::array<BitName, N>& names, std::uint32_t bits) {
  std::string text;
  for (const BitName& entry : names) {
    if ((bits & entry.bit) != 0) text += entry.name;
  }
  return text;
}

std::uint32_t ModemEvents(const ModemLines& before, const ModemLines& after) {
  std::uint32_t events = 0;
  if (before.cts != after.cts) events |= kEventCts;
  if (before.dsr != after.dsr) events |= kEventDsr;
  if (before.rlsd != after.rlsd) events |= kEventRlsd;
  // The ring event marks a ring being detected: the line coming on.
  if (!before.ring && after.ring) events |= kEventRing;
  return events;
}

std::string QueueCountText(std::size_t count, std::string_view which) {
  return std::to_string(count) + " bytes in " + std::string(which) + " buffer.\r\n";
}

}  // namespace

std::string CommEventText(std::uint32_t eventWord) {
  const std::string names = eventWord == 0 ? "NULL" : Names(kEventNames, eventWord);
  return "EVENT: " + names + "\n";
}

std::string CommErrorsText(std::uint32_t errors) {
  if (errors == 0) return {};
  return "ERROR: " + Names(kErrorNames, errors) + "\n";
}

std::uint32_t CommErrorsBetween(const LineCounters& before, const LineCounters& after) {
  std::uint32_t errors = 0;
  if (after.frame != before.frame) errors |= kCommErrorFrame;
  if (after.overrun != before.overrun) errors |= kCommErrorOverrun;
  if (after.parity != before.parity) errors |= kCommErrorRxParity;
  if (after.brk != before.brk) errors |= kCommErrorBreak;
  if (after.bufferOverrun != before.bufferOverrun) errors |= kCommErrorRxOver;
  return errors;
}

LineMonitor::LineMonitor(SerialDevice& device, StatusLog& statusLog, ErrorReporter& reporter,
                         std::uint32_t eventMask)
    : device_(device), statusLog_(statusLog), reporter_(reporter), eventMask_(eventMask) {}

void LineMonitor::PollModemLines() {
  const auto now = device_.GetModemLines();
  if (now.error != 0) {
    reporter_.ReportError(kStepModemStatus, now.error);
    return;
  }
  lines_ = now.value;
}

void LineMonitor::PollCommErrors() {
  const auto now = device_.GetLineCounters();
  if (now.error != 0) {
    reporter_.ReportError(kStepCommErrors, now.error);
    return;
  }
  counters_ = now.value;
}

std::uint32_t LineMonitor::PendingEvents() {
  std::uint32_t events = 0;
  if (lines_) {
    if (const auto now = device_.GetModemLines().value) events |= ModemEvents(*lines_, *now);
  }
  if (counters_) {
    if (const auto now = device_.GetLineCounters().value) {
      const std::uint32_t errors = CommErrorsBetween(*counters_, *now);
      if ((errors & kLineErrorBits) != 0) events |= kEventErr;
      if ((errors & kCommErrorBreak) != 0) events |= kEventBreak;
    }
  }
  return events & eventMask_;
}

void LineMonitor::DescribeCommEvent(std::uint32_t eventWord) {
  statusLog_.UpdateStatus(CommEventText(eventWord));
  const bool lineError = (eventWord & kEventErr) != 0;
  if (lineError) DescribeCommErrors();
  PollModemLines();
  if (!lineError) PollCommErrors();
}

void LineMonitor::DescribeCommErrors() {
  const auto now = device_.GetLineCounters();
  if (now.error != 0) {
    reporter_.ReportError(kStepCommErrors, now.error);
  } else {
    if (now.value && counters_) {
      const std::string text = CommErrorsText(CommErrorsBetween(*counters_, *now.value));
      if (!text.empty()) statusLog_.UpdateStatus(text);
    }
    counters_ = now.value;
  }
  if (const std::size_t input = device_.InputQueued(); input > 0) {
    statusLog_.UpdateStatus(QueueCountText(input, "input"));
  }
  if (const std::size_t output = device_.OutputQueued(); output > 0) {
    statusLog_.UpdateStatus(QueueCountText(output, "output"));
  }
}

void LineMonitor::CheckLineEvents() {
  if (const std::uint32_t events = PendingEvents(); events != 0) DescribeCommEvent(events);
}

}  // namespace tavrin::serial
