#include "serial/line_status.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <functional>

#include "serial/error_reporter.h"
#include "serial/port_settings.h"
#include "serial/status_log.h"
#include "serial_fakes.h"

namespace tavrin::serial {
namespace {

using test::LineState;

TEST(LineStatusText, NamesEventsAndErrorsInTheirOrder) {
  EXPECT_EQ(CommEventText(0x0088), "EVENT: CTS ERR \n");
  EXPECT_EQ(CommEventText(0), "EVENT: NULL\n");
  EXPECT_EQ(CommEventText(0x01FF), "EVENT: CTS DSR ERR RING RLSD BREAK RXFLAG RXCHAR TXEMPTY \n");
  EXPECT_EQ(CommErrorsText(kCommErrorFrame), "ERROR: FRAME \n");
  EXPECT_EQ(CommErrorsText(0), "");
  EXPECT_EQ(CommErrorsText(0x9F1F),
            "ERROR: DNS IOE OOP PTO MODE BREAK FRAME RXOVER TXFULL OVERRUN RXPARITY \n");
}

TEST(CommErrors, ComeFromTheCountersThatGrew) {
  const LineCounters before{.frame = 3, .overrun = 1, .parity = 0, .brk = 2, .bufferOverrun = 0};
  LineCounters after = before;
  EXPECT_EQ(CommErrorsBetween(before, after), 0u);
  after.parity = 1;
  after.bufferOverrun = 4;
  EXPECT_EQ(CommErrorsBetween(before, after), kCommErrorRxParity | kCommErrorRxOver);
}

// A look that fails is reported under the step the reader/status thread names it by,
// and the monitor goes on; a device without lines or counters is not a failure.
struct LookRow {
  std::string name;
  int linesError;
  int countersError;
  std::function<void(LineMonitor&)> look;
  std::vector<std::string> reports;

  friend void PrintTo(const LookRow& row, std::ostream* os) { *os << row.name; }
};

class FailedLookTest : public testing::TestWithParam<LookRow> {
 protected:
  std::shared_ptr<test::FakeLine> line_ = std::make_shared<test::FakeLine>();
  test::FakeSerialDevice device_{line_};
  StatusLog statusLog_;
  tavrin::test::RecordingErrorSink sink_;
  ErrorReporter reporter_{sink_};
  LineMonitor monitor_{device_, statusLog_, reporter_, kEventErr | kEventCts};
};

TEST_P(FailedLookTest, IsReportedAndNotFatal) {
  const LookRow& row = GetParam();
  line_->Change([&](LineState& state) {
    state.linesError = row.linesError;
    state.countersError = row.countersError;
  });
  row.look(monitor_);
  EXPECT_EQ(sink_.Errors(), row.reports);
  EXPECT_EQ(sink_.EndProcessCalls(), 0);
}

const std::string kModemStatusEio = "Error 5: GetCommModemStatus.\n\rInput/output error\r\n";
const std::string kCommErrorsEio = "Error 5: ClearCommError.\n\rInput/output error\r\n";

// clang-format off
INSTANTIATE_TEST_SUITE_P(Looks, FailedLookTest, testing::Values(
    LookRow{"ModemLines", EIO, 0, [](LineMonitor& m) { m.PollModemLines(); }, {kModemStatusEio}},
    LookRow{"Counters", 0, EIO, [](LineMonitor& m) { m.PollCommErrors(); }, {kCommErrorsEio}},
    LookRow{"DescribedErrors", 0, EIO, [](LineMonitor& m) { m.DescribeCommErrors(); }, {kCommErrorsEio}},
    LookRow{"LineErrorEvent", EIO, EIO, [](LineMonitor& m) { m.DescribeCommEvent(kEventErr); },
            {kCommErrorsEio, kModemStatusEio}},
    LookRow{"OtherEvent", EIO, ENXIO, [](LineMonitor& m) { m.DescribeCommEvent(kEventCts); },
            {kModemStatusEio, "Error 6: ClearCommError.\n\rNo such device or address\r\n"}},
    LookRow{"EventWaitOnly", EIO, EIO, [](LineMonitor& m) { m.CheckLineEvents(); }, {}},
    LookRow{"NoLinesAtAll", 0, 0, [](LineMonitor& m) { m.PollModemLines(); m.PollCommErrors(); }, {}}),
    [](const auto& row) { return row.param.name; });
// clang-format on

// A look that fails keeps the last good one as the reference: a change across the
// failure is still an event.
TEST_F(FailedLookTest, KeepsTheLastGoodLinesAsReference) {
  line_->Change([](LineState& state) { state.lines = ModemLines{}; });
  monitor_.PollModemLines();
  line_->Change([](LineState& state) { state.linesError = EIO; });
  monitor_.PollModemLines();
  line_->Change([](LineState& state) {
    state.linesError = 0;
    state.lines = ModemLines{.cts = true};
  });
  EXPECT_EQ(monitor_.PendingEvents(), kEventCts);
}

}  // namespace
}  // namespace tavrin::serial
