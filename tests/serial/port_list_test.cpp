#include "serial/port_list.h"

#include <gtest/gtest.h>

namespace tavrin::serial {
namespace {

class FakeTtySource final : public TtyDeviceSource {
 public:
  explicit FakeTtySource(std::vector<TtyDeviceRecord> devices) : list_{std::move(devices), {}} {}
  TtyDeviceList TtyDevices() override { return list_; }

 private:
  TtyDeviceList list_;
};

// A tty as udev lists it: virtual without a parent; a UART of type "0" has no chip behind it.
TtyDeviceRecord Tty(const std::string& name, std::optional<std::string> parent = {},
                    const std::string& uartType = {}) {
  const std::string dir = parent ? "/sys/devices/platform/" : "/sys/devices/virtual/";
  TtyDeviceRecord record{name, "/dev/" + name, dir + "tty/" + name, parent, {}, {}, {}};
  if (!uartType.empty()) record.sysattrs["type"] = uartType;
  return record;
}

// A USB serial adapter; `serial` empty: the device has no serial number.
TtyDeviceRecord UsbTty(const std::string& name, const std::string& serial = {}) {
  TtyDeviceRecord record = Tty(name, "usb-serial");
  record.usbDevice = DeviceAttributes{{"idVendor", "0403"},
                                      {"idProduct", "6001"},
                                      {"manufacturer", "FTDI"},
                                      {"product", "FT232R USB UART"}};
  if (!serial.empty()) (*record.usbDevice)["serial"] = serial;
  return record;
}

TEST(PortList, LeavesOutConsolesAndEmptyUartsAndSortsNaturally) {
  TtyDeviceRecord printk = Tty("ttyprintk");
  printk.parentSubsystem = "tty";  // a parent, but still a virtual device
  FakeTtySource source({UsbTty("ttyUSB10"), Tty("tty0"), Tty("ttyS1", "serial-base", "0"),
                        UsbTty("ttyUSB2"), Tty("console"), Tty("ttyS10", "serial-base", "4"),
                        Tty("ttyS0", "serial-base", "4"), Tty("ptmx"), UsbTty("ttyUSB0"),
                        Tty("ttyS2", "serial-base", "0"), UsbTty("ttyACM0"), printk});
  const PortList list = ListPorts(source);
  EXPECT_EQ(list.error, "");
  std::vector<std::string> names;
  for (const PortInfo& port : list.ports) names.push_back(port.name);
  EXPECT_EQ(names, (std::vector<std::string>{"ttyACM0", "ttyS0", "ttyS10", "ttyUSB0", "ttyUSB2",
                                             "ttyUSB10"}));
}

TEST(PortList, FillsWhatEachDeviceHas) {
  TtyDeviceRecord ftdi = UsbTty("ttyUSB0", "A50285BI");
  ftdi.properties["DEVLINKS"] =
      "/dev/serial/by-path/pci-0000:00:14.0-usb-0:1:1.0-port0 "
      "/dev/serial/by-id/usb-FTDI_A50285BI-if00-port0";
  TtyDeviceRecord twoLinks = UsbTty("ttyUSB1");  // the first by-id link by name is taken
  twoLinks.properties["DEVLINKS"] = "/dev/serial/by-id/usb-b-if00 /dev/serial/by-id/usb-a-if00";
  TtyDeviceRecord malformed = UsbTty("ttyUSB3");
  (*malformed.usbDevice)["idVendor"] = "04g3";
  (*malformed.usbDevice)["idProduct"] = "123456";
  malformed.properties["DEVLINKS"] = "/dev/serial/by-id/";
  TtyDeviceRecord noNode = Tty("ttyS4", "serial-base", "4");
  noNode.devnode.clear();
  TtyDeviceRecord fromProperties = UsbTty("ttyACM1");  // what the attributes lack
  fromProperties.usbDevice = DeviceAttributes{{"product", "Loader"}};
  fromProperties.properties = {
      {"ID_VENDOR_ID", "2e8a"}, {"ID_MODEL_ID", "000a"}, {"ID_SERIAL_SHORT", "E66138"}};
  FakeTtySource source({ftdi, twoLinks, malformed, noNode, fromProperties});

  // clang-format off
  const std::vector<PortInfo> expected{
      {"ttyACM1", "/dev/ttyACM1", "", 0x2e8a, 0x000a, "", "Loader", "E66138", fromProperties.syspath},
      {"ttyS4", "/dev/ttyS4", "", std::nullopt, std::nullopt, "", "", "", noNode.syspath},
      {"ttyUSB0", "/dev/ttyUSB0", "usb-FTDI_A50285BI-if00-port0", 0x0403, 0x6001, "FTDI", "FT232R USB UART", "A50285BI", ftdi.syspath},
      {"ttyUSB1", "/dev/ttyUSB1", "usb-a-if00", 0x0403, 0x6001, "FTDI", "FT232R USB UART", "", twoLinks.syspath},
      {"ttyUSB3", "/dev/ttyUSB3", "", std::nullopt, std::nullopt, "FTDI", "FT232R USB UART", "", malformed.syspath}};
  // clang-format on
  EXPECT_EQ(ListPorts(source).ports, expected);
}

// Numbers of different lengths are ordered by the list's sort above.
TEST(PortList, NaturalOrderComparesNumbersByValue) {
  const struct {
    const char* a;
    const char* b;
    bool less;
  } rows[] = {{"ttyS9", "ttyUSB0", true}, {"ttyS1", "ttyS1", false},   {"ttyS", "ttyS0", true},
              {"ttyS01", "ttyS1", true},  {"ttyS007", "ttyS10", true}, {"a10b1", "a9b2", false}};
  for (const auto& row : rows) EXPECT_EQ(NaturalLess(row.a, row.b), row.less) << row.a << row.b;
}

// By-id names and shared serial numbers are looked up in the command line's tests too.
TEST(PortList, FindsByNamePathOrSerialNumber) {
  // A port whose serial number is another port's name: the name wins.
  FakeTtySource source({UsbTty("ttyUSB0", "A50285BI"), UsbTty("ttyACM0", "ttyS0"),
                        Tty("ttyS0", "serial-base", "4")});
  const PortList list = ListPorts(source);
  const std::pair<std::string, std::vector<std::string>> rows[] = {
      {"ttyUSB0", {"ttyUSB0"}}, {"/dev/ttyS0", {"ttyS0"}},     {"A50285BI", {"ttyUSB0"}},
      {"ttyS0", {"ttyS0"}},     {"serial:ttyS0", {"ttyACM0"}}, {"ttyUSB9", {}}};
  for (const auto& [key, names] : rows) {
    std::vector<std::string> found;
    for (const PortInfo* port : FindPorts(list.ports, key)) found.push_back(port->name);
    EXPECT_EQ(found, names) << key;
  }
}

}  // namespace
}  // namespace tavrin::serial
