// The link against an in-memory device whose line state, errors and write outcomes the
// test drives.
#include <gtest/gtest.h>

#include <future>

#include "serial/error_reporter.h"
#include "serial/serial_link.h"
#include "serial/status_log.h"
#include "serial_fakes.h"
#include "support/cue.h"

namespace tavrin::serial {
namespace {

using namespace std::chrono_literals;

using test::FakeLine;
using test::FakeSerialDevice;

bool Contains(const std::vector<std::string>& lines, std::string_view part) {
  for (const auto& line : lines) {
    if (line.find(part) != std::string::npos) return true;
  }
  return false;
}

class SerialLinkFaultTest : public testing::Test {
 protected:
  explicit SerialLinkFaultTest(LinkTimings timings = {})
      : link_(receiver_, statusLog_, reporter_, Factory(), timings) {}

  DeviceFactory Factory() {
    return [line = line_](std::string_view) -> std::unique_ptr<SerialDevice> {
      return std::make_unique<FakeSerialDevice>(line);
    };
  }

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
  line_->SetCounters({});
  line_->SetModemLines({});
  Connect();
  ASSERT_TRUE(line_->WaitForReads(1));  // the reader has taken its first look
  line_->SetInputQueued(row.inputQueued);
  line_->SetModemLines(row.lines);
  line_->SetCounters(row.counters);
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

INSTANTIATE_TEST_SUITE_P(
    Events, LineEventTest,
    testing::Values(
        LineEventRow{"Frame",
                     {.frame = 1},
                     {},
                     5,
                     {"EVENT: ERR \n", "ERROR: FRAME \n", "5 bytes in input buffer.\r\n"}},
        LineEventRow{"ParityAndOverrun",
                     {.overrun = 2, .parity = 1},
                     {},
                     0,
                     {"EVENT: ERR \n", "ERROR: OVERRUN RXPARITY \n"}},
        LineEventRow{"Break", {.brk = 1}, {}, 0, {"EVENT: BREAK \n"}},
        LineEventRow{"CtsAndCarrier", {}, {.cts = true, .rlsd = true}, 0, {"EVENT: CTS RLSD \n"}}),
    [](const auto& row) { return row.param.name; });

// A port whose modem lines and error counters cannot be read (not a device without
// them) is reported at the reader's first look, and the link goes on reading.
TEST_F(SerialLinkFaultTest, FailedLineLooksAreReportedAndReadingGoesOn) {
  line_->FailModemLines(EIO);
  line_->FailCounters(EIO);
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
  ASSERT_TRUE(line_->WaitForWrites(1));  // the writer is stuck on 'a'
  int queued = 0;
  while (queued <= static_cast<int>(kMaxWriterPackets) && link_.QueueCharWrite('b')) ++queued;
  EXPECT_EQ(queued, static_cast<int>(kMaxWriterPackets));
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
  line_->SetWriteResult(row.result);
  const std::array<std::uint8_t, 4> frame{2, 0, 1, 3};
  EXPECT_EQ(link_.WriterGeneric(frame), row.result.count);

  const auto entries = statusLog_.Entries();
  if (row.status.empty()) {
    EXPECT_EQ(entries.size(), 1u);
  } else {
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[1], "2:" + row.status);
  }
  const auto errors = sink_.Errors();
  EXPECT_EQ(errors.empty(), row.report.empty());
  if (!row.report.empty()) {
    EXPECT_TRUE(Contains(errors, ": " + row.report + ".\n\r"));
  }
  EXPECT_EQ(sink_.EndProcessCalls(), row.fatal ? 1 : 0);
  EXPECT_EQ(link_.Connected(), !row.fatal);
  EXPECT_EQ(line_->DeviceOpen(), !row.fatal);
}

INSTANTIATE_TEST_SUITE_P(
    Writes, WriteOutcomeTest,
    testing::Values(
        WriteRow{"Whole", {IoStatus::kOk, 4, 0}, "", "", false},
        WriteRow{
            "ShortAtOnce", {IoStatus::kOk, 2, 0}, "Write timed out. (immediate)\r\n", "", false},
        WriteRow{"TimedOut",
                 {IoStatus::kTimeout, 1, 0},
                 "",
                 "Error writing data to port (overlapped)",
                 false},
        WriteRow{"Aborted",
                 {IoStatus::kFailed, 0, ECANCELED},
                 "Write aborted\r\n",
                 "Error writing data to port (overlapped)",
                 false},
        WriteRow{"DeviceFailed", {IoStatus::kFailed, 0, EIO}, "", "WriteFile (in Writer)", true}),
    [](const auto& row) { return row.param.name; });

TEST_F(SerialLinkFaultTest, AFailedReadClosesThePortFromTheReaderAndEndsTheRun) {
  Connect();
  line_->FailReads(EIO);
  ASSERT_TRUE(sink_.WaitForEndProcess());
  ASSERT_TRUE(line_->WaitForDeviceClosed());
  EXPECT_FALSE(link_.Connected());
  ASSERT_EQ(sink_.Errors().size(), 1u);
  EXPECT_EQ(sink_.Errors()[0].rfind("Error 5: ReadFile in ReaderAndStatusProc.\n\r", 0), 0u);
  EXPECT_TRUE(sink_.DebugLines().size() == 1u);  // the report itself, no "didn't exit"
  EXPECT_FALSE(link_.ClosePort());
}

TEST_F(SerialLinkFaultTest, AfterAFatalErrorConnectWorksAgain) {
  Connect();
  line_->FailReads(EIO);
  ASSERT_TRUE(sink_.WaitForEndProcess());
  ASSERT_TRUE(line_->WaitForDeviceClosed());
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
  line_->IgnoreStop();
  Connect();
  ASSERT_TRUE(line_->WaitForReads(1));
  EXPECT_TRUE(link_.ClosePort());
  ASSERT_FALSE(sink_.DebugLines().empty());
  EXPECT_EQ(sink_.DebugLines()[0], "Reader/Status Thread didn't exit.\n\r");
  ASSERT_EQ(sink_.Errors().size(), 1u);
  EXPECT_NE(sink_.Errors()[0].find(": Error closing port..\n\r"), std::string::npos);
  EXPECT_EQ(sink_.EndProcessCalls(), 1);
  line_->Release();  // the reader ends; the link's destructor joins it
}

// An error sink whose first end of the run stops on cue, as a window's would if it waited
// for its busy UI thread.
class HeldEndSink final : public test::WaitableErrorSink {
 public:
  void EndProcess() override {
    int ends = 0;
    {
      std::lock_guard lock(mutex_);
      ends = ++ends_;
    }
    changed_.notify_all();
    if (ends == 1) firstEnd.Hold();
  }
  bool WaitForEnds(int count) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, test::kTestWait, [&] { return ends_ >= count; });
  }
  tavrin::test::Cue firstEnd;

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  int ends_ = 0;
};

// The link is destroyed while its reader is still in the fatal path (it has closed the
// port itself and is inside EndProcess). The destructor waits for it holding no lock,
// and not without bound: it names the thread and reports "Error closing port.", and the
// link goes once the reader has ended.
TEST(SerialLinkTeardown, WaitsBoundedForAReaderStillInItsFatalPath) {
  struct Parts {
    std::shared_ptr<FakeLine> line = std::make_shared<FakeLine>();
    test::RecordingReceiver receiver;
    StatusLog statusLog;
    HeldEndSink sink;
    ErrorReporter reporter{sink};
    std::unique_ptr<SerialLink> link;
  };
  // Shared with the destroying thread, so that a regression that never ends leaks the
  // parts rather than destroying them under it.
  auto parts = std::make_shared<Parts>();
  parts->sink.firstEnd.Arm();
  parts->link = std::make_unique<SerialLink>(
      parts->receiver, parts->statusLog, parts->reporter,
      [line = parts->line](std::string_view) { return std::make_unique<FakeSerialDevice>(line); },
      LinkTimings{.closeWaitLimit = 50ms});
  ASSERT_EQ(parts->link->OpenPort(PortSettings{}), OpenOutcome::kConnected);
  parts->line->FailReads(EIO);
  ASSERT_TRUE(parts->sink.WaitForEnds(1));  // the reader is inside EndProcess
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
