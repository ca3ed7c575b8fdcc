#include "scripts/script_record.h"

#include <algorithm>

namespace tavrin::scripts {
namespace {

// Writes `value` little-endian into `out` starting at `offset`, `width` bytes.
template <std::size_t N>
void PutLittleEndian(std::array<std::uint8_t, N>& out, std::size_t offset, std::uint32_t value,
                     std::size_t width) {
  for (std::size_t i = 0; i < width; ++i) {
    out[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
  }
}

std::uint32_t GetLittleEndian(std::span<const std::uint8_t> bytes, std::size_t offset,
                              std::size_t width) {
  std::uint32_t value = 0;
  for (std::size_t i = width; i > 0; --i) value = (value << 8) | bytes[offset + i - 1];
  return value;
}

std::string_view TextAt(std::span<const std::string_view> table, std::size_t index) {
  return index < table.size() ? table[index] : std::string_view{};
}

}  // namespace

CommandDataBytes EncodeCommandData(const CommandData& command) {
  CommandDataBytes bytes{};
  PutLittleEndian(bytes, 0, command.startAddress, 4);
  PutLittleEndian(bytes, 4, command.endAddress, 4);
  bytes[8] = command.memoryType;
  bytes[9] = command.imageType;
  PutLittleEndian(bytes, 10, command.reserved, 2);
  PutLittleEndian(bytes, 12, command.deviceId, 4);
  return bytes;
}

CommandData DecodeCommandData(std::span<const std::uint8_t, kCommandDataSize> bytes) {
  CommandData command;
  command.startAddress = GetLittleEndian(bytes, 0, 4);
  command.endAddress = GetLittleEndian(bytes, 4, 4);
  command.memoryType = bytes[8];
  command.imageType = bytes[9];
  command.reserved = static_cast<std::uint16_t>(GetLittleEndian(bytes, 10, 2));
  command.deviceId = GetLittleEndian(bytes, 12, 4);
  return command;
}

HeaderDataBytes EncodeHeaderData(const HeaderData& header) {
  HeaderDataBytes bytes{};
  bytes[0] = header.partitionId;
  bytes[1] = header.partitionType;
  PutLittleEndian(bytes, 2, header.reserved2, 2);
  PutLittleEndian(bytes, 4, header.blockSize, 4);
  PutLittleEndian(bytes, 8, header.totalBlocks, 2);
  bytes[10] = header.maxLnbRecords;
  bytes[11] = header.reserved11;
  PutLittleEndian(bytes, 12, header.size, 4);
  return bytes;
}

HeaderData DecodeHeaderData(std::span<const std::uint8_t, kHeaderDataSize> bytes) {
  HeaderData header;
  header.partitionId = bytes[0];
  header.partitionType = bytes[1];
  header.reserved2 = static_cast<std::uint16_t>(GetLittleEndian(bytes, 2, 2));
  header.blockSize = GetLittleEndian(bytes, 4, 4);
  header.totalBlocks = static_cast<std::uint16_t>(GetLittleEndian(bytes, 8, 2));
  header.maxLnbRecords = bytes[10];
  header.reserved11 = bytes[11];
  header.size = GetLittleEndian(bytes, 12, 4);
  return header;
}

ScriptRecordBytes EncodeScriptRecord(const ScriptRecord& record) {
  ScriptRecordBytes bytes{};
  const CommandDataBytes command = EncodeCommandData(record.command);
  const HeaderDataBytes header = EncodeHeaderData(record.header);
  std::copy(command.begin(), command.end(), bytes.begin());
  std::copy(header.begin(), header.end(), bytes.begin() + kCommandDataSize);
  return bytes;
}

ScriptRecord DecodeScriptRecord(std::span<const std::uint8_t, kScriptRecordSize> bytes) {
  return ScriptRecord{DecodeCommandData(bytes.first<kCommandDataSize>()),
                      DecodeHeaderData(bytes.last<kHeaderDataSize>())};
}

std::string_view ImageTypeText(std::uint8_t imageType) {
  return TextAt(kImageTypeTexts, imageType);
}

// The 1-based values map to index value - 1; 0 wraps to a huge index and has no text.
std::string_view PartitionIdText(std::uint8_t partitionId) {
  return TextAt(kPartitionIdTexts, std::size_t{partitionId} - 1);
}

std::string_view PartitionTypeText(std::uint8_t partitionType) {
  return TextAt(kPartitionTypeTexts, std::size_t{partitionType} - 1);
}

std::string_view MemoryTypeText(std::uint8_t memoryType) {
  return memoryType == kMemoryTypeFlash ? kMemoryTypeFlashText : kMemoryTypeEepromText;
}

}  // namespace tavrin::scripts
