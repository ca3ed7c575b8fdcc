#include "scripts/script_record.h"

#include <gtest/gtest.h>

#include <tuple>

#include "script_test_files.h"
#include "scripts/script_list_rows.h"

namespace tavrin::scripts {
namespace {

using test::Bytes;

// Reserved bytes are carried, not zeroed, so a DSF file loaded and saved again keeps every
// byte it had; those of the header carry the downloaded file's marks (0xFFFF, 0xFF).
TEST(ScriptRecordTest, EncodesEveryFieldLittleEndianAtItsOffset) {
  const ScriptRecord record{
      CommandData{.startAddress = 0x11223344,
                  .endAddress = 0x55667788,
                  .memoryType = kMemoryTypeEeprom,
                  .imageType = 6,
                  .reserved = 0x0A0B,
                  .deviceId = 0xBEEF},
      HeaderData{.partitionId = 2,
                 .partitionType = kPartitionTypeMbp,
                 .reserved2 = 0xFFFF,
                 .blockSize = 0x0000ABCD,
                 .totalBlocks = 0x1234,
                 .maxLnbRecords = 0x7F,
                 .reserved11 = 0xFF,
                 .size = 0x44444444},
  };
  const Bytes expected{
      0x44, 0x33, 0x22, 0x11, 0x88, 0x77, 0x66, 0x55,
      0x02, 0x06, 0x0B, 0x0A, 0xEF, 0xBE, 0x00, 0x00,  // CommandData
      0x02, 0x02, 0xFF, 0xFF, 0xCD, 0xAB, 0x00, 0x00,
      0x34, 0x12, 0x7F, 0xFF, 0x44, 0x44, 0x44, 0x44,  // HeaderData
  };
  const ScriptRecordBytes encoded = EncodeScriptRecord(record);
  EXPECT_EQ(Bytes(encoded.begin(), encoded.end()), expected);
  EXPECT_EQ(DecodeScriptRecord(encoded), record);
}

using TextCase = std::tuple<std::string_view (*)(std::uint8_t), int, std::string_view>;

class NameTableTest : public ::testing::TestWithParam<TextCase> {};

TEST_P(NameTableTest, GivesTheExactText) {
  const auto& [text, value, expected] = GetParam();
  EXPECT_EQ(text(static_cast<std::uint8_t>(value)), expected);
}

INSTANTIATE_TEST_SUITE_P(Texts, NameTableTest,
                         ::testing::Values(TextCase{ImageTypeText, 0, "Application"},
                                           TextCase{PartitionIdText, 0, ""},  // 1-based: 0 has none
                                           TextCase{PartitionIdText, 10, "Raw EEPROM Data "},
                                           TextCase{PartitionIdText, 11, ""},
                                           TextCase{PartitionTypeText, 0, ""},
                                           TextCase{PartitionTypeText, 2, "MBP "},
                                           TextCase{PartitionTypeText, 3, ""}));

struct RowCase {
  CommandData command;
  ScriptListRow row;
};

class ScriptListRowTest : public ::testing::TestWithParam<RowCase> {};

// Numbers in hexadecimal capitals without leading zeros; a memory type other than FLASH
// (1) is EEPROM; image types above 6 have no text.
TEST_P(ScriptListRowTest, ShowsTheFiveColumnsOfARecord) {
  EXPECT_EQ(MakeScriptListRow(ScriptRecord{GetParam().command, {}}), GetParam().row);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ScriptListRowTest,
    ::testing::Values(RowCase{{0x0000ABCD, 0x00ABCDEF, kMemoryTypeFlash, 3, 0, 0x00F0},
                              {"ABCD", "ABCDEF", "FLASH", "Static Database", "F0"}},
                      RowCase{{0, 0xFFFFFFFF, 0, 7, 0, 0x1000},
                              {"0", "FFFFFFFF", "EEPROM", "", "1000"}},
                      RowCase{{0xFFFF, 0x10000, 255, 6, 0, 0xFFFF},
                              {"FFFF", "10000", "EEPROM", "Others", "FFFF"}}));

TEST(ScriptListRowsTest, ReadsOneRowPerRecordOfADsfFile) {
  test::TempDir dir;
  ScriptRecord first = test::SampleRecord(1);
  ScriptRecord second = test::SampleRecord(2);
  first.command.startAddress = 0x1000;
  second.command.startAddress = 0xABCDEF;
  test::WriteFileBytes(dir / "two.dsf", test::DsfBytes(2, {first, second}));

  Result<std::vector<ScriptListRow>> rows = ReadScriptListRows(dir / "two.dsf");
  ASSERT_TRUE(rows);
  EXPECT_EQ(*rows, (std::vector{MakeScriptListRow(first), MakeScriptListRow(second)}));
  EXPECT_FALSE(ReadScriptListRows(dir.Path()));
}

}  // namespace
}  // namespace tavrin::scripts
