// The texts of the script list's five columns for one record, as the list shows a record
// loaded from a DSF file: addresses and device id in hexadecimal capitals without leading
// zeros, the memory type and image type by name.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "scripts/script_record.h"
#include "scripts/script_result.h"

namespace tavrin::scripts {

// Column captions, left to right.
constexpr std::array<std::string_view, 5> kScriptListColumns = {
    "Start Address", "End Address", "Memory Type", "Image Type", "Device ID"};

struct ScriptListRow {
  std::string startAddress;  // e.g. "ABCDEF"
  std::string endAddress;
  std::string memoryType;  // "FLASH" or "EEPROM"
  std::string imageType;   // empty for an ImageType above 6
  std::string deviceId;

  bool operator==(const ScriptListRow&) const = default;
};

// `value` in hexadecimal capitals without leading zeros ("0" for zero).
std::string HexText(std::uint32_t value);

ScriptListRow MakeScriptListRow(const ScriptRecord& record);

// The rows of every record of the DSF file at `path` (as many as its bytes hold).
Result<std::vector<ScriptListRow>> ReadScriptListRows(const std::filesystem::path& path);

}  // namespace tavrin::scripts
