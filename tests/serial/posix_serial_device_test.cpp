#include "serial/posix_serial_device.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <termios.h>

#include <filesystem>

#include "serial/error_reporter.h"
#include "serial/port_settings.h"
#include "serial/stop_signal.h"
#include "serial_fakes.h"

namespace tavrin::serial {
namespace {

using namespace std::chrono_literals;

using test::PseudoTerminal;

class PosixSerialDeviceTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(pty_.Valid()); }

  std::unique_ptr<PosixSerialDevice> OpenSlave() {
    auto opened = PosixSerialDevice::Open(pty_.SlavePath());
    EXPECT_NE(opened.device, nullptr) << "errno " << opened.error;
    return std::move(opened.device);
  }

  static termios LineOf(const PosixSerialDevice& device) {
    termios tio{};
    EXPECT_EQ(::tcgetattr(device.Fd(), &tio), 0);
    return tio;
  }

  PseudoTerminal pty_;
};

TEST_F(PosixSerialDeviceTest, ASecondOpenFailsUntilTheFirstIsClosed) {
  auto first = OpenSlave();
  const auto second = PosixSerialDevice::Open(pty_.SlavePath());
  EXPECT_EQ(second.device, nullptr);
  EXPECT_EQ(second.error, EBUSY);
  first.reset();
  EXPECT_NE(PosixSerialDevice::Open(pty_.SlavePath()).device, nullptr);
}

TEST_F(PosixSerialDeviceTest, AMissingPortIsNotOpened) {
  const auto opened = PosixSerialDevice::Open("/dev/tavrin-no-such-port");
  EXPECT_EQ(opened.device, nullptr);
  EXPECT_EQ(opened.error, ENOENT);
}

// A plain file in the temporary directory, removed at the end of the test.
struct PlainFile {
  PlainFile() {
    const int fd = ::mkstemp(path.data());
    if (fd >= 0) ::close(fd);
  }
  ~PlainFile() { std::filesystem::remove(path); }
  std::string path = (std::filesystem::temp_directory_path() / "tavrin-port-XXXXXX").string();
};

// A device whose line settings cannot be read (here a plain file: no terminal at all)
// is still opened. Configuring it reports the failed save first, as "GetCommTimeouts",
// then whatever else fails.
TEST(PosixSerialDeviceOpen, SettingsThatCannotBeReadAreReportedAndTheOpenGoesOn) {
  const PlainFile file;
  auto opened = PosixSerialDevice::Open(file.path);
  ASSERT_NE(opened.device, nullptr) << "errno " << opened.error;

  tavrin::test::RecordingErrorSink sink;
  ErrorReporter reporter(sink);
  ApplyPortSettings(*opened.device, PortSettings{}, reporter);
  const std::string notATerminal = ".\n\rInappropriate ioctl for device\r\n";
  EXPECT_EQ(sink.Errors(), (std::vector<std::string>{"Error 25: GetCommTimeouts" + notATerminal,
                                                     "Error 25: GetCommState" + notATerminal,
                                                     "Error 25: SetCommState" + notATerminal}));
  const auto again = opened.device->ApplySettings(PortSettings{});
  ASSERT_FALSE(again.empty());
  EXPECT_EQ(again.front().step, "GetCommState");     // the save is reported once
  EXPECT_TRUE(opened.device->RestoreSettings().ok);  // nothing was saved to put back
}

struct LineRow {
  std::uint32_t baud;
  std::uint8_t dataBits;
  std::uint8_t parity;
  std::uint8_t stopBits;
  tcflag_t size;
  tcflag_t parityFlags;  // of PARENB, PARODD, CMSPAR
  bool twoStopBits;
};

class LineSettingsTest : public PosixSerialDeviceTest, public testing::WithParamInterface<LineRow> {
 protected:
  PortSettings Settings() const {
    PortSettings settings;
    settings.baudRate = GetParam().baud;
    settings.dataBits = GetParam().dataBits;
    settings.parity = GetParam().parity;
    settings.stopBits = GetParam().stopBits;
    return settings;
  }
};

TEST_P(LineSettingsTest, MakeTheTerminalSettings) {
  const LineRow& row = GetParam();
  termios cooked{};
  cooked.c_lflag = ICANON | ECHO | ISIG;
  cooked.c_oflag = OPOST;
  cooked.c_iflag = IXON | IXOFF | ICRNL;
  cooked.c_cflag = CRTSCTS | CS8;
  const auto tio = TermiosFor(cooked, Settings());
  ASSERT_TRUE(tio.has_value());
  EXPECT_EQ(tio->c_cflag & CSIZE, row.size);
  EXPECT_EQ(tio->c_cflag & (PARENB | PARODD | CMSPAR), row.parityFlags);
  EXPECT_EQ((tio->c_cflag & CSTOPB) != 0, row.twoStopBits);
  EXPECT_EQ(tio->c_lflag & (ICANON | ECHO | ISIG), 0u);
  EXPECT_EQ(tio->c_oflag & OPOST, 0u);
  EXPECT_EQ(tio->c_cflag & CRTSCTS, 0u);
  EXPECT_EQ(tio->c_iflag & (IXON | IXOFF | ICRNL), 0u);
  EXPECT_NE(tio->c_iflag & INPCK, 0u);
}

// A pseudo-terminal keeps the speed, the stop bits and the parity kind, but always
// holds 8 data bits and no parity enable, whatever it is given.
TEST_P(LineSettingsTest, ReachThePseudoTerminal) {
  const LineRow& row = GetParam();
  auto device = OpenSlave();
  EXPECT_TRUE(device->ApplySettings(Settings()).empty());
  const termios tio = LineOf(*device);
  EXPECT_EQ(ReadLineSpeed(device->Fd()), row.baud);
  EXPECT_EQ(tio.c_cflag & (PARODD | CMSPAR), row.parityFlags & (PARODD | CMSPAR));
  EXPECT_EQ((tio.c_cflag & CSTOPB) != 0, row.twoStopBits);
  EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG), 0u);
  EXPECT_EQ(tio.c_cflag & CRTSCTS, 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Frames, LineSettingsTest,
    testing::Values(LineRow{115200, 8, kParityNone, kStopBitsOne, CS8, 0, false},
                    LineRow{19200, 7, kParityEven, kStopBitsTwo, CS7, PARENB, true},
                    LineRow{9600, 7, kParityOdd, kStopBitsOne, CS7, PARENB | PARODD, false},
                    LineRow{110, 6, kParityMark, kStopBitsOne, CS6, PARENB | PARODD | CMSPAR,
                            false},
                    LineRow{57600, 5, kParitySpace, kStopBitsOne, CS5, PARENB | CMSPAR, false},
                    LineRow{14400, 8, kParityNone, kStopBitsTwo, CS8, 0, true},
                    LineRow{56000, 8, kParityNone, kStopBitsOne, CS8, 0, false},
                    LineRow{921600, 8, kParityNone, kStopBitsOne, CS8, 0, false}));

struct RefusedRow {
  std::uint8_t dataBits;
  std::uint8_t parity;
  std::uint8_t stopBits;
  std::uint32_t baud;
};

class RefusedFrameTest : public PosixSerialDeviceTest,
                         public testing::WithParamInterface<RefusedRow> {};

TEST_P(RefusedFrameTest, IsReportedAndLeavesThePreviousFrame) {
  auto device = OpenSlave();
  PortSettings settings;
  settings.baudRate = 19200;
  settings.stopBits = kStopBitsTwo;
  ASSERT_TRUE(device->ApplySettings(settings).empty());

  PortSettings refused;
  refused.dataBits = GetParam().dataBits;
  refused.parity = GetParam().parity;
  refused.stopBits = GetParam().stopBits;
  refused.baudRate = GetParam().baud;
  EXPECT_FALSE(TermiosFor(termios{}, refused).has_value());
  const auto failures = device->ApplySettings(refused);
  ASSERT_EQ(failures.size(), 1u);
  EXPECT_EQ(failures[0].step, "SetCommState");
  EXPECT_EQ(failures[0].error, EINVAL);
  EXPECT_EQ(ReadLineSpeed(device->Fd()), 19200u);
  EXPECT_NE(LineOf(*device).c_cflag & CSTOPB, 0u);
}

INSTANTIATE_TEST_SUITE_P(Frames, RefusedFrameTest,
                         testing::Values(RefusedRow{8, kParityNone, kStopBitsOneAndHalf, 115200},
                                         RefusedRow{5, kParityNone, kStopBitsTwo, 115200},
                                         RefusedRow{0, kParityNone, kStopBitsOne, 115200},
                                         RefusedRow{8, 7, kStopBitsOne, 115200},
                                         RefusedRow{8, kParityNone, kStopBitsOne, 0}));

TEST_F(PosixSerialDeviceTest, RestoresTheLineFoundAtOpen) {
  auto device = OpenSlave();
  const termios before = LineOf(*device);
  ASSERT_TRUE(device->ApplySettings(PortSettings{}).empty());
  EXPECT_TRUE(device->RestoreSettings().ok);
  const termios after = LineOf(*device);
  EXPECT_EQ(after.c_lflag, before.c_lflag);
  EXPECT_EQ(after.c_cflag, before.c_cflag);
}

TEST_F(PosixSerialDeviceTest, PseudoTerminalHasNoModemLinesYetDtrSucceeds) {
  auto device = OpenSlave();
  EXPECT_TRUE(device->SetDtr(true).ok);
  EXPECT_TRUE(device->SetRts(false).ok);
  const auto lines = device->GetModemLines();
  const auto counters = device->GetLineCounters();
  EXPECT_FALSE(lines.value.has_value());
  EXPECT_EQ(lines.error, 0);
  EXPECT_FALSE(counters.value.has_value());
  EXPECT_EQ(counters.error, 0);
}

// A port whose other end went away (a USB adapter pulled out) fails these looks with
// EIO: that is a failure to report, not a device without lines.
TEST_F(PosixSerialDeviceTest, AHungUpPortFailsItsModemAndCounterLooks) {
  auto device = OpenSlave();
  pty_.HangUp();
  EXPECT_EQ(device->GetModemLines().error, EIO);
  EXPECT_EQ(device->GetLineCounters().error, EIO);
}

TEST_F(PosixSerialDeviceTest, ReadGivesUpOnTheStopSignalAndOnItsTimeOut) {
  auto device = OpenSlave();
  ASSERT_TRUE(device->ApplySettings(PortSettings{}).empty());
  StopSignal stop;
  std::array<std::uint8_t, 16> buffer{};
  EXPECT_EQ(device->Read(buffer, 1ms, stop.Fd()).status, IoStatus::kTimeout);
  stop.Raise();
  EXPECT_EQ(device->Read(buffer, 5s, stop.Fd()).status, IoStatus::kStopped);
}

TEST_F(PosixSerialDeviceTest, ReadTakesWhatHasArrivedUpToItsBuffer) {
  auto device = OpenSlave();
  ASSERT_TRUE(device->ApplySettings(PortSettings{}).empty());
  const std::string sent = "0123456789";
  ASSERT_TRUE(
      pty_.Send(std::span(reinterpret_cast<const std::uint8_t*>(sent.data()), sent.size())));
  StopSignal stop;
  std::array<std::uint8_t, 4> small{};
  const IoResult first = device->Read(small, 5s, stop.Fd());
  EXPECT_EQ(first.status, IoStatus::kOk);
  EXPECT_EQ(first.count, 4u);
  std::string rest;
  std::array<std::uint8_t, 64> buffer{};
  while (rest.size() < 6) {
    const IoResult more = device->Read(buffer, 5s, stop.Fd());
    if (more.status != IoStatus::kOk) break;
    rest.append(buffer.begin(), buffer.begin() + static_cast<long>(more.count));
  }
  EXPECT_EQ(rest, "456789");
}

TEST_F(PosixSerialDeviceTest, WriteThatCannotGoOnStopsOrTimesOut) {
  auto device = OpenSlave();
  ASSERT_TRUE(device->ApplySettings(PortSettings{}).empty());
  // More than a pseudo-terminal holds while nobody reads the other side.
  const std::vector<std::uint8_t> bytes(1 << 20, 'x');
  StopSignal stop;
  const IoResult timedOut = device->Write(bytes, 1ms, stop.Fd());
  EXPECT_EQ(timedOut.status, IoStatus::kTimeout);
  EXPECT_GT(timedOut.count, 0u);
  stop.Raise();
  const IoResult stopped = device->Write(bytes, 5s, stop.Fd());
  EXPECT_EQ(stopped.status, IoStatus::kStopped);
  EXPECT_LT(stopped.count, bytes.size());
}

}  // namespace
}  // namespace tavrin::serial
