// The link against an in-memory device whose line state, errors and write outcomes the
// test drives.
#include <gtest/gtest.h>

#include <future>

#include "serial/error_reporter.h"
#include "serial/serial_link.h"
#include "serial/status_log.h"
#include "serial_fakes.h"

namespace tavrin::serial {
namespace {

using namespace std::chrono_literals;

using test::FakeLine;
using test::FakeSerialDevice;
using test::LineState;

DeviceFactory FactoryOf(std::shared_ptr<FakeLine> line) {
  return [line](std::string_view) { return std::make_unique<FakeSerialDevice>(line); };
}

class SerialLinkFaultTest : public testing::Test {
 protected:
  explicit SerialLinkFaultTest(LinkTimings timings = {})
      : link_(receiver_, statusLog_, reporter_, FactoryOf(line_), timings) {}

  void Connect() { ASSERT_EQ(link_.OpenPort(PortSettings{}), OpenOutcome::kConnected); }

  std::shared_ptr<FakeLine> line_ = std::make_shared<FakeLine>();
  test::RecordingReceiver receiver_;
  StatusLog statusLog_;
  test::WaitableErrorSink sink_;
  ErrorReporter reporter_{sink_};
  SerialLink link_;
};

struct LineEventRow {
  std::string name;
  LineCounters counters;
  ModemLines lines;
  std::size_t inputQueued;
  std::vector<std::string> messages;  // after "Status message go here:"
};

class LineEventTest : public SerialLinkFaultTest,
                      public testing::WithParamInterface<LineEventRow> {};

TEST_P(LineEventTest, IsLoggedAndReadingGoesOn) {
  const LineEventRow& row = GetParam();
  line_->Change([](LineState& state) {
    state.counters = LineCounters{};
    state.lines = ModemLines{};
  });
  Connect();
  ASSERT_TRUE(line_->WaitForReads(1));  // the reader has taken its first look
  line_->Change([&](LineState& state) {
    state.inputQueued = row.inputQueued;
    state.lines = row.lines;
    state.counters = row.counters;
  });
  ASSERT_TRUE(statusLog_.WaitForCount(1 + row.messages.size(), test::kTestWait));

  std::vector<std::string> expected{"1:Status message go here:\r\n"};
  for (std::size_t i = 0; i < row.messages.size(); ++i) {
    expected.push_back(std::to_string(i + 2) + ":" + row.messages[i]);
  }
  line_->Receive("still reading");
  ASSERT_TRUE(receiver_.WaitForBytes(13));
  EXPECT_EQ(statusLog_.Entries(), expected);
  EXPECT_TRUE(sink_.Errors().empty());
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Events, LineEventTest, testing::Values(
    LineEventRow{"Frame", {.frame = 1}, {}, 5,
                 {"EVENT: ERR \n", "ERROR: FRAME \n", "5 bytes in input buffer.\r\n"}},
    LineEventRow{"ParityAndOverrun", {.overrun = 2, .parity = 1}, {}, 0,
                 {"EVENT: ERR \n", "ERROR: OVERRUN RXPARITY \n"}},
    LineEventRow{"Break", {.brk = 1}, {}, 0, {"EVENT: BREAK \n"}},
    LineEventRow{"CtsAndCarrier", {}, {.cts = true, .rlsd = true}, 0, {"EVENT: CTS RLSD \n"}}),
    [](const auto& row) { return row.param.name; });
// clang-format on

// A port whose modem lines and error counters cannot be read (not a device without
// them) is reported at the reader's first look, and the link goes on reading.
TEST_F(SerialLinkFaultTest, FailedLineLooksAreReportedAndReadingGoesOn) {
  line_->Change([](LineState& state) {
    state.linesError = EIO;
    state.countersError = EIO;
  });
  Connect();
  ASSERT_TRUE(line_->WaitForReads(1));  // the first look is taken before the first read
  const auto errors = sink_.Errors();
  ASSERT_GE(errors.size(), 2u);
  EXPECT_EQ(errors[0], "Error 5: GetCommModemStatus.\n\rInput/output error\r\n");
  EXPECT_EQ(errors[1], "Error 5: ClearCommError.\n\rInput/output error\r\n");
  line_->Receive("on");
  EXPECT_TRUE(receiver_.WaitForBytes(2));
  EXPECT_TRUE(link_.Connected());
  EXPECT_EQ(sink_.EndProcessCalls(), 0);
}

TEST_F(SerialLinkFaultTest, TypedCharactersAreRefusedWithoutAWriterAndReportedWhenTheQueueIsFull) {
  EXPECT_FALSE(link_.QueueCharWrite('a'));
  EXPECT_TRUE(sink_.Errors().empty());

  line_->HoldWrites();
  Connect();
  ASSERT_TRUE(link_.QueueCharWrite('a'));
  ASSERT_TRUE(line_->WaitForWrites(1));
  std::size_t queued = 0;
  while (queued <= kMaxWriterPackets && link_.QueueCharWrite('b')) ++queued;
  EXPECT_EQ(queued, kMaxWriterPackets);
  ASSERT_EQ(sink_.Errors().size(), 1u);
  EXPECT_NE(sink_.Errors()[0].find("HeapAlloc (writer packet)"), std::string::npos);

  EXPECT_TRUE(link_.ClosePort());  // the stuck write gives up, the queue is dropped
  EXPECT_EQ(line_->Written(), "");
  EXPECT_EQ(sink_.EndProcessCalls(), 0);
}

struct WriteRow {
  std::string name;
  IoResult result;
  std::string status;  // the status message added, if any
  std::string report;  // the step reported, if any
  bool fatal;
};

class WriteOutcomeTest : public SerialLinkFaultTest,
                         public testing::WithParamInterface<WriteRow> {};

TEST_P(WriteOutcomeTest, IsReportedAsItsKindRequires) {
  const WriteRow& row = GetParam();
  Connect();
  line_->Change([&](LineState& state) { state.writeResult = row.result; });
  const std::array<std::uint8_t, 4> frame{2, 0, 1, 3};
  EXPECT_EQ(link_.WriterGeneric(frame), row.result.count);

  std::vector<std::string> entries{"1:Status message go here:\r\n"};
  if (!row.status.empty()) entries.push_back("2:" + row.status);
  EXPECT_EQ(statusLog_.Entries(), entries);
  const auto errors = sink_.Errors();
  ASSERT_EQ(errors.size(), row.report.empty() ? 0u : 1u);
  if (!row.report.empty()) {
    EXPECT_NE(errors[0].find(": " + row.report + ".\n\r"), std::string::npos);
  }
  EXPECT_EQ(sink_.EndProcessCalls(), row.fatal ? 1 : 0);
  EXPECT_EQ(link_.Connected(), !row.fatal);
  EXPECT_EQ(line_->State().devicesOpen, row.fatal ? 0 : 1);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Writes, WriteOutcomeTest, testing::Values(
    WriteRow{"Whole", {IoStatus::kOk, 4, 0}, "", "", false},
    WriteRow{"ShortAtOnce", {IoStatus::kOk, 2, 0}, "Write timed out. (immediate)\r\n", "", false},
    WriteRow{"TimedOut", {IoStatus::kTimeout, 1, 0}, "", "Error writing data to port (overlapped)", false},
    WriteRow{"Aborted", {IoStatus::kFailed, 0, ECANCELED}, "Write aborted\r\n",
             "Error writing data to port (overlapped)", false},
    WriteRow{"DeviceFailed", {IoStatus::kFailed, 0, EIO}, "", "WriteFile (in Writer)", true}),
    [](const auto& row) { return row.param.name; });
// clang-format on

TEST_F(SerialLinkFaultTest,
       AFailedReadClosesThePortFromTheReaderAndEndsTheRunAndConnectWorksAgain) {
  Connect();
  line_->FailReads(EIO);
  ASSERT_TRUE(sink_.WaitForEnds(1));
  ASSERT_TRUE(line_->WaitForDeviceClosed());
  EXPECT_FALSE(link_.Connected());
  ASSERT_EQ(sink_.Errors().size(), 1u);
  EXPECT_EQ(sink_.Errors()[0].rfind("Error 5: ReadFile in ReaderAndStatusProc.\n\r", 0), 0u);
  EXPECT_EQ(sink_.DebugLines(), sink_.Errors());  // the report itself, no "didn't exit"
  EXPECT_FALSE(link_.ClosePort());

  line_->FailReads(0);
  Connect();
  line_->Receive("back");
  EXPECT_TRUE(receiver_.WaitForBytes(4));
  EXPECT_TRUE(link_.ClosePort());
}

class SlowStopTest : public SerialLinkFaultTest {
 protected:
  SlowStopTest() : SerialLinkFaultTest(LinkTimings{.closeWaitLimit = 50ms}) {}
};

TEST_F(SlowStopTest, ThreadsThatDoNotEndInTimeAreNamedAndTheRunEnds) {
  line_->Change([](LineState& state) { state.ignoreStop = true; });
  Connect();
  ASSERT_TRUE(line_->WaitForReads(1));
  EXPECT_TRUE(link_.ClosePort());
  ASSERT_FALSE(sink_.DebugLines().empty());
  EXPECT_EQ(sink_.DebugLines()[0], "Reader/Status Thread didn't exit.\n\r");
  ASSERT_EQ(sink_.Errors().size(), 1u);
  EXPECT_NE(sink_.Errors()[0].find(": Error closing port..\n\r"), std::string::npos);
  EXPECT_EQ(sink_.EndProcessCalls(), 1);
  line_->Change([](LineState& state) { state.released = true; });  // the destructor joins
}

// The link is destroyed while its reader is still in the fatal path, inside EndProcess
// (held there on cue). The destructor waits for it holding no lock and not without bound:
// it names the thread and reports "Error closing port.".
TEST(SerialLinkTeardown, WaitsBoundedForAReaderStillInItsFatalPath) {
  struct Parts {
    std::shared_ptr<FakeLine> line = std::make_shared<FakeLine>();
    test::RecordingReceiver receiver;
    StatusLog statusLog;
    test::WaitableErrorSink sink;
    ErrorReporter reporter{sink};
    std::unique_ptr<SerialLink> link;
  };
  // Shared with the destroying thread, so that a regression that never ends leaks the
  // parts rather than destroying them under it.
  auto parts = std::make_shared<Parts>();
  parts->sink.firstEnd.Arm();
  parts->link =
      std::make_unique<SerialLink>(parts->receiver, parts->statusLog, parts->reporter,
                                   FactoryOf(parts->line), LinkTimings{.closeWaitLimit = 50ms});
  ASSERT_EQ(parts->link->OpenPort(PortSettings{}), OpenOutcome::kConnected);
  parts->line->FailReads(EIO);
  ASSERT_TRUE(parts->sink.firstEnd.WaitReached());
  ASSERT_TRUE(parts->line->WaitForDeviceClosed());

  std::promise<void> destroyed;
  auto done = destroyed.get_future();
  std::thread([parts, destroyed = std::move(destroyed)]() mutable {
    parts->link.reset();
    destroyed.set_value();
  }).detach();
  EXPECT_TRUE(parts->sink.WaitForEnds(2));
  parts->sink.firstEnd.Release();
  ASSERT_EQ(done.wait_for(test::kTestWait), std::future_status::ready);
  const auto errors = parts->sink.Errors();
  ASSERT_EQ(errors.size(), 2u);
  EXPECT_NE(errors[1].find(": Error closing port..\n\r"), std::string::npos);
  const auto debug = parts->sink.DebugLines();
  EXPECT_NE(std::find(debug.begin(), debug.end(), "Reader/Status Thread didn't exit.\n\r"),
            debug.end());
}

}  // namespace
}  // namespace tavrin::serial
