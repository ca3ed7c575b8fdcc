// What --port names: a port name or path opens as it is; a /dev/serial/by-id name or a USB
// serial number ("serial:A50285BI") is looked up in the machine's port list first.
#pragma once

#include <string>
#include <string_view>

#include "serial/port_list.h"

namespace tavrin::cli {

struct PortLookup {
  std::string portName;  // what to open: the given name, or the port the list found
  // A usage error (unknown or ambiguous name), to follow the name given; empty when found.
  std::string error;
};

// The port `given` names among `list`. A serial: number must name exactly one port; a
// name the list does not know opens as it is (a path, a pseudo-terminal, COM1), unless
// it names several ports.
PortLookup LookUpPort(std::string_view given, const serial::PortList& list);

}  // namespace tavrin::cli
