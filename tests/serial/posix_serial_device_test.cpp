#include "serial/posix_serial_device.h"

#include <gtest/gtest.h>
#include <termios.h>

#include "serial/error_reporter.h"
#include "serial/port_settings.h"
#include "serial/stop_signal.h"
#include "serial_fakes.h"
#include "support/temp_files.h"

namespace tavrin::serial {
namespace {

using namespace std::chrono_literals;

class PosixSerialDeviceTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(pty_.Valid()); }

  std::unique_ptr<PosixSerialDevice> OpenSlave(const PortSettings& settings = {}) {
    auto opened = PosixSerialDevice::Open(pty_.SlavePath());
    EXPECT_NE(opened.device, nullptr) << "errno " << opened.error;
    if (opened.device) {
      EXPECT_TRUE(opened.device->ApplySettings(settings).empty());
    }
    return std::move(opened.device);
  }

  static termios LineOf(const PosixSerialDevice& device) {
    termios tio{};
    EXPECT_EQ(::tcgetattr(device.Fd(), &tio), 0);
    return tio;
  }

  test::PseudoTerminal pty_;
  StopSignal stop_;
};

// Settings that cannot be read (a plain file) are reported as "GetCommTimeouts" first.
TEST(PosixSerialDeviceOpen, SettingsThatCannotBeReadAreReportedAndTheOpenGoesOn) {
  const tavrin::test::TempDir dir;
  tavrin::test::WriteFile(dir / "port", "");
  auto opened = PosixSerialDevice::Open((dir / "port").string());
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
  std::uint8_t dataBits, parity, stopBits;
  tcflag_t frame = 0;  // of CSIZE, PARENB, PARODD, CMSPAR, CSTOPB
};

PortSettings SettingsOf(const LineRow& row) {
  PortSettings settings;
  settings.baudRate = row.baud;
  settings.dataBits = row.dataBits;
  settings.parity = row.parity;
  settings.stopBits = row.stopBits;
  return settings;
}

// Raw lines with the row's frame; a pseudo-terminal keeps speed, stop bits and parity kind.
TEST_F(PosixSerialDeviceTest, LineSettingsMakeTheTerminalSettingsAndReachThePseudoTerminal) {
  // clang-format off
  const LineRow rows[] = {
      {115200, 8, kParityNone, kStopBitsOne, CS8},
      {19200, 7, kParityEven, kStopBitsTwo, CS7 | PARENB | CSTOPB},
      {9600, 7, kParityOdd, kStopBitsOne, CS7 | PARENB | PARODD},
      {110, 6, kParityMark, kStopBitsOne, CS6 | PARENB | PARODD | CMSPAR},
      {57600, 5, kParitySpace, kStopBitsOne, CS5 | PARENB | CMSPAR},
      {14400, 8, kParityNone, kStopBitsTwo, CS8 | CSTOPB}};  // a speed termios does not name
  // clang-format on
  termios cooked{};
  cooked.c_lflag = ICANON | ECHO | ISIG;
  cooked.c_oflag = OPOST;
  cooked.c_iflag = IXON | IXOFF | ICRNL;
  cooked.c_cflag = CRTSCTS | CS8;
  auto device = OpenSlave();
  for (const LineRow& row : rows) {
    SCOPED_TRACE(row.baud);
    const auto tio = TermiosFor(cooked, SettingsOf(row));
    ASSERT_TRUE(tio.has_value());
    EXPECT_EQ(tio->c_cflag & (CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS), row.frame);
    EXPECT_EQ(tio->c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(tio->c_oflag & OPOST, 0u);
    EXPECT_EQ(tio->c_iflag & (IXON | IXOFF | ICRNL | INPCK), tcflag_t{INPCK});

    EXPECT_TRUE(device->ApplySettings(SettingsOf(row)).empty());
    EXPECT_EQ(ReadLineSpeed(device->Fd()), row.baud);
    const tcflag_t kept = PARODD | CMSPAR | CSTOPB;
    EXPECT_EQ(LineOf(*device).c_cflag & kept, row.frame & kept);
  }
}

TEST_F(PosixSerialDeviceTest, AFrameTheUartCannotMakeIsReportedAndLeavesThePreviousOne) {
  auto device = OpenSlave(SettingsOf({19200, 8, kParityNone, kStopBitsTwo}));
  const LineRow refused[] = {{115200, 8, kParityNone, kStopBitsOneAndHalf},
                             {115200, 5, kParityNone, kStopBitsTwo},
                             {115200, 0, kParityNone, kStopBitsOne},
                             {115200, 8, 7, kStopBitsOne},
                             {0, 8, kParityNone, kStopBitsOne}};
  for (const LineRow& row : refused) {
    EXPECT_FALSE(TermiosFor(termios{}, SettingsOf(row)).has_value());
    const auto failures = device->ApplySettings(SettingsOf(row));
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_EQ(failures[0].step, "SetCommState");
    EXPECT_EQ(failures[0].error, EINVAL);
    EXPECT_EQ(ReadLineSpeed(device->Fd()), 19200u);
    EXPECT_NE(LineOf(*device).c_cflag & CSTOPB, 0u);
  }
}

// A pseudo-terminal has no lines nor counters; hung up (an adapter pulled out) it gives EIO.
TEST_F(PosixSerialDeviceTest, ModemAndCounterLooksFailOnlyOnceHungUp) {
  auto device = OpenSlave();
  EXPECT_TRUE(device->SetDtr(true).ok);
  EXPECT_TRUE(device->SetRts(false).ok);
  for (const int error : {0, EIO}) {
    if (error != 0) pty_.HangUp();
    const auto lines = device->GetModemLines();
    const auto counters = device->GetLineCounters();
    EXPECT_FALSE(lines.value.has_value() || counters.value.has_value());
    EXPECT_EQ(lines.error, error);
    EXPECT_EQ(counters.error, error);
  }
}

// Giving up on the stop signal is shown by the link's disconnect tests.
TEST_F(PosixSerialDeviceTest, ReadAndWriteTakeWhatTheyCanAndTimeOut) {
  auto device = OpenSlave();
  std::array<std::uint8_t, 16> buffer{};
  EXPECT_EQ(device->Read(buffer, 1ms, stop_.Fd()).status, IoStatus::kTimeout);
  ASSERT_TRUE(pty_.Send("0123456789"));
  const IoResult first = device->Read(std::span(buffer).first(4), 5s, stop_.Fd());
  EXPECT_EQ(first.status, IoStatus::kOk);
  EXPECT_EQ(first.count, 4u);
  std::string rest;
  for (IoResult more{}; rest.size() < 6 && more.status == IoStatus::kOk;) {
    more = device->Read(buffer, 5s, stop_.Fd());
    rest.append(buffer.begin(), buffer.begin() + static_cast<long>(more.count));
  }
  EXPECT_EQ(rest, "456789");

  // More than a pseudo-terminal holds while nobody reads the other side.
  const std::vector<std::uint8_t> bytes(1 << 20, 'x');
  const IoResult timedOut = device->Write(bytes, 1ms, stop_.Fd());
  EXPECT_EQ(timedOut.status, IoStatus::kTimeout);
  EXPECT_GT(timedOut.count, 0u);
  EXPECT_LT(timedOut.count, bytes.size());
}

}  // namespace
}  // namespace tavrin::serial
