// The serial ports of this machine, as the Port Settings list and the command line's port
// listing show them: one PortInfo per port that has a UART or a USB serial device behind
// it, in natural name order (ttyS0, ttyS1, ..., ttyUSB0, ttyUSB1, ttyUSB10).
//
// What the device manager knows is read through a TtyDeviceSource, so that the rules
// (which devices are ports, which fields they carry, the order, the lookup) run on a fake
// tree in tests; the production source asks libudev. Any thread may list; a source is used
// by one thread at a time.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tavrin::serial {

// Where the device manager keeps the stable names of serial devices.
inline constexpr std::string_view kSerialByIdDir = "/dev/serial/by-id/";

// Names and values, as the device manager gives them.
using DeviceAttributes = std::map<std::string, std::string, std::less<>>;

// One device of the tty subsystem as the device manager describes it.
struct TtyDeviceRecord {
  std::string sysname;  // "ttyUSB0"
  std::string devnode;  // "/dev/ttyUSB0"; empty when the device has no node
  std::string syspath;  // "/sys/devices/pci0000:00/.../ttyUSB0/tty/ttyUSB0"
  // The subsystem of the device the tty hangs on ("usb-serial", "usb", "serial-base",
  // "platform", "pnp"); nullopt for a virtual tty (consoles, ptmx), which has none.
  std::optional<std::string> parentSubsystem;
  // The device manager's properties: DEVLINKS (its symbolic links, blank-separated),
  // ID_VENDOR_ID, ID_MODEL_ID, ID_SERIAL_SHORT, ...
  DeviceAttributes properties;
  DeviceAttributes sysattrs;  // the tty's own: "type"
  // Attributes of the USB device the tty belongs to (idVendor, idProduct, manufacturer,
  // product, serial); nullopt when it is not on USB.
  std::optional<DeviceAttributes> usbDevice;
};

// What a source found, or why it found nothing.
struct TtyDeviceList {
  std::vector<TtyDeviceRecord> devices;
  std::string error;  // empty when the device manager could be asked
};

// The device manager's view of the tty subsystem.
class TtyDeviceSource {
 public:
  virtual ~TtyDeviceSource() = default;
  // Every device of the tty subsystem, in any order.
  virtual TtyDeviceList TtyDevices() = 0;
};

// The production source: libudev's enumeration of the "tty" subsystem.
std::unique_ptr<TtyDeviceSource> MakeUdevTtyDeviceSource();

// One serial port. Text fields the device does not have are empty.
struct PortInfo {
  std::string name;        // "ttyUSB0": the name the Port Settings list shows
  std::string devicePath;  // "/dev/ttyUSB0"
  std::string byIdName;    // "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0" (no directory)
  std::optional<std::uint16_t> vendorId;   // USB idVendor
  std::optional<std::uint16_t> productId;  // USB idProduct
  std::string manufacturer;
  std::string product;
  std::string serialNumber;  // USB serial number: "A50285BI"
  std::string sysfsPath;     // the tty device's sysfs path

  bool operator==(const PortInfo&) const = default;
};

struct PortList {
  std::vector<PortInfo> ports;
  std::string error;  // why the ports could not be listed; empty on success
};

// The ports among `source`'s devices, in natural name order. Left out: virtual ttys
// (consoles, ptmx) and serial-core ports whose "type" is 0, the placeholders the 8250
// driver registers for UARTs that are not there.
PortList ListPorts(TtyDeviceSource& source);
// The ports of this machine (libudev).
PortList ListPorts();

// Natural name order: runs of digits compare by their value, so ttyUSB2 < ttyUSB10.
bool NaturalLess(std::string_view a, std::string_view b);

// The prefix that makes a lookup key a USB serial number only: "serial:A50285BI".
inline constexpr std::string_view kSerialKeyPrefix = "serial:";

// The ports `key` names, best match first. A key names a port by, in this order: its name
// ("ttyUSB0") or device path ("/dev/ttyUSB0"); its by-id name, bare or under
// /dev/serial/by-id/; its USB serial number. The first of these that matches decides;
// "serial:" + number asks for the serial number alone. Exactly one result means found;
// more than one means the key is ambiguous (several ports of one multi-port adapter share
// a serial number); none means not found.
std::vector<const PortInfo*> FindPorts(std::span<const PortInfo> ports, std::string_view key);

}  // namespace tavrin::serial
