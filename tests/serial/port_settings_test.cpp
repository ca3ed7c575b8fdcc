#include "serial/port_settings.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

namespace tavrin::serial {
namespace {

TEST(PortSettings, DefaultsAreTheLineTheTargetExpects) {
  const PortSettings settings = DefaultPortSettings();
  EXPECT_EQ(settings.portName, "COM1");
  EXPECT_EQ(settings.baudRate, 115200u);
  EXPECT_EQ(settings.dataBits, 8);
  EXPECT_EQ(settings.parity, kParityNone);
  EXPECT_EQ(settings.stopBits, kStopBitsOne);
  EXPECT_EQ(settings.dtrControl, 1u);
  EXPECT_EQ(settings.rtsControl, 0u);
  EXPECT_FALSE(settings.outCtsFlow || settings.outDsrFlow || settings.outXonXoff ||
               settings.inXonXoff);
  EXPECT_EQ(settings.eventMask, 0x1F8u);
  EXPECT_TRUE(settings.displayErrors);
}

TEST(PortSettings, PortOverrideReplacesComOneOnlyWhenGiven) {
  EXPECT_EQ(DefaultPortSettings("/dev/pts/7").portName, "/dev/pts/7");
  EXPECT_EQ(DefaultPortSettings("").portName, "COM1");
}

struct LookupRow {
  std::string text;
  std::span<const Choice> (*table)();
  std::uint32_t value;
};

class LookupChoiceTest : public testing::TestWithParam<LookupRow> {};

TEST_P(LookupChoiceTest, GivesTheValueOfTheExactText) {
  EXPECT_EQ(LookupChoice(GetParam().text, GetParam().table()), GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(Tables, LookupChoiceTest,
                         testing::Values(LookupRow{"None", ParityChoices, kParityNone},
                                         LookupRow{"Even", ParityChoices, kParityEven},
                                         LookupRow{"Odd", ParityChoices, kParityOdd},
                                         LookupRow{"Space", ParityChoices, kParitySpace},
                                         LookupRow{"even", ParityChoices, 0},  // case counts
                                         LookupRow{"1.5", StopBitChoices, kStopBitsOneAndHalf},
                                         LookupRow{"2", StopBitChoices, kStopBitsTwo},
                                         LookupRow{"14400", BaudRateChoices, 14400},
                                         LookupRow{"921600", BaudRateChoices, 921600},
                                         LookupRow{"12345", BaudRateChoices, 0},
                                         LookupRow{"", DataBitChoices, 0},
                                         LookupRow{"COM4", ComPortChoices, 4}));

TEST(PortSettings, ListsKeepTheirOrder) {
  ASSERT_EQ(BaudRateChoices().size(), 16u);
  EXPECT_EQ(BaudRateChoices()[0].text, "110");
  EXPECT_EQ(BaudRateChoices()[12].text, "115200");
  EXPECT_EQ(ParityChoices()[1].text, "Even");
  EXPECT_EQ(ParityChoices()[2].text, "Odd");
}

TEST(PortSettings, TypedPortNameIsCutToNineCharacters) {
  EXPECT_EQ(ClampPortName("COM7"), "COM7");
  EXPECT_EQ(ClampPortName("/dev/ttyUSB12"), "/dev/ttyU");
}

struct SummaryRow {
  std::string port;
  std::uint32_t baud;
  std::uint8_t dataBits;
  std::uint8_t parity;
  std::uint8_t stopBits;
  std::string summary;
};

class ConnectionSummaryTest : public testing::TestWithParam<SummaryRow> {};

TEST_P(ConnectionSummaryTest, NamesTheLine) {
  PortSettings settings;
  settings.portName = GetParam().port;
  settings.baudRate = GetParam().baud;
  settings.dataBits = GetParam().dataBits;
  settings.parity = GetParam().parity;
  settings.stopBits = GetParam().stopBits;
  EXPECT_EQ(ConnectionSummary(settings), GetParam().summary);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ConnectionSummaryTest,
    testing::Values(SummaryRow{"COM1", 115200, 8, kParityNone, kStopBitsOne, "COM1  115200  8 N 1"},
                    SummaryRow{"COM2", 19200, 7, kParityEven, kStopBitsTwo, "COM2  19200  7 E 2"},
                    SummaryRow{"COM2", 19200, 7, kParityOdd, kStopBitsTwo, "COM2  19200  7 O 2"},
                    SummaryRow{"COM2", 19200, 7, kParityMark, kStopBitsTwo, "COM2  19200  7 N 2"},
                    SummaryRow{"COM2", 19200, 7, kParitySpace, kStopBitsOneAndHalf,
                               "COM2  19200  7 N 1.5"},
                    SummaryRow{"ttyUSB0", 9600, 8, kParityNone, 9, "ttyUSB0  9600  8 N"}));

struct PathRow {
  std::string name;
  std::string path;
};

class DevicePathTest : public testing::TestWithParam<PathRow> {};

TEST_P(DevicePathTest, MapsPortNamesToDevices) {
  EXPECT_EQ(DevicePath(GetParam().name), GetParam().path);
}

INSTANTIATE_TEST_SUITE_P(
    Names, DevicePathTest,
    testing::Values(PathRow{"COM1", "/dev/ttyS0"}, PathRow{"COM12", "/dev/ttyS11"},
                    PathRow{"COM0", "/dev/COM0"}, PathRow{"COM1x", "/dev/COM1x"},
                    PathRow{"COM", "/dev/COM"}, PathRow{"/dev/pts/3", "/dev/pts/3"},
                    PathRow{"ttyUSB0", "/dev/ttyUSB0"}, PathRow{"pts/3", "/dev/pts/3"}));

TEST(PortSettings, PortListAddsRealPortsAfterTheComNames) {
  namespace fs = std::filesystem;
  const fs::path root = fs::temp_directory_path() / ("tavrin-tty-" + std::to_string(::getpid()));
  const auto addTty = [&](const std::string& name, const std::string& subsystem) {
    fs::create_directories(root / name / "device");
    fs::create_directory_symlink("../../bus/" + subsystem, root / name / "device" / "subsystem");
  };
  addTty("ttyUSB0", "usb-serial");
  addTty("ttyACM1", "usb");
  addTty("ttyS0", "pnp");                 // COM1 already names it
  addTty("ttyS9", "platform");            // a placeholder of the built-in driver
  fs::create_directories(root / "tty1");  // no device behind it

  const std::vector<std::string> expected{"COM1", "COM2", "COM3", "COM4", "ttyACM1", "ttyUSB0"};
  EXPECT_EQ(PortNameChoices(root), expected);
  fs::remove_all(root);
}

}  // namespace
}  // namespace tavrin::serial
