#include "scripts/command_image.h"

#include <gtest/gtest.h>

#include "script_test_files.h"

namespace tavrin::scripts {
namespace {

using test::Bytes;
using test::DsfBytes;
using test::ReadFileBytes;
using test::WriteFileBytes;

ScriptRecord Region(std::uint8_t memoryType, std::uint32_t start, std::uint32_t end) {
  ScriptRecord record = test::SampleRecord(4);
  record.command.memoryType = memoryType;
  record.command.startAddress = start;
  record.command.endAddress = end;
  return record;
}

// One command packet laid out by hand: 02, LEN 00 00 10, count, type, start, end,
// 00 00 00, sum of the 16 payload bytes, 03.
Bytes HandPacket(std::uint32_t count, std::uint8_t type, std::uint32_t start, std::uint32_t end) {
  Bytes packet{0x02, 0x00, 0x00, 0x10};
  const auto putBigEndian = [&packet](std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) {
      packet.push_back(static_cast<std::uint8_t>(value >> shift));
    }
  };
  putBigEndian(count);
  packet.push_back(type);
  putBigEndian(start);
  putBigEndian(end);
  packet.insert(packet.end(), 3, 0);
  std::uint32_t sum = 0;
  for (std::size_t i = 4; i < 20; ++i) sum += packet[i];
  putBigEndian(sum);
  packet.push_back(0x03);
  return packet;
}

class CommandImageTest : public ::testing::Test {
 protected:
  std::filesystem::path ImagePath() const { return dir_ / "CmdUrtFile.urt"; }
  Result<HeaderDataTable> Prepare(const Bytes& dsf) {
    WriteFileBytes(dir_ / "script.dsf", dsf);
    return PrepareDownload(dir_ / "script.dsf", dir_.Path());
  }

  test::TempDir dir_;
};

TEST_F(CommandImageTest, ThreeRegionsGiveOnePacketEachWithTheCountInEvery) {
  const ScriptRecord a = Region(kMemoryTypeFlash, 0x00010000, 0x0001FFFF);
  const ScriptRecord b = Region(kMemoryTypeEeprom, 0x00000100, 0x000001FF);
  const ScriptRecord c = Region(kMemoryTypeFlash, 0xA0000000, 0xA00FFFFF);
  // The header's count is believed only as far as the records present go.
  Result<HeaderDataTable> table = Prepare(DsfBytes(5, {a, b, c}));
  ASSERT_TRUE(table);

  Bytes expected{0x4D, 0x5A, 0x00, 0x00, 0x00, 0x03};
  for (const ScriptRecord& r : {a, b, c}) {
    const Bytes packet =
        HandPacket(3, r.command.memoryType, r.command.startAddress, r.command.endAddress);
    expected.insert(expected.end(), packet.begin(), packet.end());
  }
  const Bytes image = ReadFileBytes(ImagePath());
  EXPECT_EQ(image, expected);
  EXPECT_EQ(*table, (HeaderDataTable{a.header, b.header, c.header}));
}

// An unreadable DSF leaves no image of an earlier download behind to be sent.
TEST_F(CommandImageTest, UnreadableDsfLeavesAnEmptyImage) {
  WriteFileBytes(ImagePath(), Bytes(31, 0x4D));
  std::filesystem::create_directory(dir_ / "folder.dsf");
  for (const char* name : {"absent.dsf", "folder.dsf"}) {
    EXPECT_FALSE(PrepareDownload(dir_ / name, dir_.Path())) << name;
    EXPECT_TRUE(ReadFileBytes(ImagePath()).empty()) << name;
  }
  EXPECT_FALSE(Prepare(Bytes{0x44, 0x53, 0x01}));
  EXPECT_TRUE(ReadFileBytes(ImagePath()).empty());
}

TEST_F(CommandImageTest, PlantedImageLinkIsNotWrittenThrough) {
  WriteFileBytes(dir_ / "victim", {'k', 'e', 'e', 'p'});
  std::filesystem::create_symlink(dir_ / "victim", ImagePath());
  Result<HeaderDataTable> table = Prepare(DsfBytes(1, {test::SampleRecord(1)}));
  ASSERT_FALSE(table);
  EXPECT_EQ(table.Error().fault, FileFault::kSystemCall);
  EXPECT_EQ(ReadFileBytes(dir_ / "victim"), (Bytes{'k', 'e', 'e', 'p'}));
}

}  // namespace
}  // namespace tavrin::scripts
