#include "scripts/script_list_rows.h"

#include <array>
#include <charconv>
#include <utility>

#include "scripts/dsf_file.h"

namespace tavrin::scripts {

std::string HexText(std::uint32_t value) {
  std::array<char, 8> digits{};
  const std::to_chars_result converted =
      std::to_chars(digits.data(), digits.data() + digits.size(), value, 16);
  std::string text{digits.data(), converted.ptr};
  for (char& c : text) {
    if (c >= 'a' && c <= 'f') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

ScriptListRow MakeScriptListRow(const ScriptRecord& record) {
  const CommandData& command = record.command;
  return ScriptListRow{
      .startAddress = HexText(command.startAddress),
      .endAddress = HexText(command.endAddress),
      .memoryType = std::string{MemoryTypeText(command.memoryType)},
      .imageType = std::string{ImageTypeText(command.imageType)},
      .deviceId = HexText(command.deviceId),
  };
}

Result<std::vector<ScriptListRow>> ReadScriptListRows(const std::filesystem::path& path) {
  Result<DsfReader> reader = DsfReader::Open(path);
  if (!reader) return reader.Error();
  std::vector<ScriptListRow> rows;
  for (std::uint32_t i = 0; i < reader->RecordCount(); ++i) {
    Result<ScriptRecord> record = reader->ReadNext();
    if (!record) return record.Error();
    rows.push_back(MakeScriptListRow(*record));
  }
  return rows;
}

}  // namespace tavrin::scripts
