// The simulated loader's download side: command packets in, regions out as dump frames.
#include <gtest/gtest.h>

#include "scripted_pc.h"
#include "sim/memory_image.h"
#include "transfer/packet_frame.h"

namespace tavrin::sim::test {
namespace {

using namespace std::chrono_literals;
using transfer::ReadBigEndian;

// The PC's side of a download up to the first region offer.
void SendCommandImage(SimRig& rig, const std::vector<RegionRequest>& regions) {
  ASSERT_TRUE(rig.Handshake());
  for (std::size_t i = 0; i < regions.size(); ++i) {
    const auto& r = regions[i];
    rig.pc.Send(CommandPacket(static_cast<std::uint32_t>(regions.size()), r.memoryType,
                              r.startAddress, r.endAddress));
    if (i + 1 < regions.size()) {
      ASSERT_EQ(rig.pc.Receive(1), Bytes{0x05});
    }
  }
}

TargetConfig DownloadConfig() {
  TargetConfig config = QuickConfig();
  config.packetSize = 1000;
  config.packetsPerEntry = 2;
  config.memorySeed = 77;
  // Far beyond the test's own pace: no repeated offer or nudge comes unasked.
  config.regionReadyRepeat = 5s;
  config.resendTimeout = 5s;
  return config;
}

TEST(TargetDownload, EnqLongAfterAFrameAsksForItAgain) {
  TargetConfig config = DownloadConfig();
  config.repeatThreshold = 0ms;  // every later ENQ counts as the PC's repeat after 15 s
  SimRig rig(config);
  ASSERT_NO_FATAL_FAILURE(SendCommandImage(rig, {{1, 1, 0, 10}}));
  ASSERT_EQ(rig.pc.Receive(1), Bytes{0x17});
  rig.pc.Send({0x06, 0x05});
  Bytes info = rig.pc.ReceiveFrame();
  rig.pc.Send({0x05});
  EXPECT_EQ(rig.pc.ReceiveFrame(), info);
}

TEST(TargetDownload, MismatchedRecordCountsAreAProblem) {
  SimRig rig(DownloadConfig());
  ASSERT_TRUE(rig.Handshake());
  rig.pc.Send(CommandPacket(2, 1, 0, 10));
  ASSERT_EQ(rig.pc.Receive(1), Bytes{0x05});
  rig.pc.Send(CommandPacket(3, 1, 0, 10));
  rig.pc.Receive(1);
  ASSERT_EQ(rig.target.Problems().size(), 1u);
  EXPECT_EQ(rig.target.Problems()[0], "command packet 2: record count 3, the first packet said 2");
}

TEST(MemoryImage, CrcIsMpeg2AndMemoryDependsOnSeedTypeAndAddressOnly) {
  const std::string check = "123456789";
  EXPECT_EQ(Crc32Mpeg2(std::span(reinterpret_cast<const std::uint8_t*>(check.data()), 9)),
            0x0376E6E7u);
  MemoryImage memory(5);
  Bytes whole = memory.Read(1, 0xFFFFFFF0, 32);  // wraps at 2^32
  Bytes tail = memory.Read(1, 0x00000000, 16);
  EXPECT_TRUE(std::equal(tail.begin(), tail.end(), whole.begin() + 16));
  EXPECT_NE(memory.Read(2, 0, 16), memory.Read(1, 0, 16));
  EXPECT_NE(MemoryImage(6).Read(1, 0, 16), memory.Read(1, 0, 16));
}

TEST(RegionPlan, HugeRegionIsCutToWhatOneInfoPacketDescribes) {
  MemoryImage memory(1);
  RegionPlan plan({1, 1, 0, 0xFFFFFFFF}, memory, 1, 255);
  EXPECT_TRUE(plan.Clamped());
  EXPECT_EQ(plan.DataPackets(), kMaxInfoEntries * 255);
  EXPECT_EQ(plan.Size(), kMaxInfoEntries * 255);
  EXPECT_LE(plan.InfoPayload().size(), transfer::kMaxPayload);
}

}  // namespace
}  // namespace tavrin::sim::test

namespace tavrin::sim::test {
namespace {

TEST(TargetDownload, ComTestFrameAfterAnAbandonedDownloadIsEchoed) {
  SimRig rig(DownloadConfig());
  ASSERT_NO_FATAL_FAILURE(SendCommandImage(rig, {{1, 1, 0, 5000}}));
  ASSERT_EQ(rig.pc.Receive(1), Bytes{0x17});
  rig.pc.Send({0x06, 0x05});
  ASSERT_EQ(rig.pc.ReceiveFrame().at(4), 0xF1);
  const Bytes ping{0x02, 0x00, 0x01, 'p', 0x03};
  rig.pc.Send(ping);
  EXPECT_EQ(rig.pc.Receive(ping.size()), ping);
  EXPECT_EQ(rig.target.Problems(),
            std::vector<std::string>{"download of region 1 given up by the PC"});
}

}  // namespace
}  // namespace tavrin::sim::test
