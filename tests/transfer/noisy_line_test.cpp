#include <gtest/gtest.h>

#include <algorithm>

#include "sim/memory_image.h"
#include "transfer_rig.h"

namespace tavrin::test {
namespace {

// A transfer stalled by damage (a lost ACK) is cancelled here, as --timeout does.
constexpr auto kTransferLimit = 2s;
constexpr std::uint32_t kRegionSize = 3000;

// The loader's timings scaled to the fast clock; the line is damaged from the memory's seed.
std::unique_ptr<TransferRig> NoisyRig(std::uint64_t seed) {
  sim::TargetConfig config;
  config.memorySeed = seed;
  config.enqDelay = 10ms;
  config.packetSize = 400;
  config.packetsPerEntry = 4;
  config.regionReadyDelay = 5ms;
  config.regionReadyRepeat = 50ms;
  config.resendTimeout = 100ms;
  config.repeatThreshold = 200ms;  // the PC repeats its request after 0.3 s
  config.frameTimeout = 200ms;
  config.attentionEcho = 100ms;
  auto rig = std::make_unique<TransferRig>(
      config, sim::NoiseRates{.corrupt = 1e-3, .drop = 2e-4, .duplicate = 2e-4});
  rig->clock.speed = 50;  // a 15 s deadline passes in 0.3 s
  return rig;
}

// False when the transfer did not end, not even on its cancel at the limit.
bool Ends(TransferRig& rig) {
  if (rig.transfer.WaitUntilFinished(kTransferLimit)) return true;
  rig.transfer.Cancel();
  return rig.transfer.WaitUntilFinished(5s);
}

// Right or the wrong region named; seed 13 once saved a region of another size unnamed.
TEST(NoisyLine, DownloadsEndAndAreRightOrFlagged) {
  int complete = 0;
  for (std::uint64_t seed = 1; seed <= 50; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    auto rig = NoisyRig(seed);
    const std::vector<Region> regions{{0x1000, 0x1000 + kRegionSize, 1},
                                      {0x2000, 0x2000 + kRegionSize, 2}};
    rig->view.savePath = rig->dir / "out.dbf";
    rig->transfer.StartDownload(rig->dir / "CmdUrtFile.urt", WriteScript(rig->dir.Path(), regions));
    ASSERT_TRUE(Ends(*rig));
    if (rig->view.Results() != std::vector<int>{2, 3}) continue;  // cancelled at its limit
    ++complete;
    const auto seen = rig->view.seen.Get();
    const std::string dbf = ReadFile(rig->dir / "out.dbf");
    for (int r : {1, 2}) {  // every region not named is stored, and right
      if (std::ranges::find(seen.crcMismatches, r) != seen.crcMismatches.end()) continue;
      const auto stored =
          std::ranges::find(seen.stored, r, [](const auto& s) { return std::get<0>(s); });
      ASSERT_NE(stored, seen.stored.end()) << r;
      const auto [region, offset, size] = *stored;
      const Bytes expected =
          sim::MemoryImage(seed).Read(1, 0x1000u * static_cast<std::uint32_t>(region), kRegionSize);
      EXPECT_EQ(dbf.substr(offset, size), std::string(expected.begin(), expected.end())) << r;
    }
  }
  EXPECT_GE(complete, 25);
}

TEST(NoisyLine, UploadsEndWithSuccessOrAReport) {
  for (std::uint64_t seed = 1; seed <= 10; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    auto rig = NoisyRig(seed);
    WriteUrt(rig->dir / "image.urt", {DataFrame(1500, 1), DataFrame(1500, 2), DataFrame(1500, 3)});
    rig->transfer.StartUpload(rig->dir / "image.urt");
    ASSERT_TRUE(Ends(*rig));
    EXPECT_FALSE(rig->view.Results().empty());
  }
}

}  // namespace
}  // namespace tavrin::test
