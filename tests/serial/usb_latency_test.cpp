// The adapter's latency timer read from a device tree built in a temporary directory,
// and the note a slow adapter gets when a port opens.
#include "serial/usb_latency.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cerrno>
#include <fstream>

#include "serial/latency_warning.h"
#include "serial/status_log.h"
#include "serial_fakes.h"

namespace tavrin::serial {
namespace {

namespace fs = std::filesystem;

class FakeSysfs : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::path(testing::TempDir()) / "sysfs_XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
  }
  void TearDown() override { fs::remove_all(root_); }

  // A USB serial adapter's port as the kernel lays it out: class/tty/NAME links to the
  // tty, whose `device` link leads to the port that holds latency_timer. Returns the
  // timer file's own path.
  fs::path AddUsbAdapter(const std::string& tty, const std::string& latency) {
    const fs::path port = root_ / "devices/pci0000:00/usb1/1-1/1-1:1.0" / tty;
    fs::create_directories(port / "tty" / tty);
    fs::create_directories(root_ / "class/tty");
    fs::create_directory_symlink("../../../" + tty, port / "tty" / tty / "device");
    fs::create_directory_symlink(fs::relative(port / "tty" / tty, root_ / "class/tty"),
                                 root_ / "class/tty" / tty);
    std::ofstream(port / "latency_timer") << latency;
    return port / "latency_timer";
  }

  fs::path root_;
};

TEST_F(FakeSysfs, FindsTheTimerByTheAdaptersOwnPath) {
  const fs::path file = AddUsbAdapter("ttyUSB0", "16\n");
  fs::create_directories(root_ / "class/tty/ttyS0/device");  // a UART: no timer
  EXPECT_EQ(FindLatencyTimerFile(root_, "ttyUSB0"), fs::canonical(file));
  EXPECT_EQ(ReadLatencyTimer(file), 16u);
  EXPECT_EQ(ReadLatencyTimer(root_ / "latency_timer"), std::nullopt);
  for (const char* name : {"ttyS0", "ttyUSB1", "", "..", "../class"}) {
    EXPECT_EQ(FindLatencyTimerFile(root_, name), std::nullopt) << name;
  }
}

struct TimerRow {
  const char* text;
  std::optional<unsigned> milliseconds;
};

class LatencyTimerText : public FakeSysfs, public testing::WithParamInterface<TimerRow> {};

TEST_P(LatencyTimerText, IsReadAsMilliseconds) {
  const fs::path file = root_ / "latency_timer";
  std::ofstream(file) << GetParam().text;
  EXPECT_EQ(ReadLatencyTimer(file), GetParam().milliseconds);
}

INSTANTIATE_TEST_SUITE_P(Files, LatencyTimerText,
                         testing::Values(TimerRow{"16\n", 16}, TimerRow{"1", 1},
                                         TimerRow{"255 \n", 255}, TimerRow{"", std::nullopt},
                                         TimerRow{"\n", std::nullopt},
                                         TimerRow{"-1\n", std::nullopt},
                                         TimerRow{"16ms\n", std::nullopt},
                                         TimerRow{"99999999999999999999\n", std::nullopt}));

TEST_F(FakeSysfs, TtyNameFollowsLinks) {
  std::ofstream(root_ / "ttyUSB3");
  fs::create_symlink(root_ / "ttyUSB3", root_ / "usb-FTDI_FT232R-if00-port0");
  EXPECT_EQ(TtyName(root_ / "usb-FTDI_FT232R-if00-port0"), "ttyUSB3");
  EXPECT_EQ(TtyName("/dev/tavrin-no-such-port"), "tavrin-no-such-port");
}

// A pseudo-terminal stands for the adapter; the tree carries a timer under its tty name.
struct WarningRow {
  const char* name;
  std::optional<std::string> latency;  // the file's text; none: no such file
  std::optional<unsigned> noted;       // the value the note names; none: no note
};

class SlowAdapterWarning : public FakeSysfs, public testing::WithParamInterface<WarningRow> {};

TEST_P(SlowAdapterWarning, IsGivenOnceInTheStatusLogAndTheNotice) {
  test::PseudoTerminal pty;
  ASSERT_TRUE(pty.Valid());
  const WarningRow& row = GetParam();
  fs::path file;
  if (row.latency) file = AddUsbAdapter(TtyName(pty.SlavePath()), *row.latency);
  StatusLog status;
  std::vector<std::string> notices;
  const auto factory = LatencyCheckedDeviceFactory(
      status, [&](const std::string& note) { notices.push_back(note); }, root_);
  for (int connect = 0; connect < 2; ++connect) {
    auto device = factory(pty.SlavePath());
    ASSERT_NE(device, nullptr);
  }
  if (!row.noted) {
    EXPECT_TRUE(notices.empty());
    EXPECT_EQ(status.Count(), 1u);
    return;
  }
  const std::string note = SlowAdapterNote(*row.noted, fs::canonical(file));
  EXPECT_NE(note.find(fs::canonical(file).string()), std::string::npos);
  EXPECT_EQ(notices, std::vector<std::string>{note});
  EXPECT_EQ(status.Entries(),
            (std::vector<std::string>{"1:Status message go here:\r\n", "2:" + note + "\r\n"}));
}

INSTANTIATE_TEST_SUITE_P(Adapters, SlowAdapterWarning,
                         testing::Values(WarningRow{"Default16ms", "16\n", 16},
                                         WarningRow{"LowLatency1ms", "1\n", std::nullopt},
                                         WarningRow{"NoTimer", std::nullopt, std::nullopt}),
                         [](const auto& row) { return std::string(row.param.name); });

// A port that cannot be opened gives null and tells the host the open's errno.
TEST_F(FakeSysfs, AFailedOpenHandsItsErrnoOn) {
  StatusLog status;
  std::vector<int> errors;
  const auto factory =
      LatencyCheckedDeviceFactory(status, {}, root_, [&](int error) { errors.push_back(error); });
  EXPECT_EQ(factory((root_ / "no-such-tty").string()), nullptr);
  EXPECT_EQ(factory(root_.string()), nullptr);  // a directory is no terminal
  EXPECT_EQ(errors.size(), 2u);
  EXPECT_EQ(errors.front(), ENOENT);
  EXPECT_NE(errors.back(), 0);
}

}  // namespace
}  // namespace tavrin::serial
