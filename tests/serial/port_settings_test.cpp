#include "serial/port_settings.h"

#include <gtest/gtest.h>

namespace tavrin::serial {
namespace {

TEST(PortSettings, ThePortOverrideReplacesComOneOnlyWhenGiven) {
  EXPECT_EQ(DefaultPortSettings().portName, "COM1");
  EXPECT_EQ(DefaultPortSettings("/dev/pts/7").portName, "/dev/pts/7");
  EXPECT_EQ(DefaultPortSettings("").portName, "COM1");
  const std::string tooLong(300, 'p');
  EXPECT_EQ(DefaultPortSettings(tooLong.c_str()).portName, std::string(255, 'p'));
}

// Linux names are kept whole up to 255 bytes; the cut never splits a UTF-8 character.
TEST(PortSettings, PortNamesAreKeptWholeUpTo255Bytes) {
  const std::string byId = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0";
  const std::string full(255, 'n');
  const std::string split = std::string(254, 'n') + "\xC3\xA9";  // "é" would end at byte 256
  const std::pair<std::string, std::string> rows[] = {
      {"ttyACM12", "ttyACM12"},
      {byId, byId},
      {full, full},
      {full + "more", full},
      {split, std::string(254, 'n')},
      {std::string(253, 'n') + "\xC3\xA9x", std::string(253, 'n') + "\xC3\xA9"},
  };
  for (const auto& [typed, kept] : rows) EXPECT_EQ(ClampPortName(typed), kept) << typed.size();
}

// The Port Settings dialog reads every list's text back through these tables.
TEST(PortSettings, ChoicesAreFoundByTheirExactText) {
  const struct {
    std::string text;
    std::span<const Choice> (*table)();
    std::uint32_t value;
  } rows[] = {{"Space", ParityChoices, kParitySpace},
              {"even", ParityChoices, 0},
              {"12345", BaudRateChoices, 0},
              {"COM4", ComPortChoices, 4}};
  for (const auto& row : rows) {
    EXPECT_EQ(LookupChoice(row.text, row.table()), row.value) << row.text;
  }
}

TEST(PortSettings, NamesAreMappedToDevicesAndLinesSummarised) {
  const std::pair<std::string, std::string> paths[] = {
      {"COM12", "/dev/ttyS11"}, {"COM0", "/dev/COM0"},        {"COM1x", "/dev/COM1x"},
      {"COM", "/dev/COM"},      {"/dev/pts/3", "/dev/pts/3"}, {"pts/3", "/dev/pts/3"}};
  for (const auto& [name, path] : paths) EXPECT_EQ(DevicePath(name), path) << name;

  const struct {
    std::string port;
    std::uint32_t baud;
    std::uint8_t dataBits, parity, stopBits;
    std::string summary;
    unsigned characterBits;
  } lines[] = {{"COM1", 115200, 8, kParityNone, kStopBitsOne, "COM1  115200  8 N 1", 10},
               {"COM2", 19200, 7, kParityMark, kStopBitsTwo, "COM2  19200  7 N 2", 11},
               {"COM2", 19200, 5, kParitySpace, kStopBitsOneAndHalf, "COM2  19200  5 N 1.5", 9},
               {"ttyUSB0", 9600, 8, kParityNone, 9, "ttyUSB0  9600  8 N", 11}};
  for (const auto& line : lines) {
    PortSettings settings;
    settings.portName = line.port;
    settings.baudRate = line.baud;
    settings.dataBits = line.dataBits;
    settings.parity = line.parity;
    settings.stopBits = line.stopBits;
    EXPECT_EQ(ConnectionSummary(settings), line.summary);
    EXPECT_EQ(CharacterBits(settings), line.characterBits) << line.summary;
  }
}

}  // namespace
}  // namespace tavrin::serial
