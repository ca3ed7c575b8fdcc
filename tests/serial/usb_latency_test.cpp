// The adapter's latency timer read from a device tree built in a temporary directory,
// and the note a slow adapter gets when a port opens.
#include "serial/usb_latency.h"

#include <gtest/gtest.h>

#include "serial/latency_warning.h"
#include "serial/status_log.h"
#include "serial_fakes.h"
#include "support/temp_files.h"

namespace tavrin::serial {
namespace {

namespace fs = std::filesystem;
using tavrin::test::WriteFile;

class FakeSysfs : public testing::Test {
 protected:
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
    WriteFile(port / "latency_timer", latency);
    return fs::canonical(port / "latency_timer");
  }

  tavrin::test::TempDir dir_;
  const fs::path root_ = dir_.Path();
};

TEST_F(FakeSysfs, FindsTheTimerByTheAdaptersOwnPath) {
  const fs::path file = AddUsbAdapter("ttyUSB0", "16\n");
  fs::create_directories(root_ / "class/tty/ttyS0/device");  // a UART: no timer
  EXPECT_EQ(FindLatencyTimerFile(root_, "ttyUSB0"), file);
  for (const char* name : {"ttyS0", "ttyUSB1", "", "..", "../class"}) {
    EXPECT_EQ(FindLatencyTimerFile(root_, name), std::nullopt) << name;
  }
}

TEST_F(FakeSysfs, TheTimerIsReadAsMilliseconds) {
  const fs::path file = root_ / "latency_timer";
  EXPECT_EQ(ReadLatencyTimer(file), std::nullopt);  // no such file
  const std::pair<std::string, std::optional<unsigned>> rows[] = {
      {"16\n", 16},
      {"1", 1},
      {"255 \n", 255},
      {"", std::nullopt},
      {"\n", std::nullopt},
      {"-1\n", std::nullopt},
      {"16ms\n", std::nullopt},
      {"99999999999999999999\n", std::nullopt}};
  for (const auto& [text, milliseconds] : rows) {
    WriteFile(file, text);
    EXPECT_EQ(ReadLatencyTimer(file), milliseconds) << text;
  }
}

TEST_F(FakeSysfs, TtyNameFollowsLinks) {
  WriteFile(root_ / "ttyUSB3", "");
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
  for (int connect = 0; connect < 2; ++connect) ASSERT_NE(factory(pty.SlavePath()), nullptr);
  std::vector<std::string> expected;
  if (row.noted) expected.push_back(SlowAdapterNote(*row.noted, file));
  EXPECT_EQ(notices, expected);
  EXPECT_EQ(status.Count(), expected.size() + 1);
  if (!row.noted) return;
  EXPECT_NE(expected[0].find(file.string()), std::string::npos);
  EXPECT_EQ(status.Entries()[1], "2:" + expected[0] + "\r\n");
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
  ASSERT_EQ(errors.size(), 2u);
  EXPECT_EQ(errors.front(), ENOENT);
  EXPECT_NE(errors.back(), 0);
}

}  // namespace
}  // namespace tavrin::serial
