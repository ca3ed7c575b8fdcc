// tavrin-cli ports: the rows read from a sysfs built in a temporary directory, and the
// table and the JSON made of them.
#include "cli/port_table.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>
#include <nlohmann/json.hpp>

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

TEST(PortTable, AlignsEveryFieldAndMarksWhatAPortLacks) {
  std::string pattern = (fs::path(testing::TempDir()) / "sysfs_XXXXXX").string();
  ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
  const fs::path sysfs = pattern;
  for (const auto& [tty, text] : {std::pair{"ttyUSB0", "16\n"}, std::pair{"ttyS0", "junk"}}) {
    fs::create_directories(sysfs / "class/tty" / tty / "device");
    std::ofstream(sysfs / "class/tty" / tty / "device/latency_timer") << text;
  }
  const std::vector<serial::PortInfo> ports{kUart, kFtdi};
  const auto rows = PortRows(ports, sysfs);
  fs::remove_all(sysfs);
  EXPECT_EQ(PortTable(rows),
            "DEVICE        BY-ID                                         USB ID     MANUFACTURER  "
            "PRODUCT          SERIAL    LATENCY\n"
            "/dev/ttyS0    -                                             -          -             "
            "-                -         -\n"
            "/dev/ttyUSB0  usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0  0403:6001  FTDI          "
            "FT232R USB UART  A50285BI  16 ms\n");
}

TEST(PortJson, GivesEveryFieldOnOneLineWithNullForWhatAPortLacks) {
  serial::PortInfo latin1 = kFtdi;
  latin1.manufacturer = "Caf\xE9";  // not UTF-8: replaced, the listing still goes out
  const std::vector<PortRow> rows{{kUart, std::nullopt}, {kFtdi, 16u}, {latin1, 1u}};
  const std::string text = PortJson(rows);
  EXPECT_EQ(text.find('\n'), text.size() - 1);
  const auto ports = nlohmann::json::parse(text).at("ports");
  ASSERT_EQ(ports.size(), 3u);
  EXPECT_EQ(ports[0], nlohmann::json::parse(R"({"name":"ttyS0","device":"/dev/ttyS0",
      "by_id":null,"vendor_id":null,"product_id":null,"manufacturer":null,"product":null,
      "serial_number":null,"latency_timer_ms":null})"));
  EXPECT_EQ(ports[1], nlohmann::json::parse(R"({"name":"ttyUSB0","device":"/dev/ttyUSB0",
      "by_id":"usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0","vendor_id":"0403",
      "product_id":"6001","manufacturer":"FTDI","product":"FT232R USB UART",
      "serial_number":"A50285BI","latency_timer_ms":16})"));
  EXPECT_EQ(ports[2].at("manufacturer"), "Caf\uFFFD");
}

}  // namespace
}  // namespace tavrin::cli
