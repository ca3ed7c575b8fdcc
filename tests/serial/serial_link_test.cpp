// The link on a pseudo-terminal (the test is the target) and on an in-memory line.
#include "serial/serial_link.h"

#include <gtest/gtest.h>
#include <termios.h>

#include <cstring>
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
using test::LineState;

constexpr std::string_view kFake = "fake";  // the port of the in-memory line

// A link that opens kFake as the test's in-memory line and any other name as a real port.
struct LinkRig {
  explicit LinkRig(std::chrono::milliseconds closeWaitLimit = 1s,
                   std::chrono::milliseconds writerIdleWait = kWriterIdleWait)
      : link(std::make_unique<SerialLink>(
            receiver, statusLog, reporter,
            [line = line](std::string_view name) -> std::unique_ptr<SerialDevice> {
              if (name == kFake) return std::make_unique<test::FakeSerialDevice>(line);
              return PosixDeviceFactory()(name);
            },
            LinkTimings{.closeWaitLimit = closeWaitLimit, .writerIdleWait = writerIdleWait})) {}

  void Connect(std::string_view port = kFake, std::uint32_t baudRate = 115200) {
    PortSettings settings;
    settings.portName = port;
    settings.baudRate = baudRate;
    ASSERT_EQ(link->OpenPort(settings), OpenOutcome::kConnected);
  }
  bool ReaderWaiting() {
    return line->WaitUntil([](const LineState& state) { return state.reads > 0; });
  }
  void ExpectNoReports() {
    EXPECT_TRUE(sink.Errors().empty());
    EXPECT_EQ(sink.EndProcessCalls(), 0);
  }

  std::shared_ptr<test::FakeLine> line = std::make_shared<test::FakeLine>();
  test::RecordingReceiver receiver;
  StatusLog statusLog;
  test::WaitableErrorSink sink;
  ErrorReporter reporter{sink};
  std::unique_ptr<SerialLink> link;
};

class SerialLinkTest : public testing::Test, public LinkRig {
 protected:
  void SetUp() override { ASSERT_TRUE(pty.Valid()); }

  // Connects to the pseudo-terminal and checks that what the target sends arrives.
  void ConnectAndReceive(const std::string& text) {
    Connect(pty.SlavePath());
    ASSERT_TRUE(pty.Send(text));
    ASSERT_TRUE(receiver.WaitFor(text));
  }

  test::PseudoTerminal pty;
};

TEST_F(SerialLinkTest, AFrameTheDeviceRefusesIsReportedAndTheConnectionStillMade) {
  PortSettings settings;
  settings.portName = pty.SlavePath();
  settings.dataBits = 5;
  settings.stopBits = kStopBitsTwo;
  ASSERT_EQ(link->OpenPort(settings), OpenOutcome::kConnected);
  ASSERT_EQ(sink.Errors().size(), 1u);
  EXPECT_EQ(sink.Errors()[0].rfind("Error 22: SetCommState.\n\r", 0), 0u);
  termios tio{};
  ASSERT_EQ(::tcgetattr(pty.Master(), &tio), 0);
  EXPECT_EQ(tio.c_lflag & (ICANON | ECHO), 0u);  // raw all the same: nothing is echoed
  EXPECT_EQ(tio.c_cflag & CSTOPB, 0u);           // the previous frame is kept
}

TEST_F(SerialLinkTest, ABurstArrivesInOrderInBlocksOfAtMostThreeThousandBytes) {
  std::string burst(5000, '\0');
  for (std::size_t i = 0; i < burst.size(); ++i) burst[i] = static_cast<char>('a' + i % 26);
  ConnectAndReceive(burst);
  EXPECT_EQ(receiver.Received(), burst);
  EXPECT_LE(receiver.LargestBlock(), kReadBufferSize);
}

TEST_F(SerialLinkTest, TypedKeysNeverLandInsideAFrame) {
  Connect(pty.SlavePath());
  constexpr std::size_t kFrames = 40;
  constexpr std::size_t kKeys = 100;
  const std::string frame = "\x02" + std::string(500, 'F') + "\x03";
  auto target =
      std::async(std::launch::async, [&] { return pty.Receive(kFrames * frame.size() + kKeys); });
  std::thread transfer([&] {
    for (std::size_t i = 0; i < kFrames; ++i) {
      EXPECT_EQ(link->WriterGeneric(AsBytes(frame)), frame.size());
    }
  });
  for (std::size_t i = 0; i < kKeys; ++i) EXPECT_TRUE(link->QueueCharWrite('k'));
  transfer.join();

  std::string text = target.get();
  ASSERT_EQ(text.size(), kFrames * frame.size() + kKeys);
  for (auto at = text.find(frame); at != std::string::npos; at = text.find(frame, at)) {
    text.erase(at, frame.size());
  }
  EXPECT_EQ(text, std::string(kKeys, 'k'));  // every frame was whole
  ExpectNoReports();
}

// What is queued wakes the writer: with an idle period longer than every wait here, each
// key and line still goes out at once. Each is queued while the writer sleeps, so that
// nothing but the wake-up can send it.
TEST(SerialLinkWriter, AQueuedKeyOrLineWakesTheWriter) {
  test::PseudoTerminal pty;
  ASSERT_TRUE(pty.Valid());
  LinkRig rig(1s, std::chrono::hours{1});
  rig.Connect(pty.SlavePath());
  for (const char key : std::string("ab")) {
    ASSERT_TRUE(rig.link->WaitUntilWriterIdle(test::kTestWait));
    ASSERT_TRUE(rig.link->QueueCharWrite(static_cast<std::uint8_t>(key)));
    ASSERT_EQ(pty.Receive(1), std::string(1, key));
  }
  const std::string line = "line\r";
  ASSERT_TRUE(rig.link->WaitUntilWriterIdle(test::kTestWait));
  ASSERT_TRUE(rig.link->QueueWrite(AsBytes(line)));
  EXPECT_EQ(pty.Receive(line.size()), line);
  EXPECT_TRUE(rig.link->ClosePort());  // the stop ends the writer's long wait
}

TEST_F(SerialLinkTest, DisconnectDuringAPendingReadEndsQuietlyAndConnectWorksAgain) {
  termios found{};
  ASSERT_EQ(::tcgetattr(pty.Master(), &found), 0);  // the master shows the slave's settings
  ConnectAndReceive("first");
  EXPECT_TRUE(link->ClosePort());
  EXPECT_FALSE(link->Connected());
  EXPECT_FALSE(link->ClosePort());
  termios restored{};
  ASSERT_EQ(::tcgetattr(pty.Master(), &restored), 0);
  EXPECT_EQ(restored.c_lflag, found.c_lflag);
  EXPECT_EQ(restored.c_iflag, found.c_iflag);
  EXPECT_EQ(restored.c_cflag, found.c_cflag);

  ConnectAndReceive("second");
  EXPECT_TRUE(link->QueueCharWrite('z'));  // the writer runs again too
  EXPECT_EQ(pty.Receive(1), "z");
  EXPECT_EQ(statusLog.Count(), 1u);
  ExpectNoReports();
}

TEST_F(SerialLinkTest, DisconnectDuringAPendingWriteEndsItWithNothingWritten) {
  Connect(pty.SlavePath());
  // More than the pseudo-terminal holds while the target does not read.
  const std::string big(1 << 20, 'x');
  auto writer = std::async(std::launch::async, [&] { return link->WriterGeneric(AsBytes(big)); });
  ASSERT_TRUE(test::WaitFd(pty.Master(), POLLIN));  // the write has begun
  EXPECT_TRUE(link->ClosePort());
  EXPECT_EQ(writer.get(), 0u);
  EXPECT_EQ(link->WriterGeneric(AsBytes(big)), 0u);  // no connection, nothing written
  EXPECT_FALSE(link->QueueCharWrite('k'));           // no writer queue
  ConnectAndReceive("again");
  ExpectNoReports();
}

// Several errors in one line, and their order, are named in the line status tests.
TEST(SerialLinkEvents, AreLoggedAndReadingGoesOn) {
  // clang-format off
  const struct {
    const char* name;
    LineCounters counters;
    ModemLines lines;
    std::size_t inputQueued;
    std::vector<std::string> logged;  // after "1:Status message go here:"
  } rows[] = {
      {"frame", {.frame = 1}, {}, 5,
       {"2:EVENT: ERR \n", "3:ERROR: FRAME \n", "4:5 bytes in input buffer.\r\n"}},
      {"break", {.brk = 1}, {}, 0, {"2:EVENT: BREAK \n"}},
      {"CTS and carrier", {}, {.cts = true, .rlsd = true}, 0, {"2:EVENT: CTS RLSD \n"}}};
  // clang-format on
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    LinkRig rig;
    rig.line->Change([](LineState& state) {
      state.counters = LineCounters{};
      state.lines = ModemLines{};
    });
    rig.Connect();
    ASSERT_TRUE(rig.ReaderWaiting());  // the reader has taken its first look
    rig.line->Change([&](LineState& state) {
      state.inputQueued = row.inputQueued;
      state.lines = row.lines;
      state.counters = row.counters;
    });
    ASSERT_TRUE(rig.statusLog.WaitForCount(1 + row.logged.size(), test::kTestWait));
    rig.line->Receive("still reading");
    ASSERT_TRUE(rig.receiver.WaitFor("still reading"));
    std::vector<std::string> expected{"1:Status message go here:\r\n"};
    expected.insert(expected.end(), row.logged.begin(), row.logged.end());
    EXPECT_EQ(rig.statusLog.Entries(), expected);
    rig.ExpectNoReports();
  }
}

// Lines and counters that cannot be read are reported at the first look; reading goes on.
TEST(SerialLinkEvents, FailedLineLooksAreReportedAndReadingGoesOn) {
  LinkRig rig;
  rig.line->Change([](LineState& state) {
    state.linesError = EIO;
    state.countersError = EIO;
  });
  rig.Connect();
  ASSERT_TRUE(rig.ReaderWaiting());
  const auto errors = rig.sink.Errors();
  ASSERT_GE(errors.size(), 2u);
  EXPECT_EQ(errors[0], "Error 5: GetCommModemStatus.\n\rInput/output error\r\n");
  EXPECT_EQ(errors[1], "Error 5: ClearCommError.\n\rInput/output error\r\n");
  rig.line->Receive("on");
  EXPECT_TRUE(rig.receiver.WaitFor("on"));
  EXPECT_TRUE(rig.link->Connected());
  EXPECT_EQ(rig.sink.EndProcessCalls(), 0);
}

TEST(SerialLinkWrites, TypedCharactersAreRefusedWithoutAWriterAndReportedWhenTheQueueIsFull) {
  LinkRig rig;
  EXPECT_FALSE(rig.link->QueueCharWrite('a'));
  EXPECT_TRUE(rig.sink.Errors().empty());
  rig.line->HoldWrites();
  rig.Connect();
  ASSERT_TRUE(rig.link->QueueCharWrite('a'));
  ASSERT_TRUE(rig.line->WaitForWrites(1));  // the writer is stuck on 'a'
  std::size_t queued = 0;
  while (queued <= kMaxWriterPackets && rig.link->QueueCharWrite('b')) ++queued;
  EXPECT_EQ(queued, kMaxWriterPackets);
  ASSERT_EQ(rig.sink.Errors().size(), 1u);
  EXPECT_NE(rig.sink.Errors()[0].find("HeapAlloc (writer packet)"), std::string::npos);
  EXPECT_TRUE(rig.link->ClosePort());  // the stuck write gives up, the queue is dropped
  EXPECT_EQ(rig.line->Written(), "");
  EXPECT_EQ(rig.sink.EndProcessCalls(), 0);
}

TEST(SerialLinkWrites, AnOutcomeIsReportedAsItsKindRequires) {
  // clang-format off
  const struct {
    const char* name;
    IoResult result;
    std::string status;  // the status message added, if any
    std::string report;  // the step reported, if any
    bool fatal;
  } rows[] = {
      {"whole", {IoStatus::kOk, 4, 0}, "", "", false},
      {"short at once", {IoStatus::kOk, 2, 0}, "Write timed out. (immediate)\r\n", "", false},
      {"timed out", {IoStatus::kTimeout, 1, 0}, "", "Error writing data to port (overlapped)", false},
      {"aborted", {IoStatus::kFailed, 0, ECANCELED}, "Write aborted\r\n",
       "Error writing data to port (overlapped)", false},
      {"device failed", {IoStatus::kFailed, 0, EIO}, "", "WriteFile (in Writer)", true}};
  // clang-format on
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    LinkRig rig;
    rig.Connect();
    rig.line->Change([&](LineState& state) { state.writeResult = row.result; });
    EXPECT_EQ(rig.link->WriterGeneric(std::array<std::uint8_t, 4>{2, 0, 1, 3}), row.result.count);
    std::vector<std::string> entries{"1:Status message go here:\r\n"};
    if (!row.status.empty()) entries.push_back("2:" + row.status);
    EXPECT_EQ(rig.statusLog.Entries(), entries);
    const auto errors = rig.sink.Errors();
    ASSERT_EQ(errors.size(), row.report.empty() ? 0u : 1u);
    if (!row.report.empty()) {
      EXPECT_NE(errors[0].find(": " + row.report + ".\n\r"), std::string::npos);
    }
    EXPECT_EQ(rig.sink.EndProcessCalls(), row.fatal ? 1 : 0);
    EXPECT_EQ(rig.link->Connected(), !row.fatal);
    EXPECT_EQ(rig.line->State().devicesOpen, row.fatal ? 0 : 1);
  }
}

// A write waits at most 5 s and twice its own line time (10 bits a byte) for the port to
// take it; one that times out is reported with the system's text and counts as short.
TEST(SerialLinkWrites, AWriteWaitsFiveSecondsAndTwiceItsLineTime) {
  const struct {
    std::size_t bytes;
    std::uint32_t baud;
    std::chrono::milliseconds limit;
  } rows[] = {
      {1, 115200, 5000ms}, {3000, 115200, 5520ms}, {3000, 9600, 11250ms}, {576, 1200, 14600ms}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.bytes);
    LinkRig rig;
    rig.Connect(kFake, row.baud);
    EXPECT_EQ(rig.link->WriterGeneric(std::vector<std::uint8_t>(row.bytes, 'x')), row.bytes);
    EXPECT_EQ(rig.line->State().writeLimits, std::vector<std::chrono::milliseconds>{row.limit});
  }
  LinkRig rig;
  rig.Connect();
  rig.line->Change([](LineState& state) { state.writeResult = {IoStatus::kTimeout, 1, 0}; });
  EXPECT_EQ(rig.link->WriterGeneric(std::array<std::uint8_t, 4>{2, 0, 1, 3}), 1u);
  ASSERT_EQ(rig.sink.Errors().size(), 1u);
  EXPECT_EQ(rig.sink.Errors()[0], "Error " + std::to_string(ETIMEDOUT) +
                                      ": Error writing data to port (overlapped).\n\r" +
                                      ::strerrordesc_np(ETIMEDOUT) + "\r\n");
  EXPECT_TRUE(rig.link->Connected());
}

TEST(SerialLinkFatal, AFailedReadClosesThePortFromTheReaderAndEndsTheRunAndConnectWorksAgain) {
  LinkRig rig;
  rig.Connect();
  rig.line->FailReads(EIO);
  ASSERT_TRUE(rig.sink.WaitForEnds(1));
  ASSERT_TRUE(rig.line->WaitUntil([](const LineState& state) { return state.devicesOpen == 0; }));
  EXPECT_FALSE(rig.link->Connected());
  ASSERT_EQ(rig.sink.Errors().size(), 1u);
  EXPECT_EQ(rig.sink.Errors()[0].rfind("Error 5: ReadFile in ReaderAndStatusProc.\n\r", 0), 0u);
  EXPECT_EQ(rig.sink.DebugLines(), rig.sink.Errors());  // the report itself, no "didn't exit"
  EXPECT_FALSE(rig.link->ClosePort());

  rig.line->FailReads(0);
  rig.Connect();
  rig.line->Receive("back");
  EXPECT_TRUE(rig.receiver.WaitFor("back"));
  EXPECT_TRUE(rig.link->ClosePort());
}

// The reader is held inside OutputABuffer, so it does not see the stop signal.
TEST(SerialLinkFatal, ThreadsThatDoNotEndInTimeAreNamedAndTheRunEnds) {
  LinkRig rig;
  rig.receiver.hold.Arm();
  rig.Connect();
  rig.line->Receive("held");
  ASSERT_TRUE(rig.receiver.hold.WaitReached());
  EXPECT_TRUE(rig.link->ClosePort());
  ASSERT_FALSE(rig.sink.DebugLines().empty());
  EXPECT_EQ(rig.sink.DebugLines()[0], "Reader/Status Thread didn't exit.\n\r");
  ASSERT_EQ(rig.sink.Errors().size(), 1u);
  EXPECT_NE(rig.sink.Errors()[0].find(": Error closing port..\n\r"), std::string::npos);
  EXPECT_EQ(rig.sink.EndProcessCalls(), 1);
  rig.receiver.hold.Release();  // the reader ends; the link's destructor joins it
}

// A link destroyed while its reader is held in the fatal path waits bounded, without a lock.
TEST(SerialLinkTeardown, WaitsBoundedForAReaderStillInItsFatalPath) {
  // Shared with the destroying thread: a regression that never ends leaks it.
  auto rig = std::make_shared<LinkRig>(50ms);
  rig->sink.firstEnd.Arm();
  rig->Connect();
  rig->line->FailReads(EIO);
  ASSERT_TRUE(rig->sink.firstEnd.WaitReached());
  ASSERT_TRUE(rig->line->WaitUntil([](const LineState& state) { return state.devicesOpen == 0; }));

  std::promise<void> destroyed;
  auto done = destroyed.get_future();
  std::thread([rig, destroyed = std::move(destroyed)]() mutable {
    rig->link.reset();
    destroyed.set_value();
  }).detach();
  EXPECT_TRUE(rig->sink.WaitForEnds(2));
  rig->sink.firstEnd.Release();
  ASSERT_EQ(done.wait_for(test::kTestWait), std::future_status::ready);
  const auto errors = rig->sink.Errors();
  ASSERT_EQ(errors.size(), 2u);
  EXPECT_NE(errors[1].find(": Error closing port..\n\r"), std::string::npos);
  const auto debug = rig->sink.DebugLines();
  EXPECT_NE(std::find(debug.begin(), debug.end(), "Reader/Status Thread didn't exit.\n\r"),
            debug.end());
}

// The rest of a frame gathers for its line time, but never into its last 64 bytes, past
// 2 KiB or 20 ms, and not at all without a frame part-way in or a known speed.
TEST(GatherTime, IsTheLineTimeOfTheFramesBytesBeforeItsLastWithinTheLimits) {
  const struct {
    std::size_t coming;
    std::uint32_t baud;
    unsigned characterBits;
    long long micros;
  } rows[] = {{0, 115200, 10, 0},      {64, 115200, 10, 0},       {65, 115200, 10, 86},
              {164, 115200, 11, 9548}, {3000, 115200, 10, 20000}, {3000, 2000000, 10, 10240},
              {1000, 0, 10, 0}};
  for (const auto& row : rows) {
    EXPECT_EQ(GatherTime(row.coming, row.baud, row.characterBits).count(), row.micros)
        << row.coming << " bytes at " << row.baud;
  }
}

}  // namespace
}  // namespace tavrin::serial
