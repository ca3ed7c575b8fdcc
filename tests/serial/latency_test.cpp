// Low-latency mode against a driver played in memory and the kernel's refusal on a
// pseudo-terminal; the adapter's latency timer and its note on a fake sysfs tree.
#include <gtest/gtest.h>
#include <linux/serial.h>

#include "serial/latency_warning.h"
#include "serial/low_latency.h"
#include "serial/posix_serial_device.h"
#include "serial/status_log.h"
#include "serial/usb_latency.h"
#include "serial_fakes.h"
#include "support/temp_files.h"

namespace tavrin::serial {
namespace {

using namespace std::chrono_literals;

// Driver flags as serial_struct holds them (an int).
constexpr int kLowLatency = static_cast<int>(ASYNC_LOW_LATENCY);
constexpr int kSkipTest = static_cast<int>(ASYNC_SKIP_TEST);

// A driver's serial flags, with refusals on cue.
struct FakeDriver {
  int flags = 0;
  int getError = 0;
  int setError = 0;
  int sets = 0;  // accepted TIOCSSERIAL calls
};

SerialInfoCalls CallsOf(const std::shared_ptr<FakeDriver>& driver) {
  return {[driver](int, serial_struct& info) {
            info.flags = driver->flags;
            return driver->getError;
          },
          [driver](int, const serial_struct& info) {
            if (driver->setError != 0) return driver->setError;
            driver->flags = info.flags;
            ++driver->sets;
            return 0;
          }};
}

TEST(EnterLowLatency, SetsTheModeOrLeavesTheDriverAsItWas) {
  const struct {
    const char* name;
    FakeDriver driver;
    std::optional<int> undo;  // what EnterLowLatency returns
    int flagsAfter;
  } rows[] = {{"takes", {kSkipTest}, kSkipTest, kSkipTest | kLowLatency},
              {"already on", {kLowLatency}, std::nullopt, kLowLatency},
              {"has no serial info", {0, ENOTTY}, std::nullopt, 0},
              {"refuses the mode", {kSkipTest, 0, EPERM}, std::nullopt, kSkipTest}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    auto driver = std::make_shared<FakeDriver>(row.driver);
    EXPECT_EQ(EnterLowLatency(3, CallsOf(driver)), row.undo);
    EXPECT_EQ(driver->flags, row.flagsAfter);
    EXPECT_EQ(driver->sets, row.undo ? 1 : 0);
  }
}

// Open's flags come back at close; the kernel's refusal on a pseudo-terminal is no error.
TEST(LowLatencyDevice, OpenSetsTheModeCloseRestoresTheFlagsAndARefusalIsNoError) {
  test::PseudoTerminal pty;
  ASSERT_TRUE(pty.Valid());
  auto driver = std::make_shared<FakeDriver>(FakeDriver{kSkipTest});
  auto opened = PosixSerialDevice::Open(pty.SlavePath(), 0ms, CallsOf(driver));
  ASSERT_NE(opened.device, nullptr);
  EXPECT_EQ(driver->flags, kSkipTest | kLowLatency);
  driver->flags |= static_cast<int>(ASYNC_SPD_HI);
  opened.device.reset();
  EXPECT_EQ(driver->flags, kSkipTest | static_cast<int>(ASYNC_SPD_HI));

  opened = PosixSerialDevice::Open(pty.SlavePath());
  ASSERT_NE(opened.device, nullptr) << "errno " << opened.error;
  serial_struct info{};
  EXPECT_NE(KernelSerialInfoCalls().get(opened.device->Fd(), info), 0);
}

namespace fs = std::filesystem;
using tavrin::test::WriteFile;

class FakeSysfs : public testing::Test {
 protected:
  // class/tty/NAME -> tty -> `device` -> the USB port's latency_timer, whose path it returns.
  fs::path AddUsbAdapter(const std::string& tty, const std::string& latency) {
    const fs::path port = root_ / "devices/pci0000:00/usb1/1-1/1-1:1.0" / tty;
    fs::create_directories(port / "tty" / tty);
    fs::create_directories(root_ / "class/tty");
    fs::create_directory_symlink("../../../" + tty, port / "tty" / tty / "device");
    fs::create_directory_symlink(fs::relative(port / "tty" / tty, root_ / "class/tty"),
                                 root_ / "class/tty" / tty);
    WriteFile(port / "latency_timer", latency);
    return fs::canonical(port / "latency_timer");
  }

  tavrin::test::TempDir dir_;
  const fs::path root_ = dir_.Path();
};

TEST_F(FakeSysfs, FindsTheTimerByTheAdaptersOwnPathAndReadsIt) {
  const fs::path file = AddUsbAdapter("ttyUSB0", "16\n");
  fs::create_directories(root_ / "class/tty/ttyS0/device");  // a UART: no timer
  EXPECT_EQ(FindLatencyTimerFile(root_, "ttyUSB0"), file);
  for (const char* name : {"ttyS0", "", "..", "../class"}) {
    EXPECT_EQ(FindLatencyTimerFile(root_, name), std::nullopt) << name;
  }
  // A by-id link names the tty it leads to.
  fs::create_symlink(root_ / "class/tty/ttyUSB0", root_ / "usb-FTDI_FT232R-if00-port0");
  EXPECT_EQ(TtyName(root_ / "usb-FTDI_FT232R-if00-port0"), "ttyUSB0");
  EXPECT_EQ(TtyName("/dev/tavrin-no-such-port"), "tavrin-no-such-port");

  EXPECT_EQ(ReadLatencyTimer(root_ / "latency_timer"), std::nullopt);  // no such file
  // clang-format off
  const std::pair<std::string, std::optional<unsigned>> rows[] = {
      {"16\n", 16}, {"255 \n", 255}, {"", std::nullopt}, {"\n", std::nullopt},
      {"16ms\n", std::nullopt}, {"99999999999999999999\n", std::nullopt}};
  // clang-format on
  for (const auto& [text, milliseconds] : rows) {
    WriteFile(file, text);
    EXPECT_EQ(ReadLatencyTimer(file), milliseconds) << text;
  }
}

// A pseudo-terminal stands for the adapter; the tree carries a timer under its tty name.
TEST_F(FakeSysfs, ASlowAdapterIsNotedOnceInTheStatusLogAndTheNotice) {
  const struct {
    std::optional<std::string> latency;  // the file's text; none: no such file
    std::optional<unsigned> noted;       // the value the note names; none: no note
  } rows[] = {{"16\n", 16}, {"1\n", std::nullopt}, {std::nullopt, std::nullopt}};
  std::deque<test::PseudoTerminal> ptys;  // all open: each row's tty has a name of its own
  for (const auto& row : rows) {
    const test::PseudoTerminal& pty = ptys.emplace_back();
    ASSERT_TRUE(pty.Valid());
    fs::path file;
    if (row.latency) file = AddUsbAdapter(TtyName(pty.SlavePath()), *row.latency);
    StatusLog status;
    std::vector<std::string> notices;
    const auto factory = LatencyCheckedDeviceFactory(
        status, [&](const std::string& note) { notices.push_back(note); }, root_);
    for (int connect = 0; connect < 2; ++connect) ASSERT_NE(factory(pty.SlavePath()), nullptr);
    std::vector<std::string> expected{"1:Status message go here:\r\n"};
    if (row.noted) {
      const std::string note = SlowAdapterNote(*row.noted, file);
      EXPECT_NE(note.find(file.string()), std::string::npos);
      EXPECT_EQ(notices, std::vector<std::string>{note});
      expected.push_back("2:" + note + "\r\n");
    }
    EXPECT_EQ(notices.size(), expected.size() - 1);
    EXPECT_EQ(status.Entries(), expected);
  }
}

}  // namespace
}  // namespace tavrin::serial
