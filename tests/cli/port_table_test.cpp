// tavrin-cli ports from a sysfs built in a temporary directory, and --port against a list.
#include "cli/port_table.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "cli/port_lookup.h"
#include "support/temp_files.h"

namespace tavrin::cli {
namespace {

namespace fs = std::filesystem;

const serial::PortInfo kUart{"ttyS0", "/dev/ttyS0", {}, {}, {}, {}, {}, {}, {}};
const serial::PortInfo kFtdi{"ttyUSB0",
                             "/dev/ttyUSB0",
                             "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0",
                             0x0403,
                             0x6001,
                             "FTDI",
                             "FT232R USB UART",
                             "A50285BI",
                             {}};

// The table and the JSON of the same rows.
TEST(PortTable, AlignsEveryFieldAndMarksWhatAPortLacks) {
  const test::TempDir sysfs;
  for (const auto& [tty, text] : {std::pair{"ttyUSB0", "16\n"}, std::pair{"ttyS0", "junk"}}) {
    fs::create_directories(sysfs / "class/tty" / tty / "device");
    test::WriteFile(sysfs / "class/tty" / tty / "device/latency_timer", text);
  }
  const auto rows = PortRows(std::vector<serial::PortInfo>{kUart, kFtdi}, sysfs.Path());
  EXPECT_EQ(PortTable(rows),
            "DEVICE        BY-ID                                         USB ID     MANUFACTURER  "
            "PRODUCT          SERIAL    LATENCY\n"
            "/dev/ttyS0    -                                             -          -             "
            "-                -         -\n"
            "/dev/ttyUSB0  usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0  0403:6001  FTDI          "
            "FT232R USB UART  A50285BI  16 ms\n");
  // The JSON: every field, on one line, with null for what a port lacks.
  const std::string text = PortJson(rows);
  EXPECT_EQ(text.find('\n'), text.size() - 1);
  const auto ports = nlohmann::json::parse(text).at("ports");
  ASSERT_EQ(ports.size(), 2u);
  EXPECT_EQ(ports[0], nlohmann::json::parse(R"({"name":"ttyS0","device":"/dev/ttyS0",
      "by_id":null,"vendor_id":null,"product_id":null,"manufacturer":null,"product":null,
      "serial_number":null,"latency_timer_ms":null})"));
  EXPECT_EQ(ports[1], nlohmann::json::parse(R"({"name":"ttyUSB0","device":"/dev/ttyUSB0",
      "by_id":"usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0","vendor_id":"0403",
      "product_id":"6001","manufacturer":"FTDI","product":"FT232R USB UART",
      "serial_number":"A50285BI","latency_timer_ms":16})"));
  serial::PortInfo latin1 = kFtdi;
  latin1.manufacturer = "Caf\xE9";  // not UTF-8: replaced, the listing still goes out
  EXPECT_NE(PortJson(std::vector<PortRow>{{latin1, 1u}}).find("\"Caf\uFFFD\""), std::string::npos);
}

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
