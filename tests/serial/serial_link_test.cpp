// The link on real pseudo-terminals: the test plays the target on the master side.
#include "serial/serial_link.h"

#include <gtest/gtest.h>
#include <termios.h>

#include <future>
#include <thread>

#include "serial/error_reporter.h"
#include "serial/status_log.h"
#include "serial_fakes.h"

namespace tavrin::serial {
namespace {

using test::PseudoTerminal;

std::span<const std::uint8_t> Bytes(const std::string& text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

class SerialLinkTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pty_.Valid());
    settings_.portName = pty_.SlavePath();
  }

  void ExpectNoReports() {
    EXPECT_TRUE(sink_.Errors().empty());
    EXPECT_TRUE(sink_.DebugLines().empty());
    EXPECT_EQ(sink_.EndProcessCalls(), 0);
  }

  // A round trip: bytes the target sends reach OutputABuffer.
  void ExpectReceives(const std::string& text) {
    const std::size_t before = TotalReceived();
    ASSERT_TRUE(pty_.Send(Bytes(text)));
    ASSERT_TRUE(receiver_.WaitForBytes(before + text.size()));
  }

  std::size_t TotalReceived() const {
    std::size_t total = 0;
    for (const auto& block : receiver_.Blocks()) total += block.size();
    return total;
  }

  PseudoTerminal pty_;
  PortSettings settings_;
  test::RecordingReceiver receiver_;
  StatusLog statusLog_;
  test::WaitableErrorSink sink_;
  ErrorReporter reporter_{sink_};
  SerialLink link_{receiver_, statusLog_, reporter_};
};

TEST_F(SerialLinkTest, ASecondConnectionToTheSamePortIsRefused) {
  ASSERT_EQ(link_.OpenPort(settings_), OpenOutcome::kConnected);
  test::RecordingReceiver otherReceiver;
  SerialLink other(otherReceiver, statusLog_, reporter_);
  EXPECT_EQ(other.OpenPort(settings_), OpenOutcome::kNotAvailable);
  EXPECT_EQ(kPortNotAvailable, "Port is not available.");
  EXPECT_FALSE(other.Connected());
  EXPECT_TRUE(link_.Connected());
}

TEST_F(SerialLinkTest, AFrameTheDeviceRefusesIsReportedAndTheConnectionStillMade) {
  settings_.dataBits = 5;
  settings_.stopBits = kStopBitsTwo;
  ASSERT_EQ(link_.OpenPort(settings_), OpenOutcome::kConnected);
  ASSERT_EQ(sink_.Errors().size(), 1u);
  EXPECT_EQ(sink_.Errors()[0].rfind("Error 22: SetCommState.\n\r", 0), 0u);
  EXPECT_EQ(sink_.EndProcessCalls(), 0);
  termios line{};
  ASSERT_EQ(::tcgetattr(pty_.Master(), &line), 0);
  EXPECT_EQ(line.c_lflag & (ICANON | ECHO), 0u);  // raw all the same: nothing is echoed
  EXPECT_EQ(line.c_cflag & CSTOPB, 0u);           // the previous frame is kept
}

TEST_F(SerialLinkTest, AMissingPortIsNotAvailable) {
  settings_.portName = "/dev/tavrin-no-such-port";
  EXPECT_EQ(link_.OpenPort(settings_), OpenOutcome::kNotAvailable);
  EXPECT_FALSE(link_.ClosePort());
}

TEST_F(SerialLinkTest, ABurstArrivesInOrderInBlocksOfAtMostThreeThousandBytes) {
  ASSERT_EQ(link_.OpenPort(settings_), OpenOutcome::kConnected);
  std::string burst(5000, '\0');
  for (std::size_t i = 0; i < burst.size(); ++i) burst[i] = static_cast<char>('a' + i % 26);
  ASSERT_TRUE(pty_.Send(Bytes(burst)));
  ASSERT_TRUE(receiver_.WaitForBytes(burst.size()));

  std::string joined;
  for (const auto& block : receiver_.Blocks()) {
    EXPECT_LE(block.size(), kReadBufferSize);
    joined += block;
  }
  EXPECT_EQ(joined, burst);
}

// Frames are 0x02, 500 'F', 0x03; typed keys are 'k'. Every frame must arrive whole.
TEST_F(SerialLinkTest, TypedKeysNeverLandInsideAFrame) {
  ASSERT_EQ(link_.OpenPort(settings_), OpenOutcome::kConnected);
  constexpr int kFrames = 40;
  constexpr int kKeys = 100;
  std::string frame(1, '\x02');
  frame.append(500, 'F');
  frame.push_back('\x03');

  auto target =
      std::async(std::launch::async, [&] { return pty_.Receive(kFrames * frame.size() + kKeys); });
  std::thread transfer([&] {
    for (int i = 0; i < kFrames; ++i) EXPECT_EQ(link_.WriterGeneric(Bytes(frame)), frame.size());
  });
  int queued = 0;
  for (int i = 0; i < kKeys; ++i) queued += link_.QueueCharWrite('k') ? 1 : 0;
  transfer.join();
  EXPECT_EQ(queued, kKeys);

  const std::vector<std::uint8_t> line = target.get();
  const std::string text(line.begin(), line.end());
  ASSERT_EQ(text.size(), kFrames * frame.size() + kKeys);
  int frames = 0;
  for (std::size_t at = 0; at < text.size(); ++at) {
    if (text[at] == 'k') continue;
    ASSERT_EQ(text.compare(at, frame.size(), frame), 0) << "frame broken at " << at;
    at += frame.size() - 1;
    ++frames;
  }
  EXPECT_EQ(frames, kFrames);
  ExpectNoReports();
}

TEST_F(SerialLinkTest, DisconnectDuringAPendingReadEndsQuietlyAndConnectWorksAgain) {
  termios found{};
  ASSERT_EQ(::tcgetattr(pty_.Master(), &found), 0);  // the master shows the slave's settings
  ASSERT_EQ(link_.OpenPort(settings_), OpenOutcome::kConnected);
  ExpectReceives("first");
  EXPECT_TRUE(link_.ClosePort());
  EXPECT_FALSE(link_.Connected());
  EXPECT_FALSE(link_.ClosePort());
  termios restored{};
  ASSERT_EQ(::tcgetattr(pty_.Master(), &restored), 0);
  EXPECT_EQ(restored.c_lflag, found.c_lflag);
  EXPECT_EQ(restored.c_iflag, found.c_iflag);

  ASSERT_EQ(link_.OpenPort(settings_), OpenOutcome::kConnected);
  ExpectReceives("second");
  const std::string key = "z";
  EXPECT_TRUE(link_.QueueCharWrite('z'));
  EXPECT_EQ(pty_.Receive(1), std::vector<std::uint8_t>(key.begin(), key.end()));
  EXPECT_TRUE(link_.ClosePort());
  ExpectNoReports();
  EXPECT_EQ(statusLog_.Count(), 1u);
}

TEST_F(SerialLinkTest, DisconnectDuringAPendingWriteEndsItWithNothingWritten) {
  ASSERT_EQ(link_.OpenPort(settings_), OpenOutcome::kConnected);
  // More than the pseudo-terminal holds while the target does not read.
  const std::string big(1 << 20, 'x');
  auto writer = std::async(std::launch::async, [&] { return link_.WriterGeneric(Bytes(big)); });
  ASSERT_TRUE(pty_.WaitReadable());  // the write has begun
  EXPECT_TRUE(link_.ClosePort());
  EXPECT_EQ(writer.get(), 0u);
  EXPECT_EQ(link_.WriterGeneric(Bytes(big)), 0u);  // no connection, nothing written
  EXPECT_FALSE(link_.QueueCharWrite('k'));         // no writer queue

  ASSERT_EQ(link_.OpenPort(settings_), OpenOutcome::kConnected);
  ExpectReceives("again");
  ExpectNoReports();
}

}  // namespace
}  // namespace tavrin::serial
