// `tavrin-cli ports`: the machine's serial ports as a table for reading, or as JSON.
#pragma once

#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "serial/port_list.h"

namespace tavrin::cli {

// One port with its adapter's latency timer, when it has one.
struct PortRow {
  serial::PortInfo port;
  std::optional<unsigned> latencyTimer;  // milliseconds
};

// The rows of `ports`, each with the latency timer read under `sysfsRoot`.
std::vector<PortRow> PortRows(std::span<const serial::PortInfo> ports,
                              const std::filesystem::path& sysfsRoot);

// Aligned columns with a heading line; "-" where a port has no value.
std::string PortTable(std::span<const PortRow> rows);

// {"ports":[{"name":..,"device":..,"by_id":..,"vendor_id":"0403","product_id":"6001",
// "manufacturer":..,"product":..,"serial_number":..,"latency_timer_ms":16},..]} on one
// line; null where a port has no value. Bytes that are not UTF-8 become U+FFFD.
std::string PortJson(std::span<const PortRow> rows);

}  // namespace tavrin::cli
