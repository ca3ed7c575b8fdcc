#include "serial/port_list.h"

#include <algorithm>
#include <charconv>
#include <functional>

namespace tavrin::serial {
namespace {

// Virtual ttys (consoles, ptmx, tty) live here and have no device behind them.
constexpr std::string_view kVirtualDevices = "/sys/devices/virtual/";
// Serial-core port type of a port with no UART behind it (PORT_UNKNOWN).
constexpr std::string_view kNoUartType = "0";

std::string_view Lookup(const DeviceAttributes& attributes, std::string_view name) {
  const auto found = attributes.find(name);
  return found == attributes.end() ? std::string_view{} : std::string_view{found->second};
}

// The USB attribute `usbName`, else the device manager's property `propertyName` (a device
// whose attributes could not be read may still carry what the manager noted).
std::string_view UsbField(const TtyDeviceRecord& record, std::string_view usbName,
                          std::string_view propertyName) {
  if (record.usbDevice) {
    const std::string_view value = Lookup(*record.usbDevice, usbName);
    if (!value.empty()) return value;
  }
  return Lookup(record.properties, propertyName);
}

// A four-digit hexadecimal USB id ("0403"); nullopt for anything else.
std::optional<std::uint16_t> ParseUsbId(std::string_view text) {
  std::uint16_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
  if (text.empty() || error != std::errc{} || end != text.data() + text.size()) return {};
  return value;
}

// The first (in name order) of the blank-separated links that lies under
// /dev/serial/by-id/, without the directory.
std::string ByIdName(std::string_view devlinks) {
  std::string best;
  while (!devlinks.empty()) {
    const std::size_t blank = devlinks.find(' ');
    const std::string_view link = devlinks.substr(0, blank);
    devlinks = blank == std::string_view::npos ? std::string_view{} : devlinks.substr(blank + 1);
    if (!link.starts_with(kSerialByIdDir) || link.size() == kSerialByIdDir.size()) continue;
    const std::string_view name = link.substr(kSerialByIdDir.size());
    if (best.empty() || name < best) best = name;
  }
  return best;
}

bool IsPort(const TtyDeviceRecord& record) {
  if (!record.parentSubsystem || record.syspath.starts_with(kVirtualDevices)) return false;
  return Lookup(record.sysattrs, "type") != kNoUartType;
}

PortInfo MakePortInfo(const TtyDeviceRecord& record) {
  PortInfo port;
  port.name = record.sysname;
  port.devicePath = record.devnode.empty() ? "/dev/" + record.sysname : record.devnode;
  port.byIdName = ByIdName(Lookup(record.properties, "DEVLINKS"));
  port.vendorId = ParseUsbId(UsbField(record, "idVendor", "ID_VENDOR_ID"));
  port.productId = ParseUsbId(UsbField(record, "idProduct", "ID_MODEL_ID"));
  port.serialNumber = UsbField(record, "serial", "ID_SERIAL_SHORT");
  if (record.usbDevice) {
    port.manufacturer = Lookup(*record.usbDevice, "manufacturer");
    port.product = Lookup(*record.usbDevice, "product");
  }
  port.sysfsPath = record.syspath;
  return port;
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// The run of digits at `at` (advancing past it), without its leading zeros.
std::string_view TakeNumber(std::string_view text, std::size_t& at) {
  const std::size_t start = at;
  while (at < text.size() && IsDigit(text[at])) ++at;
  std::string_view digits = text.substr(start, at - start);
  while (digits.size() > 1 && digits.front() == '0') digits.remove_prefix(1);
  return digits;
}

std::vector<const PortInfo*> Matching(std::span<const PortInfo> ports,
                                      const std::function<bool(const PortInfo&)>& matches) {
  std::vector<const PortInfo*> found;
  for (const PortInfo& port : ports) {
    if (matches(port)) found.push_back(&port);
  }
  return found;
}

}  // namespace

PortList ListPorts(TtyDeviceSource& source) {
  TtyDeviceList devices = source.TtyDevices();
  PortList list;
  list.error = std::move(devices.error);
  for (const TtyDeviceRecord& record : devices.devices) {
    if (IsPort(record)) list.ports.push_back(MakePortInfo(record));
  }
  std::sort(list.ports.begin(), list.ports.end(),
            [](const PortInfo& a, const PortInfo& b) { return NaturalLess(a.name, b.name); });
  return list;
}

PortList ListPorts() {
  return ListPorts(*MakeUdevTtyDeviceSource());
}

bool NaturalLess(std::string_view a, std::string_view b) {
  std::size_t i = 0;
  std::size_t j = 0;
  while (i < a.size() && j < b.size()) {
    if (IsDigit(a[i]) && IsDigit(b[j])) {
      const std::string_view x = TakeNumber(a, i);
      const std::string_view y = TakeNumber(b, j);
      if (x.size() != y.size()) return x.size() < y.size();
      if (x != y) return x < y;
      continue;
    }
    if (a[i] != b[j]) return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]);
    ++i;
    ++j;
  }
  if (i < a.size() || j < b.size()) return j < b.size();
  // Equal but for leading zeros ("ttyS01", "ttyS1"): plain order keeps the order strict.
  return a < b;
}

std::vector<const PortInfo*> FindPorts(std::span<const PortInfo> ports, std::string_view key) {
  if (key.empty()) return {};
  const auto bySerialNumber = [](std::string_view number) {
    return
        [number](const PortInfo& port) { return !number.empty() && port.serialNumber == number; };
  };
  if (key.starts_with(kSerialKeyPrefix)) {
    return Matching(ports, bySerialNumber(key.substr(kSerialKeyPrefix.size())));
  }
  const std::function<bool(const PortInfo&)> matchers[] = {
      [key](const PortInfo& port) { return port.name == key || port.devicePath == key; },
      [key](const PortInfo& port) {
        if (port.byIdName.empty()) return false;
        return port.byIdName == key || (key.starts_with(kSerialByIdDir) &&
                                        key.substr(kSerialByIdDir.size()) == port.byIdName);
      },
      bySerialNumber(key),
  };
  for (const auto& matches : matchers) {
    auto found = Matching(ports, matches);
    if (!found.empty()) return found;
  }
  return {};
}

}  // namespace tavrin::serial
