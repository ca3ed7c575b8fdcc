// The bench's inputs must be what the engine and the simulated target accept, with
// exactly the byte counts the efficiency figures are computed from.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <numeric>

#include "bench/bench_files.h"
#include "scripts/command_image.h"
#include "sim/region_plan.h"
#include "sim/target_config.h"
#include "transfer/urt_file.h"

namespace tavrin::bench {
namespace {

class TempDir {
 public:
  TempDir() {
    std::string pattern = ::testing::TempDir() + "bench-files.XXXXXX";
    if (::mkdtemp(pattern.data())) path_ = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  const std::filesystem::path& Path() const { return path_; }

 private:
  std::filesystem::path path_;
};

class UploadImageTest : public ::testing::TestWithParam<std::uint64_t> {};

// Reads the image back with the engine's own reader, frame by frame, as an upload does.
TEST_P(UploadImageTest, EngineReadsExactlyTheRequestedFrameBytes) {
  const std::uint64_t frameBytes = GetParam();
  TempDir dir;
  const auto path = dir.Path() / "image.urt";
  ASSERT_TRUE(WriteUploadImage(path, frameBytes));
  auto image = transfer::ImageFile::Open(path);
  ASSERT_TRUE(image);
  const auto headerBytes = image->ReadAt(0, transfer::kUrtHeaderSize);
  ASSERT_TRUE(headerBytes);
  const auto header = transfer::ParseUrtHeader(*headerBytes);
  ASSERT_TRUE(header);
  EXPECT_TRUE(transfer::VerifyWhoAmIAnswer(sim::kDefaultIdentity, header->identity));

  std::uint64_t offset = transfer::kUrtHeaderSize;
  for (std::uint32_t f = 0; f < header->packetCount; ++f) {
    const auto read = image->ReadFrameAt(offset);
    const auto* frame = std::get_if<std::vector<std::uint8_t>>(&read);
    ASSERT_NE(frame, nullptr) << "frame " << f;
    EXPECT_GE(frame->size(), kMinFrameSize);
    offset += frame->size();
  }
  EXPECT_EQ(offset - transfer::kUrtHeaderSize, frameBytes);
  EXPECT_EQ(std::filesystem::file_size(path), offset);  // nothing after the last frame
}

// Whole frames, a remainder too small for a frame of its own (1 and 9 bytes), the
// smallest remainder that is one, and the bench's own sizes.
INSTANTIATE_TEST_SUITE_P(FrameTotals, UploadImageTest,
                         ::testing::Values(10, 3000, 3001, 3009, 3010, 6000, 6001, 262144,
                                           1048576));

TEST(FrameSizesTest, LargestFramesFirstAndNoneBelowTheSmallest) {
  for (std::uint64_t total : {10u, 2999u, 3005u, 9007u, 1048576u}) {
    const auto sizes = FrameSizes(total);
    EXPECT_EQ(std::accumulate(sizes.begin(), sizes.end(), std::uint64_t{0}), total);
    EXPECT_TRUE(std::is_sorted(sizes.rbegin(), sizes.rend())) << total;
    for (auto size : sizes) {
      EXPECT_GE(size, kMinFrameSize);
      EXPECT_LE(size, 3000u);
    }
  }
}

// The script becomes the command image the target parses into one region request.
TEST(RegionScriptTest, CommandImageAsksForTheWholeRegion) {
  TempDir dir;
  const auto script = dir.Path() / "region.dsf";
  ASSERT_TRUE(WriteRegionScript(dir.Path(), script, 1024 * 1024));
  const auto imagePath = dir.Path() / "CmdUrtFile.urt";
  const auto table = scripts::CommandImageBuilder(imagePath).Build(script);
  ASSERT_TRUE(table);
  ASSERT_EQ(table->size(), 1u);
  EXPECT_EQ(table->front().size, 1024u * 1024u);

  auto image = transfer::ImageFile::Open(imagePath);
  ASSERT_TRUE(image);
  const auto read = image->ReadFrameAt(scripts::kCommandImageHeaderSize);
  const auto* frame = std::get_if<std::vector<std::uint8_t>>(&read);
  ASSERT_NE(frame, nullptr);
  const auto payload = std::span<const std::uint8_t>(*frame).subspan(4, 16);
  const auto request = sim::ParseCommandPacket(payload);
  ASSERT_TRUE(request);
  EXPECT_EQ(request->recordCount, 1u);
  EXPECT_EQ(request->memoryType, scripts::kMemoryTypeFlash);
  EXPECT_EQ(request->Size(), 1024u * 1024u);
  // Served in full with the largest data packets: one info packet describes it all.
  EXPECT_FALSE(sim::RegionPlan(*request, sim::MemoryImage(1), sim::kMaxPacketData, 8).Clamped());
}

}  // namespace
}  // namespace tavrin::bench
