#include "cli/port_lookup.h"

#include <vector>

#include "serial/port_settings.h"

namespace tavrin::cli {
namespace {

constexpr std::string_view kListHint = " (tavrin-cli ports lists them)";

std::string Names(const std::vector<const serial::PortInfo*>& ports) {
  std::string names;
  for (const serial::PortInfo* port : ports) names += (names.empty() ? "" : ", ") + port->name;
  return names;
}

// The short name when it leads to the same node, so that messages show "ttyUSB0".
std::string OpenName(const serial::PortInfo& port) {
  return serial::DevicePath(port.name) == port.devicePath ? port.name : port.devicePath;
}

}  // namespace

PortLookup LookUpPort(std::string_view given, const serial::PortList& list) {
  const bool bySerial = given.starts_with(serial::kSerialKeyPrefix);
  if (bySerial && given.size() == serial::kSerialKeyPrefix.size()) {
    return {{}, "needs a USB serial number after serial: (serial:A50285BI)"};
  }
  if (bySerial && !list.error.empty()) {
    return {{}, "cannot be looked up: the serial ports cannot be listed (" + list.error + ")"};
  }
  const auto found = serial::FindPorts(list.ports, given);
  if (found.size() == 1) return {OpenName(*found.front()), {}};
  if (found.size() > 1) {
    return {{}, "names several ports: " + Names(found) + "; name one of them"};
  }
  if (bySerial) {
    return {{}, "no serial port has this USB serial number" + std::string(kListHint)};
  }
  return {std::string(given), {}};
}

}  // namespace tavrin::cli
