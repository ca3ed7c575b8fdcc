// The tty devices as libudev sees them. Without a running device manager libudev still
// reads sysfs, so names, nodes and attributes are there; only the properties the manager
// adds (DEVLINKS, ID_*) are then missing.
#include <libudev.h>

#include <cerrno>
#include <cstring>
#include <initializer_list>

#include "serial/port_list.h"

namespace tavrin::serial {
namespace {

// The attributes read from the tty itself and from the USB device it belongs to.
constexpr std::initializer_list<const char*> kTtyAttributes = {"type"};
constexpr std::initializer_list<const char*> kUsbAttributes = {"idVendor", "idProduct",
                                                               "manufacturer", "product", "serial"};

struct UdevDeleter {
  void operator()(udev* context) const { udev_unref(context); }
  void operator()(udev_enumerate* enumerate) const { udev_enumerate_unref(enumerate); }
  void operator()(udev_device* device) const { udev_device_unref(device); }
};
template <typename T>
using UdevPtr = std::unique_ptr<T, UdevDeleter>;

std::string Text(const char* text) {
  return text == nullptr ? std::string{} : std::string{text};
}

std::string Failure(std::string_view step, int error) {
  return std::string(step) + ": " + std::strerror(error);
}

DeviceAttributes ReadAttributes(udev_device* device, std::initializer_list<const char*> names) {
  DeviceAttributes attributes;
  for (const char* name : names) {
    if (const char* value = udev_device_get_sysattr_value(device, name)) attributes[name] = value;
  }
  return attributes;
}

DeviceAttributes ReadProperties(udev_device* device) {
  DeviceAttributes properties;
  for (udev_list_entry* entry = udev_device_get_properties_list_entry(device); entry != nullptr;
       entry = udev_list_entry_get_next(entry)) {
    properties[Text(udev_list_entry_get_name(entry))] = Text(udev_list_entry_get_value(entry));
  }
  return properties;
}

TtyDeviceRecord MakeRecord(udev_device* device) {
  TtyDeviceRecord record;
  record.sysname = Text(udev_device_get_sysname(device));
  record.devnode = Text(udev_device_get_devnode(device));
  record.syspath = Text(udev_device_get_syspath(device));
  // Parents belong to the child device: they are not released here.
  if (udev_device* parent = udev_device_get_parent(device)) {
    record.parentSubsystem = Text(udev_device_get_subsystem(parent));
  }
  record.properties = ReadProperties(device);
  record.sysattrs = ReadAttributes(device, kTtyAttributes);
  if (udev_device* usb =
          udev_device_get_parent_with_subsystem_devtype(device, "usb", "usb_device")) {
    record.usbDevice = ReadAttributes(usb, kUsbAttributes);
  }
  return record;
}

class UdevTtyDeviceSource final : public TtyDeviceSource {
 public:
  TtyDeviceList TtyDevices() override {
    TtyDeviceList list;
    const UdevPtr<udev> context{udev_new()};
    if (!context) return {{}, Failure("udev_new", errno)};
    const UdevPtr<udev_enumerate> enumerate{udev_enumerate_new(context.get())};
    if (!enumerate) return {{}, Failure("udev_enumerate_new", errno)};
    if (const int error = udev_enumerate_add_match_subsystem(enumerate.get(), "tty"); error < 0) {
      return {{}, Failure("udev_enumerate_add_match_subsystem", -error)};
    }
    if (const int error = udev_enumerate_scan_devices(enumerate.get()); error < 0) {
      return {{}, Failure("udev_enumerate_scan_devices", -error)};
    }
    for (udev_list_entry* entry = udev_enumerate_get_list_entry(enumerate.get()); entry != nullptr;
         entry = udev_list_entry_get_next(entry)) {
      // A device that went away between the scan and this read is simply not listed.
      const UdevPtr<udev_device> device{
          udev_device_new_from_syspath(context.get(), udev_list_entry_get_name(entry))};
      if (device) list.devices.push_back(MakeRecord(device.get()));
    }
    return list;
  }
};

}  // namespace

std::unique_ptr<TtyDeviceSource> MakeUdevTtyDeviceSource() {
  return std::make_unique<UdevTtyDeviceSource>();
}

}  // namespace tavrin::serial
