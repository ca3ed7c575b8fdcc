// --port by name, path, /dev/serial/by-id name or USB serial number, against a port list.
#include "cli/port_lookup.h"

#include <gtest/gtest.h>

namespace tavrin::cli {
namespace {

serial::PortInfo Port(std::string name, std::string serialNumber, std::string byId = {}) {
  return {name, "/dev/" + name, std::move(byId), {}, {}, {}, {}, std::move(serialNumber), {}};
}

struct LookupRow {
  const char* name;
  std::string given;
  std::string portName;  // what opens; empty: a usage error
  std::string error;
};

class LookUpPortTest : public testing::TestWithParam<LookupRow> {};

TEST_P(LookUpPortTest, OpensWhatTheNameStandsFor) {
  const LookupRow& row = GetParam();
  serial::PortList list{{Port("ttyS0", ""), Port("ttyUSB0", "A5", "usb-FTDI_A5-if00-port0"),
                         Port("ttyUSB1", "FT4232X", "usb-Dual_FT4232X-if00"),
                         Port("ttyUSB2", "FT4232X", "usb-Dual_FT4232X-if01")},
                        ""};
  list.ports.back().devicePath = "/dev/elsewhere/ttyUSB2";
  const PortLookup lookup = LookUpPort(row.given, list);
  EXPECT_EQ(lookup.portName, row.portName);
  EXPECT_EQ(lookup.error, row.error);
  // Without a list only a serial number fails; names open as given.
  const PortLookup unlisted = LookUpPort(row.given, {{}, "no udev"});
  EXPECT_EQ(unlisted.error.empty(), !row.given.starts_with("serial:")) << unlisted.error;
}

INSTANTIATE_TEST_SUITE_P(
    Names, LookUpPortTest,
    testing::Values(LookupRow{"SerialNumber", "serial:A5", "ttyUSB0", ""},
                    LookupRow{"ByIdName", "usb-FTDI_A5-if00-port0", "ttyUSB0", ""},
                    LookupRow{"ByIdPath", "/dev/serial/by-id/usb-Dual_FT4232X-if01",
                              "/dev/elsewhere/ttyUSB2", ""},
                    LookupRow{"UnknownNameOpensAsGiven", "/dev/pts/3", "/dev/pts/3", ""},
                    LookupRow{
                        "UnknownSerialNumber", "serial:NOPE", "",
                        "no serial port has this USB serial number (tavrin-cli ports lists them)"},
                    LookupRow{"SharedSerialNumber", "serial:FT4232X", "",
                              "names several ports: ttyUSB1, ttyUSB2; name one of them"},
                    LookupRow{"EmptySerialNumber", "serial:", "",
                              "needs a USB serial number after serial: (serial:A50285BI)"}),
    [](const auto& row) { return std::string(row.param.name); });

}  // namespace
}  // namespace tavrin::cli
