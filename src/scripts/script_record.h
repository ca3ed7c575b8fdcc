// ScriptRecord: one memory region of a download script, 32 bytes, little-endian, the same
// in the script store and in DSF files. CommandData (what the target is asked for, it
// feeds the command image) is followed by HeaderData (what labels the returned data in
// the downloaded file). Records are encoded and decoded field by field, never copied as
// structs, so the byte layout does not depend on the compiler.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace tavrin::scripts {

constexpr std::size_t kCommandDataSize = 16;                                   // bytes
constexpr std::size_t kHeaderDataSize = 16;                                    // bytes
constexpr std::size_t kScriptRecordSize = kCommandDataSize + kHeaderDataSize;  // 32 bytes

// `MemoryType` values.
constexpr std::uint8_t kMemoryTypeFlash = 1;
constexpr std::uint8_t kMemoryTypeEeprom = 2;
// The `PartitionId` that carries `MaxLnbRecords` ("LSD ").
constexpr std::uint8_t kPartitionIdLsd = 2;
// `PartitionType` values; "MBP " carries `BlockSize` and `TotalBlocks`.
constexpr std::uint8_t kPartitionTypeSbp = 1;
constexpr std::uint8_t kPartitionTypeMbp = 2;

struct CommandData {
  std::uint32_t startAddress = 0;  // first address of the region
  std::uint32_t endAddress = 0;    // end address of the region, not below startAddress
  std::uint8_t memoryType = 0;     // kMemoryTypeFlash or kMemoryTypeEeprom
  std::uint8_t imageType = 0;      // 0-based index into kImageTypeTexts
  std::uint16_t reserved = 0;      // bytes 10-11, always 0
  std::uint32_t deviceId = 0;      // 0 to 0xFFFF

  bool operator==(const CommandData&) const = default;
};

struct HeaderData {
  std::uint8_t partitionId = 0;    // 1-based index into kPartitionIdTexts
  std::uint8_t partitionType = 0;  // 1-based index into kPartitionTypeTexts
  std::uint16_t reserved2 = 0;     // bytes 2-3: 0, 0xFFFF in the downloaded file
  std::uint32_t blockSize = 0;     // 1 to 65535 with "MBP ", else 0
  std::uint16_t totalBlocks = 0;   // 1 to 65535 with "MBP ", else 0
  std::uint8_t maxLnbRecords = 0;  // 1 to 255 with "LSD ", else 0
  std::uint8_t reserved11 = 0;     // byte 11: 0, 0xFF in the downloaded file
  std::uint32_t size = 0;          // endAddress - startAddress; in the downloaded file,
                                   // the offset just past the block's data

  bool operator==(const HeaderData&) const = default;
};

struct ScriptRecord {
  CommandData command;
  HeaderData header;

  bool operator==(const ScriptRecord&) const = default;
};

using CommandDataBytes = std::array<std::uint8_t, kCommandDataSize>;
using HeaderDataBytes = std::array<std::uint8_t, kHeaderDataSize>;
using ScriptRecordBytes = std::array<std::uint8_t, kScriptRecordSize>;

CommandDataBytes EncodeCommandData(const CommandData& command);
CommandData DecodeCommandData(std::span<const std::uint8_t, kCommandDataSize> bytes);
HeaderDataBytes EncodeHeaderData(const HeaderData& header);
HeaderData DecodeHeaderData(std::span<const std::uint8_t, kHeaderDataSize> bytes);
ScriptRecordBytes EncodeScriptRecord(const ScriptRecord& record);
ScriptRecord DecodeScriptRecord(std::span<const std::uint8_t, kScriptRecordSize> bytes);

// Name tables of the coded fields. Texts are exact, trailing blanks included.
// `ImageType` value v (0 to 6) has text kImageTypeTexts[v].
constexpr std::array<std::string_view, 7> kImageTypeTexts = {
    "Application",   "Resource",       "Active Database", "Static Database",
    "EPROM DB Info", "EPROM Box Info", "Others",
};
// `PartitionId` value v (1 to 10) has text kPartitionIdTexts[v - 1].
constexpr std::array<std::string_view, 10> kPartitionIdTexts = {
    "eDBE ",
    "LSD ",
    "CSD ",
    "OSL ",
    "Wakeup Timer ",
    "UserBox ",
    "Resource ",
    "Static Database ",
    "Raw Flash Data ",
    "Raw EEPROM Data ",
};
// `PartitionType` value v (1 or 2) has text kPartitionTypeTexts[v - 1].
constexpr std::array<std::string_view, 2> kPartitionTypeTexts = {"SBP ", "MBP "};
// `MemoryType` texts: 1 is "FLASH", any other value "EEPROM".
constexpr std::string_view kMemoryTypeFlashText = "FLASH";
constexpr std::string_view kMemoryTypeEepromText = "EEPROM";

// The text of a coded value; empty for a value that has none.
std::string_view ImageTypeText(std::uint8_t imageType);
std::string_view PartitionIdText(std::uint8_t partitionId);
std::string_view PartitionTypeText(std::uint8_t partitionType);
std::string_view MemoryTypeText(std::uint8_t memoryType);

}  // namespace tavrin::scripts
