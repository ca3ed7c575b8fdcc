#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "scripts/command_image.h"
#include "scripts/script_store.h"
#include "transfer/report_texts.h"
#include "transfer_rig.h"

namespace tavrin::test {
namespace {

using namespace std::chrono_literals;

struct Region {
  std::uint32_t start;
  std::uint32_t end;
  std::uint8_t partitionId;
};

sim::TargetConfig QuickDownload(std::vector<sim::Fault> faults = {}) {
  sim::TargetConfig config;
  config.enqDelay = 20ms;
  config.packetSize = 300;
  config.packetsPerEntry = 2;
  config.regionReadyDelay = 10ms;
  config.regionReadyRepeat = 100ms;
  config.resendTimeout = 300ms;
  config.faults = std::move(faults);
  return config;
}

Bytes ReadAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

class DownloadTest : public testing::Test {
 protected:
  void Make(const std::vector<Region>& regions, sim::TargetConfig config = QuickDownload(),
            std::optional<LineGroups> groups = {}) {
    rig_ = std::make_unique<TransferRig>(std::move(config), std::nullopt, groups);
    regions_ = regions;
    scripts::ScriptStore store(rig_->Dir());
    for (const auto& region : regions) {
      scripts::ScriptRecord record;
      record.command = {region.start, region.end, 1, 0, 0, 0x12};
      record.header.partitionId = region.partitionId;
      record.header.partitionType = 1;
      record.header.size = region.end - region.start;
      ASSERT_TRUE(store.AppendRecord(record));
    }
    ASSERT_TRUE(store.SaveDsf(rig_->Dir() / "script.dsf"));
    const auto table = scripts::PrepareDownload(rig_->Dir() / "script.dsf", rig_->Dir());
    ASSERT_TRUE(table);
    plan_ = {rig_->Dir() / "script.dsf", rig_->Dir(), {}};
    for (const auto& header : *table) plan_.headerData.push_back(scripts::EncodeHeaderData(header));
    rig_->view.savePath = Saved();
  }

  void Start() { rig_->transfer.StartDownload(rig_->Dir() / "CmdUrtFile.urt", plan_); }

  std::vector<int> Run() {
    Start();
    EXPECT_TRUE(rig_->WaitForEnd());
    return rig_->view.Results();
  }

  std::filesystem::path Saved() const { return rig_->Dir() / "saved.dbf"; }

  // The DBF the regions must give: the first block written and every block whose
  // PartitionId is not 0 have a header; bytes 12-15 hold the end offset of the block's
  // data. An empty region writes no block.
  Bytes ExpectedDbf() const { return ExpectedDbf(regions_); }
  Bytes ExpectedDbf(const std::vector<Region>& regions) const {
    Bytes dbf;
    for (std::size_t i = 0; i < regions.size(); ++i) {
      const Region& region = regions[i];
      const std::uint32_t size = region.end > region.start ? region.end - region.start : 0;
      if (size == 0) continue;
      if (dbf.empty() || region.partitionId != 0) {
        const std::uint32_t end = static_cast<std::uint32_t>(dbf.size()) + 16 + size;
        Bytes header{region.partitionId, 1, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0xFF};
        for (int b = 0; b < 4; ++b) header.push_back(static_cast<std::uint8_t>(end >> (8 * b)));
        dbf.insert(dbf.end(), header.begin(), header.end());
      }
      const Bytes data = rig_->target.RegionData(
          {static_cast<std::uint32_t>(regions.size()), 1, region.start, region.end});
      dbf.insert(dbf.end(), data.begin(), data.end());
    }
    return dbf;
  }

  std::unique_ptr<TransferRig> rig_;
  std::vector<Region> regions_;
  transfer::DownloadPlan plan_;
};

TEST_F(DownloadTest, RegionsAssembleIntoTheDbfFile) {
  Make({{0x10000, 0x10000 + 1000, 1}, {0x20000, 0x20000 + 700, 0}, {0x30000, 0x30000 + 2500, 3}});
  EXPECT_EQ(Run(), (std::vector<int>{2, 3}));
  const Bytes dbf = ReadAll(Saved());
  EXPECT_EQ(dbf, ExpectedDbf());
  ASSERT_GE(dbf.size(), 16u);
  EXPECT_EQ(Bytes(dbf.begin() + 12, dbf.begin() + 16), (Bytes{0xF8, 0x03, 0x00, 0x00}));
  for (const auto& problem : rig_->target.Problems()) ADD_FAILURE() << problem;
  EXPECT_EQ(
      rig_->view.Messages().back(),
      "Tavrin 1.1|Downloading process successfully completed.\n And saved as " + Saved().string());
  EXPECT_TRUE(rig_->view.CrcMismatches().empty());
  // Each region's data are where the view was told: the second block has no header.
  using Stored = RecordingView::StoredRegion;
  EXPECT_EQ(rig_->view.Stored(),
            (std::vector<Stored>{{1, 16, 1000}, {2, 1016, 700}, {3, 1016 + 700 + 16, 2500}}));
  // The command image went out as the upload's packet phase.
  EXPECT_EQ(rig_->target.Requests().size(), 3u);
}

// Region data that arrive a few bytes at a time are stored without waking the transfer
// thread: it is woken for what it waits on (a region offered, a frame to answer), not for
// every block.
TEST_F(DownloadTest, SmallBlocksOfRegionDataWakeNobody) {
  Make({{0, 4000, 1}}, QuickDownload(), LineGroups{});
  EXPECT_EQ(Run(), (std::vector<int>{2, 3}));
  EXPECT_EQ(ReadAll(Saved()), ExpectedDbf());
  const std::size_t frames = 1 + (4000 + 299) / 300;  // the info packet and the data packets
  EXPECT_GT(rig_->received.Blocks(), 10 * frames);    // the line really came in small blocks
  EXPECT_LT(rig_->transfer.State().Wakeups(), 2 * frames + 20);
}

struct FaultCase {
  const char* name;
  sim::Fault fault;
};

class DownloadRecovers : public DownloadTest, public testing::WithParamInterface<FaultCase> {};

// A bad frame is answered with NAK and its good resend is stored once.
TEST_P(DownloadRecovers, FromAFaultyFrame) {
  Make({{0, 2000, 1}}, QuickDownload({GetParam().fault}));
  EXPECT_EQ(Run(), (std::vector<int>{2, 3}));
  EXPECT_EQ(ReadAll(Saved()), ExpectedDbf());
  EXPECT_TRUE(rig_->view.CrcMismatches().empty());
}

INSTANTIATE_TEST_SUITE_P(Faults, DownloadRecovers,
                         testing::Values(FaultCase{"BadSum", sim::Fault::kBadSum},
                                         FaultCase{"Oversize", sim::Fault::kOversize},
                                         FaultCase{"DroppedByte", sim::Fault::kDropByte}),
                         [](const auto& row) { return std::string(row.param.name); });

TEST_F(DownloadTest, WrongCrcGivesTheWarningAndStillSaves) {
  Make({{0, 900, 1}, {900, 1200, 2}}, QuickDownload({sim::Fault::kWrongCrc}));
  EXPECT_EQ(Run(), (std::vector<int>{2, 3}));
  EXPECT_EQ(rig_->view.CrcMismatches(), std::vector<int>{1});
  EXPECT_NE(rig_->capture.Text().find(transfer::CrcWarningBlock(1).text), std::string::npos);
  EXPECT_EQ(ReadAll(Saved()), ExpectedDbf());
}

struct DamagedRequestCase {
  const char* name;
  std::size_t offset;  // in the 25-byte command packet: start address 9-12, end 13-16
  std::uint8_t mask;
  Region served;  // what the target reads from the damaged packet
};

void PrintTo(const DamagedRequestCase& row, std::ostream* out) {
  *out << row.name;
}

class DamagedRequest : public DownloadTest,
                       public testing::WithParamInterface<DamagedRequestCase> {};

// A command packet damaged on the line: the loader serves the region it read, with a CRC
// that matches what it sends. That region is saved as it came, and named.
TEST_P(DamagedRequest, RegionOfAnotherSizeIsNamed) {
  const DamagedRequestCase& row = GetParam();
  Make({{0x1000, 0x1000 + 3000, 1}, {0x2000, 0x2000 + 3000, 2}});
  rig_->port.damage = {.size = 25, .nth = 2, .offset = row.offset, .mask = row.mask};
  EXPECT_EQ(Run(), (std::vector<int>{2, 3}));
  EXPECT_EQ(rig_->view.CrcMismatches(), std::vector<int>{2});
  const std::uint32_t sent =
      row.served.end > row.served.start ? row.served.end - row.served.start : 0;
  EXPECT_NE(rig_->capture.Text().find(transfer::RegionSizeWarningBlock(2, 3000, sent).text),
            std::string::npos);
  EXPECT_EQ(ReadAll(Saved()), ExpectedDbf({regions_[0], row.served}));
}

INSTANTIATE_TEST_SUITE_P(
    Requests, DamagedRequest,
    testing::Values(DamagedRequestCase{"StartAboveEnd", 11, 0xDA, {0xFA00, 0x2BB8, 2}},
                    DamagedRequestCase{"Longer", 16, 0x40, {0x2000, 0x2BF8, 2}},
                    DamagedRequestCase{"Shorter", 15, 0x08, {0x2000, 0x23B8, 2}}),
    [](const auto& row) { return std::string(row.param.name); });

TEST_F(DownloadTest, CancelWhileWaitingForARegionSavesNothing) {
  auto config = QuickDownload();
  config.regionReadyDelay = 30s;  // the target never offers its region in time
  Make({{0, 100, 1}}, config);
  Start();
  ASSERT_TRUE(rig_->view.WaitForResults(1, 10s));  // the command image is out
  rig_->transfer.Cancel();
  ASSERT_TRUE(rig_->WaitForEnd());
  EXPECT_EQ(rig_->view.Results(), (std::vector<int>{2, 23}));
  EXPECT_FALSE(std::filesystem::exists(Saved()));
  EXPECT_EQ(rig_->transfer.State().mode, transfer::TransferMode::kUpload);
}

TEST_F(DownloadTest, ScriptWithoutRecordsGivesAnEmptyFile) {
  Make({});
  EXPECT_EQ(Run(), (std::vector<int>{2, 3}));
  ASSERT_TRUE(std::filesystem::exists(Saved()));
  EXPECT_EQ(std::filesystem::file_size(Saved()), 0u);
}

// The empty first region writes nothing, so the second region's block is the first in
// the file and has its header although its PartitionId is 0.
TEST_F(DownloadTest, EmptyFirstRegionLeavesTheHeaderToTheFirstBlockWritten) {
  Make({{0x100, 0x100, 1}, {0x200, 0x300, 0}});
  EXPECT_EQ(Run(), (std::vector<int>{2, 3}));
  const Bytes dbf = ReadAll(Saved());
  ASSERT_EQ(dbf.size(), 16u + 0x100);
  EXPECT_EQ(Bytes(dbf.begin(), dbf.begin() + 16),
            (Bytes{0, 1, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0x10, 0x01, 0x00, 0x00}));
  EXPECT_EQ(dbf, ExpectedDbf());
  // The empty region is not told; the one stored follows the header it got.
  EXPECT_EQ(rig_->view.Stored(), (std::vector<RecordingView::StoredRegion>{{2, 16, 0x100}}));
}

}  // namespace
}  // namespace tavrin::test
