// Line event, line error and report texts, the status log, and the line monitor's looks.
#include "serial/line_status.h"

#include <gtest/gtest.h>

#include <functional>
#include <thread>

#include "serial/error_reporter.h"
#include "serial/port_settings.h"
#include "serial/status_log.h"
#include "serial_fakes.h"

namespace tavrin::serial {
namespace {

using test::LineState;

// Single events and errors are shown through the link's status log.
TEST(LineStatusText, NamesEventsAndErrorsInTheirOrder) {
  EXPECT_EQ(CommEventText(0), "EVENT: NULL\n");
  EXPECT_EQ(CommEventText(0x01FF), "EVENT: CTS DSR ERR RING RLSD BREAK RXFLAG RXCHAR TXEMPTY \n");
  EXPECT_EQ(CommErrorsText(0), "");
  EXPECT_EQ(CommErrorsText(0x9F1F),
            "ERROR: DNS IOE OOP PTO MODE BREAK FRAME RXOVER TXFULL OVERRUN RXPARITY \n");
  // The errors come from the counters that grew.
  const LineCounters before{.frame = 3, .overrun = 1, .parity = 0, .brk = 2, .bufferOverrun = 0};
  EXPECT_EQ(CommErrorsBetween(before, before), 0u);
  const LineCounters after{.frame = 3, .overrun = 1, .parity = 1, .brk = 2, .bufferOverrun = 4};
  EXPECT_EQ(CommErrorsBetween(before, after), kCommErrorRxParity | kCommErrorRxOver);
}

// A code the system cannot describe still gives the report, with an empty description
// (the reports of known codes are checked wherever a step fails).
TEST(ErrorReport, HasCodeStepAndTheSystemsDescription) {
  EXPECT_EQ(FormatErrorReport(-1, "GetCommState"), "Error -1: GetCommState.\n\r\r\n");
}

TEST(StatusLog, ConcurrentUpdatesGetDistinctNumbers) {
  StatusLog log;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 250; ++i) log.UpdateStatus("x");
    });
  }
  for (auto& thread : threads) thread.join();
  const auto entries = log.Entries();
  ASSERT_EQ(entries.size(), 1001u);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    EXPECT_EQ(entries[i].substr(0, entries[i].find(':')), std::to_string(i + 1));
  }
}

// A line monitor on an in-memory device whose looks the test makes fail.
struct Monitor {
  std::shared_ptr<test::FakeLine> line = std::make_shared<test::FakeLine>();
  test::FakeSerialDevice device{line};
  StatusLog statusLog;
  tavrin::test::RecordingErrorSink sink;
  ErrorReporter reporter{sink};
  LineMonitor monitor{device, statusLog, reporter, kEventErr | kEventCts};
};

// A failed look is reported under its step, not fatally; a device without lines is no failure.
TEST(LineMonitor, AFailedLookIsReportedAndNotFatal) {
  const std::string modemEio = "Error 5: GetCommModemStatus.\n\rInput/output error\r\n";
  const std::string countersEio = "Error 5: ClearCommError.\n\rInput/output error\r\n";
  // clang-format off
  const struct {
    const char* name;
    int linesError;
    int countersError;
    std::function<void(LineMonitor&)> look;
    std::vector<std::string> reports;
  } rows[] = {
      {"modem lines", EIO, 0, [](LineMonitor& m) { m.PollModemLines(); }, {modemEio}},
      {"counters", 0, EIO, [](LineMonitor& m) { m.PollCommErrors(); }, {countersEio}},
      {"described errors", 0, EIO, [](LineMonitor& m) { m.DescribeCommErrors(); }, {countersEio}},
      {"line error event", EIO, EIO, [](LineMonitor& m) { m.DescribeCommEvent(kEventErr); },
       {countersEio, modemEio}},
      {"other event", EIO, ENXIO, [](LineMonitor& m) { m.DescribeCommEvent(kEventCts); },
       {modemEio, "Error 6: ClearCommError.\n\rNo such device or address\r\n"}},
      {"event wait only", EIO, EIO, [](LineMonitor& m) { m.CheckLineEvents(); }, {}},
      {"no lines at all", 0, 0, [](LineMonitor& m) { m.PollModemLines(); m.PollCommErrors(); }, {}}};
  // clang-format on
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    Monitor parts;
    parts.line->Change([&](LineState& state) {
      state.linesError = row.linesError;
      state.countersError = row.countersError;
    });
    row.look(parts.monitor);
    EXPECT_EQ(parts.sink.Errors(), row.reports);
    EXPECT_EQ(parts.sink.EndProcessCalls(), 0);
  }
}

// A failed look keeps the last good one as reference: a change across it is still an event.
TEST(LineMonitor, KeepsTheLastGoodLinesAsReference) {
  Monitor parts;
  parts.line->Change([](LineState& state) { state.lines = ModemLines{}; });
  parts.monitor.PollModemLines();
  parts.line->Change([](LineState& state) { state.linesError = EIO; });
  parts.monitor.PollModemLines();
  parts.line->Change([](LineState& state) {
    state.linesError = 0;
    state.lines = ModemLines{.cts = true};
  });
  EXPECT_EQ(parts.monitor.PendingEvents(), kEventCts);
}

}  // namespace
}  // namespace tavrin::serial
