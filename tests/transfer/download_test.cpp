#include <gtest/gtest.h>

#include "transfer/report_texts.h"
#include "transfer_rig.h"

namespace tavrin::test {
namespace {

class DownloadTest : public testing::Test {
 protected:
  void Start(const std::vector<Region>& regions, sim::TargetConfig config = QuickTarget(),
             std::size_t maxGroup = 0, WriteDamage damage = {}) {
    rig_ = std::make_unique<TransferRig>(std::move(config), std::nullopt, maxGroup);
    rig_->damage = damage;
    regions_ = regions;
    rig_->view.savePath = Saved();
    const auto plan = WriteScript(rig_->dir.Path(), regions);
    rig_->transfer.StartDownload(rig_->dir / "CmdUrtFile.urt", plan);
  }

  std::vector<int> Ended() {
    EXPECT_TRUE(rig_->WaitForEnd());
    return rig_->view.Results();
  }

  std::filesystem::path Saved() const { return rig_->dir / "saved.dbf"; }

  // The first block written and each whose PartitionId is not 0 have a header ending with
  // the end offset of the block's data. An empty region writes no block.
  Bytes ExpectedDbf(const std::vector<Region>& regions) const {
    Bytes dbf;
    for (const Region& region : regions) {
      const std::uint32_t size = region.end > region.start ? region.end - region.start : 0;
      if (size == 0) continue;
      if (dbf.empty() || region.partitionId != 0) {
        const std::uint32_t end = static_cast<std::uint32_t>(dbf.size()) + 16 + size;
        dbf.insert(dbf.end(), {region.partitionId, 1, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0xFF});
        for (int b = 0; b < 4; ++b) dbf.push_back(static_cast<std::uint8_t>(end >> (8 * b)));
      }
      const Bytes data = rig_->target.RegionData(
          {static_cast<std::uint32_t>(regions.size()), 1, region.start, region.end});
      dbf.insert(dbf.end(), data.begin(), data.end());
    }
    return dbf;
  }

  std::unique_ptr<TransferRig> rig_;
  std::vector<Region> regions_;
};

struct LayoutCase {
  const char* name;
  std::vector<Region> regions;
  std::vector<RecordingView::StoredRegion> stored;  // what the view is told: an empty region is not
  Bytes firstHeader;  // the file's first 16 bytes, written out by hand
};

class DownloadLayout : public DownloadTest, public testing::WithParamInterface<LayoutCase> {};

// In the second row the first block written has its header although its PartitionId is 0.
TEST_P(DownloadLayout, RegionsAssembleIntoTheDbfFile) {
  Start(GetParam().regions);
  EXPECT_EQ(Ended(), (std::vector<int>{2, 3}));
  const Bytes dbf = ReadBytes(Saved());
  EXPECT_EQ(dbf, ExpectedDbf(regions_));
  const auto headerEnd = dbf.begin() + std::min<std::ptrdiff_t>(std::ssize(dbf), 16);
  EXPECT_EQ(Bytes(dbf.begin(), headerEnd), GetParam().firstHeader);
  const auto seen = rig_->view.seen.Get();
  EXPECT_EQ(seen.stored, GetParam().stored);
  EXPECT_TRUE(seen.crcMismatches.empty());
  EXPECT_EQ(
      seen.messages.back(),
      "Tavrin 1.1|Downloading process successfully completed.\n And saved as " + Saved().string());
  for (const auto& problem : rig_->target.Problems()) ADD_FAILURE() << problem;
  EXPECT_EQ(rig_->target.Requests().size(), regions_.size());  // the command image went out
}

INSTANTIATE_TEST_SUITE_P(
    Scripts, DownloadLayout,
    testing::Values(
        LayoutCase{"ThreeRegions",
                   {{0x10000, 0x10000 + 1000, 1},
                    {0x20000, 0x20000 + 700, 0},
                    {0x30000, 0x30000 + 2500, 3}},
                   {{1, 16, 1000}, {2, 1016, 700}, {3, 1016 + 700 + 16, 2500}},
                   {1, 1, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xF8, 0x03, 0x00, 0x00}},
        LayoutCase{"EmptyFirstRegionLeavesTheHeaderToTheFirstBlockWritten",
                   {{0x100, 0x100, 1}, {0x200, 0x300, 0}},
                   {{2, 16, 0x100}},
                   {0, 1, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0x10, 0x01, 0x00, 0x00}},
        LayoutCase{"ScriptWithoutRecordsGivesAnEmptyFile", {}, {}, {}}),
    [](const auto& row) { return std::string(row.param.name); });

// Region data that arrive a few bytes at a time cost few reads and wake nobody: the reader
// lets the rest of a frame gather and reads only its last bytes as they come, and the
// transfer thread is woken for what it waits on (a region offered, a frame to answer).
TEST_F(DownloadTest, SmallBlocksOfRegionDataWakeNobody) {
  Start({{0, 4000, 1}}, QuickTarget(), 4);
  EXPECT_EQ(Ended(), (std::vector<int>{2, 3}));
  EXPECT_EQ(ReadBytes(Saved()), ExpectedDbf(regions_));
  const std::size_t frames = 1 + (4000 + 299) / 300;  // the info packet and the data packets
  EXPECT_GT(rig_->device->reads, 10 * frames);        // the ends of the frames came in small blocks
  EXPECT_LT(rig_->device->reads, 60 * frames);        // one read a group would be about 120 a frame
  EXPECT_LT(rig_->transfer.State().Wakeups(), 2 * frames + 20);
}

struct FaultCase {
  const char* name;
  sim::Fault fault;
  std::vector<int> crcMismatches;
};

class DownloadFault : public DownloadTest, public testing::WithParamInterface<FaultCase> {};

// A bad frame's good resend is stored once; a region with the wrong CRC is saved, and named.
TEST_P(DownloadFault, IsRecoveredOrFlagged) {
  Start({{0, 2000, 1}, {2000, 2300, 2}}, QuickTarget({GetParam().fault}));
  EXPECT_EQ(Ended(), (std::vector<int>{2, 3}));
  EXPECT_EQ(ReadBytes(Saved()), ExpectedDbf(regions_));
  EXPECT_EQ(rig_->view.seen.Get().crcMismatches, GetParam().crcMismatches);
  EXPECT_EQ(rig_->capture.Text().find(transfer::CrcWarningBlock(1).text) != std::string::npos,
            !GetParam().crcMismatches.empty());
}

INSTANTIATE_TEST_SUITE_P(Faults, DownloadFault,
                         testing::Values(FaultCase{"BadSum", sim::Fault::kBadSum, {}},
                                         FaultCase{"Oversize", sim::Fault::kOversize, {}},
                                         FaultCase{"DroppedByte", sim::Fault::kDropByte, {}},
                                         FaultCase{"WrongCrc", sim::Fault::kWrongCrc, {1}}),
                         [](const auto& row) { return std::string(row.param.name); });

struct DamagedRequestCase {
  const char* name;
  std::size_t offset;  // in the 25-byte command packet: start address 9-12, end 13-16
  std::uint8_t mask;
  Region served;       // what the target reads from the damaged packet
  std::uint32_t sent;  // the bytes of the region served
  bool named = true;   // a size other than asked, or one more (an inclusive end), is not
};

void PrintTo(const DamagedRequestCase& row, std::ostream* os) {
  *os << row.name;
}

class DamagedRequest : public DownloadTest,
                       public testing::WithParamInterface<DamagedRequestCase> {};

// The loader serves the region it read from a damaged request: it is saved, and named
// unless it is one byte longer (the end address taken as inclusive).
TEST_P(DamagedRequest, RegionOfAnotherSizeIsNamed) {
  const DamagedRequestCase& row = GetParam();
  Start({{0x1000, 0x1000 + 3000, 1}, {0x2000, 0x2000 + 3000, 2}}, QuickTarget(), 0,
        {.size = 25, .nth = 2, .offset = row.offset, .mask = row.mask});
  EXPECT_EQ(Ended(), (std::vector<int>{2, 3}));
  EXPECT_EQ(rig_->view.seen.Get().crcMismatches,
            row.named ? std::vector<int>{2} : std::vector<int>{});
  EXPECT_EQ(rig_->capture.Text().find("Warning ( SIZE )") != std::string::npos, row.named);
  if (row.named) {
    EXPECT_NE(rig_->capture.Text().find(transfer::RegionSizeWarningBlock(2, 3000, row.sent).text),
              std::string::npos);
  }
  EXPECT_EQ(ReadBytes(Saved()), ExpectedDbf({regions_[0], row.served}));
}

INSTANTIATE_TEST_SUITE_P(
    Requests, DamagedRequest,
    testing::Values(DamagedRequestCase{"StartAboveEnd", 11, 0xDA, {0xFA00, 0x2BB8, 2}, 0},
                    DamagedRequestCase{"Longer", 16, 0x40, {0x2000, 0x2BF8, 2}, 0xBF8},
                    DamagedRequestCase{"Shorter", 15, 0x08, {0x2000, 0x23B8, 2}, 0x3B8},
                    DamagedRequestCase{"OneShorter", 16, 0x0F, {0x2000, 0x2BB7, 2}, 2999},
                    DamagedRequestCase{
                        "OneLongerIsAnInclusiveEnd", 16, 0x01, {0x2000, 0x2BB9, 2}, 3001, false},
                    DamagedRequestCase{"TwoLonger", 16, 0x02, {0x2000, 0x2BBA, 2}, 3002}),
    [](const auto& row) { return std::string(row.param.name); });

TEST_F(DownloadTest, CancelWhileWaitingForARegionSavesNothing) {
  auto config = QuickTarget();
  config.regionReadyDelay = 30s;  // the target never offers its region in time
  Start({{0, 100, 1}}, config);
  ASSERT_TRUE(rig_->view.WaitForResults(1, 10s));  // the command image is out
  rig_->transfer.Cancel();
  ASSERT_TRUE(rig_->WaitForEnd());
  EXPECT_EQ(rig_->view.Results(), (std::vector<int>{2, 23}));
  EXPECT_FALSE(std::filesystem::exists(Saved()));
  EXPECT_EQ(rig_->transfer.State().mode, transfer::TransferMode::kUpload);
}

}  // namespace
}  // namespace tavrin::test
