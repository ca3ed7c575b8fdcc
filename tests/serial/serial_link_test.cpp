// The link on a pseudo-terminal (the test plays the target on the master side) and on
// an in-memory device whose line state, errors and writes the test drives.
#include "serial/serial_link.h"

#include <gtest/gtest.h>
#include <termios.h>

#include <future>
#include <thread>

#include "serial/error_reporter.h"
#include "serial/status_log.h"
#include "serial_fakes.h"
#include "support/temp_files.h"

namespace tavrin::serial {
namespace {

using namespace std::chrono_literals;
using tavrin::test::AsBytes;
using test::FakeLine;
using test::LineState;

constexpr std::string_view kFake = "fake";  // the port of the in-memory device

// Opens kFake as the test's in-memory line, anything else as a real port.
DeviceFactory FactoryOf(std::shared_ptr<FakeLine> line) {
  return [line](std::string_view name) -> std::unique_ptr<SerialDevice> {
    if (name == kFake) return std::make_unique<test::FakeSerialDevice>(line);
    return PosixDeviceFactory()(name);
  };
}

class SerialLinkTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(pty_.Valid()); }

  void Connect(std::string_view port = kFake) {
    PortSettings settings;
    settings.portName = port == kFake ? std::string(kFake) : pty_.SlavePath();
    ASSERT_EQ(link_.OpenPort(settings), OpenOutcome::kConnected);
  }
  // Connects to the pseudo-terminal and checks that what the target sends arrives.
  void ConnectAndReceive(const std::string& text) {
    Connect(pty_.SlavePath());
    ASSERT_TRUE(pty_.Send(text));
    ASSERT_TRUE(receiver_.WaitFor(text));
  }
  void ExpectNoReports() {
    EXPECT_TRUE(sink_.Errors().empty());
    EXPECT_EQ(sink_.EndProcessCalls(), 0);
  }

  test::PseudoTerminal pty_;
  std::shared_ptr<FakeLine> line_ = std::make_shared<FakeLine>();
  test::RecordingReceiver receiver_;
  StatusLog statusLog_;
  test::WaitableErrorSink sink_;
  ErrorReporter reporter_{sink_};
  SerialLink link_{receiver_, statusLog_, reporter_, FactoryOf(line_),
                   LinkTimings{.closeWaitLimit = 1s}};
};

TEST_F(SerialLinkTest, AFrameTheDeviceRefusesIsReportedAndTheConnectionStillMade) {
  PortSettings settings;
  settings.portName = pty_.SlavePath();
  settings.dataBits = 5;
  settings.stopBits = kStopBitsTwo;
  ASSERT_EQ(link_.OpenPort(settings), OpenOutcome::kConnected);
  ASSERT_EQ(sink_.Errors().size(), 1u);
  EXPECT_EQ(sink_.Errors()[0].rfind("Error 22: SetCommState.\n\r", 0), 0u);
  termios line{};
  ASSERT_EQ(::tcgetattr(pty_.Master(), &line), 0);
  EXPECT_EQ(line.c_lflag & (ICANON | ECHO), 0u);  // raw all the same: nothing is echoed
  EXPECT_EQ(line.c_cflag & CSTOPB, 0u);           // the previous frame is kept
}

TEST_F(SerialLinkTest, ABurstArrivesInOrderInBlocksOfAtMostThreeThousandBytes) {
  std::string burst(5000, '\0');
  for (std::size_t i = 0; i < burst.size(); ++i) burst[i] = static_cast<char>('a' + i % 26);
  ConnectAndReceive(burst);
  EXPECT_EQ(receiver_.Received(), burst);
  EXPECT_LE(receiver_.LargestBlock(), kReadBufferSize);
}

TEST_F(SerialLinkTest, TypedKeysNeverLandInsideAFrame) {
  Connect(pty_.SlavePath());
  constexpr std::size_t kFrames = 40;
  constexpr std::size_t kKeys = 100;
  const std::string frame = "\x02" + std::string(500, 'F') + "\x03";
  auto target =
      std::async(std::launch::async, [&] { return pty_.Receive(kFrames * frame.size() + kKeys); });
  std::thread transfer([&] {
    for (std::size_t i = 0; i < kFrames; ++i) {
      EXPECT_EQ(link_.WriterGeneric(AsBytes(frame)), frame.size());
    }
  });
  for (std::size_t i = 0; i < kKeys; ++i) EXPECT_TRUE(link_.QueueCharWrite('k'));
  transfer.join();

  std::string line = target.get();
  ASSERT_EQ(line.size(), kFrames * frame.size() + kKeys);
  for (auto at = line.find(frame); at != std::string::npos; at = line.find(frame, at)) {
    line.erase(at, frame.size());
  }
  EXPECT_EQ(line, std::string(kKeys, 'k'));  // every frame was whole
  ExpectNoReports();
}

TEST_F(SerialLinkTest, DisconnectDuringAPendingReadEndsQuietlyAndConnectWorksAgain) {
  termios found{};
  ASSERT_EQ(::tcgetattr(pty_.Master(), &found), 0);  // the master shows the slave's settings
  ConnectAndReceive("first");
  EXPECT_TRUE(link_.ClosePort());
  EXPECT_FALSE(link_.Connected());
  EXPECT_FALSE(link_.ClosePort());
  termios restored{};
  ASSERT_EQ(::tcgetattr(pty_.Master(), &restored), 0);
  EXPECT_EQ(restored.c_lflag, found.c_lflag);
  EXPECT_EQ(restored.c_iflag, found.c_iflag);
  EXPECT_EQ(restored.c_cflag, found.c_cflag);

  ConnectAndReceive("second");
  EXPECT_TRUE(link_.QueueCharWrite('z'));
  EXPECT_EQ(pty_.Receive(1), "z");
  EXPECT_TRUE(link_.ClosePort());
  EXPECT_EQ(statusLog_.Count(), 1u);
  ExpectNoReports();
}

TEST_F(SerialLinkTest, DisconnectDuringAPendingWriteEndsItWithNothingWritten) {
  Connect(pty_.SlavePath());
  // More than the pseudo-terminal holds while the target does not read.
  const std::string big(1 << 20, 'x');
  auto writer = std::async(std::launch::async, [&] { return link_.WriterGeneric(AsBytes(big)); });
  ASSERT_TRUE(test::WaitFd(pty_.Master(), POLLIN));  // the write has begun
  EXPECT_TRUE(link_.ClosePort());
  EXPECT_EQ(writer.get(), 0u);
  EXPECT_EQ(link_.WriterGeneric(AsBytes(big)), 0u);  // no connection, nothing written
  EXPECT_FALSE(link_.QueueCharWrite('k'));           // no writer queue
  ConnectAndReceive("again");
  ExpectNoReports();
}

struct LineEventRow {
  std::string name;
  LineCounters counters;
  ModemLines lines;
  std::size_t inputQueued;
  std::vector<std::string> messages;  // after "Status message go here:"
};

class LineEventTest : public SerialLinkTest, public testing::WithParamInterface<LineEventRow> {};

TEST_P(LineEventTest, IsLoggedAndReadingGoesOn) {
  const LineEventRow& row = GetParam();
  line_->Change([](LineState& state) {
    state.counters = LineCounters{};
    state.lines = ModemLines{};
  });
  Connect();
  ASSERT_TRUE(line_->WaitUntil([](const LineState& state) { return state.reads > 0; }));
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
  ASSERT_TRUE(receiver_.WaitFor("still reading"));
  EXPECT_EQ(statusLog_.Entries(), expected);
  ExpectNoReports();
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

// Lines and counters that cannot be read are reported at the first look; reading goes on.
TEST_F(SerialLinkTest, FailedLineLooksAreReportedAndReadingGoesOn) {
  line_->Change([](LineState& state) {
    state.linesError = EIO;
    state.countersError = EIO;
  });
  Connect();
  ASSERT_TRUE(line_->WaitUntil([](const LineState& state) { return state.reads > 0; }));
  const auto errors = sink_.Errors();
  ASSERT_GE(errors.size(), 2u);
  EXPECT_EQ(errors[0], "Error 5: GetCommModemStatus.\n\rInput/output error\r\n");
  EXPECT_EQ(errors[1], "Error 5: ClearCommError.\n\rInput/output error\r\n");
  line_->Receive("on");
  EXPECT_TRUE(receiver_.WaitFor("on"));
  EXPECT_TRUE(link_.Connected());
  EXPECT_EQ(sink_.EndProcessCalls(), 0);
}

TEST_F(SerialLinkTest, TypedCharactersAreRefusedWithoutAWriterAndReportedWhenTheQueueIsFull) {
  EXPECT_FALSE(link_.QueueCharWrite('a'));
  EXPECT_TRUE(sink_.Errors().empty());
  line_->HoldWrites();
  Connect();
  ASSERT_TRUE(link_.QueueCharWrite('a'));
  ASSERT_TRUE(line_->WaitForWrites(1));  // the writer is stuck on 'a'
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

class WriteOutcomeTest : public SerialLinkTest, public testing::WithParamInterface<WriteRow> {};

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

TEST_F(SerialLinkTest, AFailedReadClosesThePortFromTheReaderAndEndsTheRunAndConnectWorksAgain) {
  Connect();
  line_->FailReads(EIO);
  ASSERT_TRUE(sink_.WaitForEnds(1));
  ASSERT_TRUE(line_->WaitUntil([](const LineState& state) { return state.devicesOpen == 0; }));
  EXPECT_FALSE(link_.Connected());
  ASSERT_EQ(sink_.Errors().size(), 1u);
  EXPECT_EQ(sink_.Errors()[0].rfind("Error 5: ReadFile in ReaderAndStatusProc.\n\r", 0), 0u);
  EXPECT_EQ(sink_.DebugLines(), sink_.Errors());  // the report itself, no "didn't exit"
  EXPECT_FALSE(link_.ClosePort());

  line_->FailReads(0);
  Connect();
  line_->Receive("back");
  EXPECT_TRUE(receiver_.WaitFor("back"));
  EXPECT_TRUE(link_.ClosePort());
}

// The reader is held inside OutputABuffer, so it does not see the stop signal.
TEST_F(SerialLinkTest, ThreadsThatDoNotEndInTimeAreNamedAndTheRunEnds) {
  receiver_.hold.Arm();
  Connect();
  line_->Receive("held");
  ASSERT_TRUE(receiver_.hold.WaitReached());
  EXPECT_TRUE(link_.ClosePort());
  ASSERT_FALSE(sink_.DebugLines().empty());
  EXPECT_EQ(sink_.DebugLines()[0], "Reader/Status Thread didn't exit.\n\r");
  ASSERT_EQ(sink_.Errors().size(), 1u);
  EXPECT_NE(sink_.Errors()[0].find(": Error closing port..\n\r"), std::string::npos);
  EXPECT_EQ(sink_.EndProcessCalls(), 1);
  receiver_.hold.Release();  // the reader ends; the link's destructor joins it
}

// Destroyed while its reader is held in the fatal path's EndProcess, the link waits for
// it without a lock and bounded, names the thread and reports "Error closing port.".
TEST(SerialLinkTeardown, WaitsBoundedForAReaderStillInItsFatalPath) {
  struct Parts {
    std::shared_ptr<FakeLine> line = std::make_shared<FakeLine>();
    test::RecordingReceiver receiver;
    StatusLog statusLog;
    test::WaitableErrorSink sink;
    ErrorReporter reporter{sink};
    std::unique_ptr<SerialLink> link;
  };
  // Shared with the destroying thread: a regression that never ends leaks them.
  auto parts = std::make_shared<Parts>();
  parts->sink.firstEnd.Arm();
  parts->link =
      std::make_unique<SerialLink>(parts->receiver, parts->statusLog, parts->reporter,
                                   FactoryOf(parts->line), LinkTimings{.closeWaitLimit = 50ms});
  PortSettings settings;
  settings.portName = kFake;
  ASSERT_EQ(parts->link->OpenPort(settings), OpenOutcome::kConnected);
  parts->line->FailReads(EIO);
  ASSERT_TRUE(parts->sink.firstEnd.WaitReached());
  ASSERT_TRUE(
      parts->line->WaitUntil([](const LineState& state) { return state.devicesOpen == 0; }));

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
