// --port by name, path, /dev/serial/by-id name or USB serial number, against a port list.
#include "cli/port_lookup.h"

#include <gtest/gtest.h>

namespace tavrin::cli {
namespace {

serial::PortInfo Port(std::string name, std::string serialNumber, std::string byId = {},
                      std::string devicePath = {}) {
  serial::PortInfo port;
  port.devicePath = devicePath.empty() ? "/dev/" + name : devicePath;
  port.name = std::move(name);
  port.serialNumber = std::move(serialNumber);
  port.byIdName = std::move(byId);
  return port;
}

serial::PortList Machine() {
  return {{Port("ttyS0", ""), Port("ttyUSB0", "A50285BI", "usb-FTDI_A50285BI-if00-port0"),
           Port("ttyUSB1", "DUAL01", "usb-FTDI_Dual_DUAL01-if00-port0"),
           Port("ttyUSB2", "DUAL01", "usb-FTDI_Dual_DUAL01-if01-port0"),
           Port("ttyACM0", "E661", "", "/dev/loaders/ttyACM0")},
          ""};
}

struct LookupRow {
  const char* name;
  std::string given;
  bool listFails;
  std::string portName;  // what opens; empty: a usage error
  std::string error;
};

class LookUpPortTest : public testing::TestWithParam<LookupRow> {};

TEST_P(LookUpPortTest, OpensWhatTheNameStandsFor) {
  const LookupRow& row = GetParam();
  serial::PortList list = Machine();
  if (row.listFails) list = {{}, "udev_new failed"};
  const PortLookup lookup = LookUpPort(row.given, list);
  EXPECT_EQ(lookup.portName, row.portName);
  EXPECT_EQ(lookup.error, row.error);
}

const std::string kSeveral = "names several ports: ttyUSB1, ttyUSB2; name one of them";

INSTANTIATE_TEST_SUITE_P(
    Names, LookUpPortTest,
    testing::Values(
        LookupRow{"SerialNumber", "serial:A50285BI", false, "ttyUSB0", ""},
        LookupRow{"ByIdName", "usb-FTDI_A50285BI-if00-port0", false, "ttyUSB0", ""},
        LookupRow{"ByIdPath", "/dev/serial/by-id/usb-FTDI_Dual_DUAL01-if01-port0", false, "ttyUSB2",
                  ""},
        LookupRow{"NameItself", "ttyUSB1", false, "ttyUSB1", ""},
        LookupRow{"NodeElsewhere", "serial:E661", false, "/dev/loaders/ttyACM0", ""},
        LookupRow{"UnknownNameOpensAsGiven", "/dev/pts/3", false, "/dev/pts/3", ""},
        LookupRow{"ComName", "COM1", false, "COM1", ""},
        LookupRow{"UnknownSerialNumber", "serial:NOPE", false, "",
                  "no serial port has this USB serial number (tavrin-cli ports lists them)"},
        LookupRow{"SharedSerialNumber", "serial:DUAL01", false, "", kSeveral},
        LookupRow{"BareSharedSerialNumber", "DUAL01", false, "", kSeveral},
        LookupRow{"EmptySerialNumber", "serial:", false, "",
                  "needs a USB serial number after serial: (serial:A50285BI)"},
        LookupRow{"SerialWithoutAList", "serial:A50285BI", true, "",
                  "cannot be looked up: the serial ports cannot be listed (udev_new failed)"},
        LookupRow{"NameWithoutAList", "ttyUSB0", true, "ttyUSB0", ""}),
    [](const auto& row) { return std::string(row.param.name); });

}  // namespace
}  // namespace tavrin::cli
