#include "cli/port_table.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "serial/usb_latency.h"

namespace tavrin::cli {
namespace {

using Json = nlohmann::ordered_json;

constexpr std::string_view kNoValue = "-";
constexpr std::string_view kColumnGap = "  ";
constexpr std::size_t kColumns = 7;
constexpr std::array<std::string_view, kColumns> kHeadings = {
    "DEVICE", "BY-ID", "USB ID", "MANUFACTURER", "PRODUCT", "SERIAL", "LATENCY"};

std::string HexId(std::uint16_t id) {
  std::array<char, 8> text{};
  std::snprintf(text.data(), text.size(), "%04x", static_cast<unsigned>(id));
  return text.data();
}

std::string OrNoValue(const std::string& text) {
  return text.empty() ? std::string(kNoValue) : text;
}

std::array<std::string, kColumns> Cells(const PortRow& row) {
  const serial::PortInfo& port = row.port;
  std::string usbId(kNoValue);
  if (port.vendorId && port.productId) usbId = HexId(*port.vendorId) + ":" + HexId(*port.productId);
  return {port.devicePath,
          OrNoValue(port.byIdName),
          usbId,
          OrNoValue(port.manufacturer),
          OrNoValue(port.product),
          OrNoValue(port.serialNumber),
          row.latencyTimer ? std::to_string(*row.latencyTimer) + " ms" : std::string(kNoValue)};
}

void AppendLine(std::string& table, const std::array<std::string, kColumns>& cells,
                const std::array<std::size_t, kColumns>& widths) {
  std::string line;
  for (std::size_t c = 0; c < kColumns; ++c) {
    if (c > 0) line += kColumnGap;
    line += cells[c];
    if (c + 1 < kColumns) line.append(widths[c] - cells[c].size(), ' ');
  }
  table += line + "\n";
}

Json TextOrNull(const std::string& text) {
  return text.empty() ? Json(nullptr) : Json(text);
}

Json PortObject(const PortRow& row) {
  const serial::PortInfo& port = row.port;
  Json object = Json::object();
  object["name"] = port.name;
  object["device"] = port.devicePath;
  object["by_id"] = TextOrNull(port.byIdName);
  object["vendor_id"] = port.vendorId ? Json(HexId(*port.vendorId)) : Json(nullptr);
  object["product_id"] = port.productId ? Json(HexId(*port.productId)) : Json(nullptr);
  object["manufacturer"] = TextOrNull(port.manufacturer);
  object["product"] = TextOrNull(port.product);
  object["serial_number"] = TextOrNull(port.serialNumber);
  object["latency_timer_ms"] = row.latencyTimer ? Json(*row.latencyTimer) : Json(nullptr);
  return object;
}

}  // namespace

std::vector<PortRow> PortRows(std::span<const serial::PortInfo> ports,
                              const std::filesystem::path& sysfsRoot) {
  std::vector<PortRow> rows;
  rows.reserve(ports.size());
  for (const serial::PortInfo& port : ports) {
    const auto file = serial::FindLatencyTimerFile(sysfsRoot, port.name);
    rows.push_back({port, file ? serial::ReadLatencyTimer(*file) : std::nullopt});
  }
  return rows;
}

std::string PortTable(std::span<const PortRow> rows) {
  std::vector<std::array<std::string, kColumns>> lines;
  lines.reserve(rows.size());
  std::array<std::size_t, kColumns> widths{};
  for (std::size_t c = 0; c < kColumns; ++c) widths[c] = kHeadings[c].size();
  for (const PortRow& row : rows) {
    lines.push_back(Cells(row));
    for (std::size_t c = 0; c < kColumns; ++c)
      widths[c] = std::max(widths[c], lines.back()[c].size());
  }
  std::string table;
  std::array<std::string, kColumns> headings;
  std::copy(kHeadings.begin(), kHeadings.end(), headings.begin());
  AppendLine(table, headings, widths);
  for (const auto& cells : lines) AppendLine(table, cells, widths);
  return table;
}

std::string PortJson(std::span<const PortRow> rows) {
  Json ports = Json::array();
  for (const PortRow& row : rows) ports.push_back(PortObject(row));
  const Json document = {{"ports", std::move(ports)}};
  return document.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
}

}  // namespace tavrin::cli
