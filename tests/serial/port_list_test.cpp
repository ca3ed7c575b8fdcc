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

TtyDeviceRecord VirtualTty(const std::string& name) {
  return {name, "/dev/" + name, "/sys/devices/virtual/tty/" + name, std::nullopt, {}, {}, {}};
}

TtyDeviceRecord Uart(const std::string& name, const std::string& type) {
  return {name,
          "/dev/" + name,
          "/sys/devices/platform/serial8250/serial8250:0/serial8250:0.0/tty/" + name,
          "serial-base",
          {},
          {{"type", type}},
          {}};
}

// A USB serial adapter; `serial` empty: the device has no serial number.
TtyDeviceRecord UsbTty(const std::string& name, const std::string& serial = {}) {
  TtyDeviceRecord record{
      name, "/dev/" + name,    "/sys/devices/pci0000:00/usb1/1-1/tty/" + name, "usb-serial", {},
      {},   DeviceAttributes{}};
  record.usbDevice = DeviceAttributes{{"idVendor", "0403"},
                                      {"idProduct", "6001"},
                                      {"manufacturer", "FTDI"},
                                      {"product", "FT232R USB UART"}};
  if (!serial.empty()) (*record.usbDevice)["serial"] = serial;
  return record;
}

std::vector<std::string> Names(const std::vector<PortInfo>& ports) {
  std::vector<std::string> names;
  for (const PortInfo& port : ports) names.push_back(port.name);
  return names;
}

TEST(PortList, LeavesOutConsolesAndEmptyUartsAndSortsNaturally) {
  TtyDeviceRecord printk = VirtualTty("ttyprintk");
  printk.parentSubsystem = "tty";  // a parent, but still a virtual device
  FakeTtySource source({UsbTty("ttyUSB10"), VirtualTty("tty0"), Uart("ttyS1", "0"),
                        UsbTty("ttyUSB2"), VirtualTty("console"), Uart("ttyS10", "4"),
                        Uart("ttyS0", "4"), VirtualTty("ptmx"), UsbTty("ttyUSB0"),
                        Uart("ttyS2", "0"), UsbTty("ttyACM0"), VirtualTty("tty63"), printk});
  const PortList list = ListPorts(source);
  EXPECT_EQ(list.error, "");
  EXPECT_EQ(Names(list.ports), (std::vector<std::string>{"ttyACM0", "ttyS0", "ttyS10", "ttyUSB0",
                                                         "ttyUSB2", "ttyUSB10"}));
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
  TtyDeviceRecord noNode = Uart("ttyS4", "4");
  noNode.devnode.clear();
  TtyDeviceRecord fromProperties = UsbTty("ttyACM1");  // what the attributes lack
  fromProperties.usbDevice = DeviceAttributes{{"product", "Loader"}};
  fromProperties.properties = {
      {"ID_VENDOR_ID", "2e8a"}, {"ID_MODEL_ID", "000a"}, {"ID_SERIAL_SHORT", "E66138"}};
  FakeTtySource source({ftdi, twoLinks, malformed, noNode, fromProperties});

  const std::vector<PortInfo> expected{
      {"ttyACM1", "/dev/ttyACM1", "", 0x2e8a, 0x000a, "", "Loader", "E66138",
       fromProperties.syspath},
      {"ttyS4", "/dev/ttyS4", "", std::nullopt, std::nullopt, "", "", "", noNode.syspath},
      {"ttyUSB0", "/dev/ttyUSB0", "usb-FTDI_A50285BI-if00-port0", 0x0403, 0x6001, "FTDI",
       "FT232R USB UART", "A50285BI", ftdi.syspath},
      {"ttyUSB1", "/dev/ttyUSB1", "usb-a-if00", 0x0403, 0x6001, "FTDI", "FT232R USB UART", "",
       twoLinks.syspath},
      {"ttyUSB3", "/dev/ttyUSB3", "", std::nullopt, std::nullopt, "FTDI", "FT232R USB UART", "",
       malformed.syspath}};
  const PortList list = ListPorts(source);
  ASSERT_EQ(list.ports.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(list.ports[i], expected[i]) << expected[i].name;
  }
}

struct OrderRow {
  const char* a;
  const char* b;
  bool less;
};

class NaturalOrderTest : public ::testing::TestWithParam<OrderRow> {};

TEST_P(NaturalOrderTest, ComparesNumbersByValue) {
  EXPECT_EQ(NaturalLess(GetParam().a, GetParam().b), GetParam().less)
      << GetParam().a << " < " << GetParam().b;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, NaturalOrderTest,
    ::testing::Values(OrderRow{"ttyUSB2", "ttyUSB10", true}, OrderRow{"ttyUSB10", "ttyUSB2", false},
                      OrderRow{"ttyS9", "ttyUSB0", true}, OrderRow{"ttyS1", "ttyS1", false},
                      OrderRow{"ttyS", "ttyS0", true}, OrderRow{"ttyS01", "ttyS1", true},
                      OrderRow{"ttyS007", "ttyS10", true}, OrderRow{"a10b1", "a9b2", false}));

struct LookupRow {
  const char* name;
  const char* key;
  std::vector<std::string> found;
};

class PortLookupTest : public ::testing::TestWithParam<LookupRow> {};

TEST_P(PortLookupTest, FindsByNamePathByIdOrSerialNumber) {
  TtyDeviceRecord adapter = UsbTty("ttyUSB0", "A50285BI");
  adapter.properties["DEVLINKS"] = "/dev/serial/by-id/usb-FTDI_A50285BI-if00-port0";
  // A two-port adapter: both ports share one serial number.
  TtyDeviceRecord dualA = UsbTty("ttyUSB1", "FT4DUAL");
  TtyDeviceRecord dualB = UsbTty("ttyUSB2", "FT4DUAL");
  // A port whose serial number is another port's name: the name wins.
  TtyDeviceRecord odd = UsbTty("ttyACM0", "ttyS0");
  FakeTtySource source({adapter, dualA, dualB, odd, Uart("ttyS0", "4")});
  const PortList list = ListPorts(source);

  std::vector<std::string> found;
  for (const PortInfo* port : FindPorts(list.ports, GetParam().key)) found.push_back(port->name);
  EXPECT_EQ(found, GetParam().found);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, PortLookupTest,
    ::testing::Values(
        LookupRow{"Name", "ttyUSB0", {"ttyUSB0"}}, LookupRow{"DevicePath", "/dev/ttyS0", {"ttyS0"}},
        LookupRow{"ByIdName", "usb-FTDI_A50285BI-if00-port0", {"ttyUSB0"}},
        LookupRow{"ByIdPath", "/dev/serial/by-id/usb-FTDI_A50285BI-if00-port0", {"ttyUSB0"}},
        LookupRow{"SerialNumber", "A50285BI", {"ttyUSB0"}},
        LookupRow{"SerialPrefix", "serial:A50285BI", {"ttyUSB0"}},
        LookupRow{"SharedSerialIsAmbiguous", "serial:FT4DUAL", {"ttyUSB1", "ttyUSB2"}},
        LookupRow{"NameBeatsSerialNumber", "ttyS0", {"ttyS0"}},
        LookupRow{"SerialPrefixAsksForTheNumberOnly", "serial:ttyS0", {"ttyACM0"}},
        LookupRow{"EmptySerialNumberNamesNothing", "serial:", {}},
        LookupRow{"Unknown", "ttyUSB9", {}}),
    [](const ::testing::TestParamInfo<LookupRow>& row) { return std::string(row.param.name); });

TEST(PortList, TheUdevSourceListsThisMachine) {
  const PortList list = ListPorts();
  EXPECT_EQ(list.error, "");
  for (const PortInfo& port : list.ports) {
    EXPECT_FALSE(port.name.empty());
    EXPECT_TRUE(port.devicePath.starts_with("/dev/")) << port.devicePath;
    EXPECT_TRUE(port.sysfsPath.starts_with("/sys/")) << port.sysfsPath;
  }
}

}  // namespace
}  // namespace tavrin::serial
