// tavrin-cli ports: the rows read from a device tree built in a temporary directory, the
// table and the JSON made of them.
#include "cli/port_table.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>
#include <nlohmann/json.hpp>

namespace tavrin::cli {
namespace {

namespace fs = std::filesystem;

serial::PortInfo Uart() {
  serial::PortInfo port;
  port.name = "ttyS0";
  port.devicePath = "/dev/ttyS0";
  return port;
}

serial::PortInfo Ftdi() {
  serial::PortInfo port;
  port.name = "ttyUSB0";
  port.devicePath = "/dev/ttyUSB0";
  port.byIdName = "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0";
  port.vendorId = 0x0403;
  port.productId = 0x6001;
  port.manufacturer = "FTDI";
  port.product = "FT232R USB UART";
  port.serialNumber = "A50285BI";
  return port;
}

class PortRowsTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::path(testing::TempDir()) / "ports_XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    sysfs_ = pattern;
  }
  void TearDown() override { fs::remove_all(sysfs_); }

  void AddLatencyTimer(const std::string& tty, const std::string& text) {
    const fs::path device = sysfs_ / "class/tty" / tty / "device";
    fs::create_directories(device);
    std::ofstream(device / "latency_timer") << text;
  }

  fs::path sysfs_;
};

TEST_F(PortRowsTest, TheTableAlignsEveryFieldAndMarksWhatAPortLacks) {
  AddLatencyTimer("ttyUSB0", "16\n");
  AddLatencyTimer("ttyS0", "garbage");  // unreadable: no value, as without the file
  const std::vector<serial::PortInfo> ports{Uart(), Ftdi()};
  const auto rows = PortRows(ports, sysfs_);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].latencyTimer, std::nullopt);
  EXPECT_EQ(rows[1].latencyTimer, 16u);
  EXPECT_EQ(PortTable(rows),
            "DEVICE        BY-ID                                         USB ID     MANUFACTURER  "
            "PRODUCT          SERIAL    LATENCY\n"
            "/dev/ttyS0    -                                             -          -             "
            "-                -         -\n"
            "/dev/ttyUSB0  usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0  0403:6001  FTDI          "
            "FT232R USB UART  A50285BI  16 ms\n");
}

TEST(PortJson, GivesEveryFieldWithNullForWhatAPortLacks) {
  serial::PortInfo odd = Ftdi();
  odd.name = "ttyUSB1";
  odd.manufacturer = "Caf\xE9";  // Latin-1 from a device's string descriptor
  odd.vendorId = 0x1a86;
  const std::vector<PortRow> rows{{Uart(), std::nullopt}, {Ftdi(), 16u}, {odd, 1u}};
  const std::string text = PortJson(rows);
  ASSERT_EQ(text.back(), '\n');
  EXPECT_EQ(text.find('\n'), text.size() - 1);  // one line
  const auto document = nlohmann::json::parse(text);
  const auto& ports = document.at("ports");
  ASSERT_EQ(ports.size(), 3u);
  EXPECT_EQ(ports[0], nlohmann::json::parse(R"({"name":"ttyS0","device":"/dev/ttyS0",
      "by_id":null,"vendor_id":null,"product_id":null,"manufacturer":null,"product":null,
      "serial_number":null,"latency_timer_ms":null})"));
  EXPECT_EQ(ports[1], nlohmann::json::parse(R"({"name":"ttyUSB0","device":"/dev/ttyUSB0",
      "by_id":"usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0","vendor_id":"0403",
      "product_id":"6001","manufacturer":"FTDI","product":"FT232R USB UART",
      "serial_number":"A50285BI","latency_timer_ms":16})"));
  EXPECT_EQ(ports[2].at("manufacturer"), "Caf\uFFFD");
  EXPECT_EQ(ports[2].at("vendor_id"), "1a86");
  EXPECT_EQ(PortJson({}), "{\"ports\":[]}\n");
}

}  // namespace
}  // namespace tavrin::cli
