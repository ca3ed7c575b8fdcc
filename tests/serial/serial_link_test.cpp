// The link on real pseudo-terminals: the test plays the target on the master side.
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

using tavrin::test::AsBytes;

class SerialLinkTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pty_.Valid());
    settings_.portName = pty_.SlavePath();
  }
  void TearDown() override {
    EXPECT_EQ(sink_.EndProcessCalls(), 0);
    if (expectNoReports_) {
      EXPECT_TRUE(sink_.Errors().empty());
    }
  }

  // Connects and checks that bytes the target sends reach OutputABuffer.
  void ConnectAndReceive(const std::string& text) {
    ASSERT_EQ(link_.OpenPort(settings_), OpenOutcome::kConnected);
    const std::size_t before = receiver_.Total();
    ASSERT_TRUE(pty_.Send(text));
    ASSERT_TRUE(receiver_.WaitForBytes(before + text.size()));
  }

  test::PseudoTerminal pty_;
  PortSettings settings_;
  bool expectNoReports_ = true;
  test::RecordingReceiver receiver_;
  StatusLog statusLog_;
  test::WaitableErrorSink sink_;
  ErrorReporter reporter_{sink_};
  SerialLink link_{receiver_, statusLog_, reporter_};
};

TEST_F(SerialLinkTest, APortInUseOrMissingIsNotAvailable) {
  ASSERT_EQ(link_.OpenPort(settings_), OpenOutcome::kConnected);
  SerialLink other(receiver_, statusLog_, reporter_);
  EXPECT_EQ(other.OpenPort(settings_), OpenOutcome::kNotAvailable);
  EXPECT_FALSE(other.Connected());
  EXPECT_TRUE(link_.Connected());
  settings_.portName = "/dev/tavrin-no-such-port";
  EXPECT_EQ(other.OpenPort(settings_), OpenOutcome::kNotAvailable);
  EXPECT_FALSE(other.ClosePort());
}

TEST_F(SerialLinkTest, AFrameTheDeviceRefusesIsReportedAndTheConnectionStillMade) {
  expectNoReports_ = false;
  settings_.dataBits = 5;
  settings_.stopBits = kStopBitsTwo;
  ASSERT_EQ(link_.OpenPort(settings_), OpenOutcome::kConnected);
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
  std::string joined;
  for (const auto& block : receiver_.Blocks()) {
    EXPECT_LE(block.size(), kReadBufferSize);
    joined += block;
  }
  EXPECT_EQ(joined, burst);
}

TEST_F(SerialLinkTest, TypedKeysNeverLandInsideAFrame) {
  ASSERT_EQ(link_.OpenPort(settings_), OpenOutcome::kConnected);
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
}

TEST_F(SerialLinkTest, DisconnectDuringAPendingWriteEndsItWithNothingWritten) {
  ASSERT_EQ(link_.OpenPort(settings_), OpenOutcome::kConnected);
  // More than the pseudo-terminal holds while the target does not read.
  const std::string big(1 << 20, 'x');
  auto writer = std::async(std::launch::async, [&] { return link_.WriterGeneric(AsBytes(big)); });
  ASSERT_TRUE(test::WaitFd(pty_.Master(), POLLIN));  // the write has begun
  EXPECT_TRUE(link_.ClosePort());
  EXPECT_EQ(writer.get(), 0u);
  EXPECT_EQ(link_.WriterGeneric(AsBytes(big)), 0u);  // no connection, nothing written
  EXPECT_FALSE(link_.QueueCharWrite('k'));           // no writer queue
  ConnectAndReceive("again");
}

}  // namespace
}  // namespace tavrin::serial
