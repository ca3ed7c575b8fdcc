// The simulated loader's download side: command packets in, regions out as dump frames.
#include <gtest/gtest.h>

#include "scripted_pc.h"
#include "sim/memory_image.h"
#include "transfer/packet_frame.h"

namespace tavrin::sim::test {
namespace {

using namespace std::chrono_literals;
using transfer::ReadBigEndian;

Bytes PayloadOf(const Bytes& frame) {
  if (frame.size() < 9) return {};
  return Bytes(frame.begin() + 4, frame.end() - 5);
}

bool SumMatches(const Bytes& frame) {
  return frame.size() >= 9 && ReadBigEndian(std::span(frame).subspan(frame.size() - 5, 4)) ==
                                  transfer::FrameSum(PayloadOf(frame));
}

struct Info {
  std::uint32_t size = 0;
  std::vector<std::uint8_t> entryPackets;  // byte 4 of each entry
  std::uint32_t crc = 0;
};

Info ParseInfo(const Bytes& payload) {
  Info info;
  info.size = ReadBigEndian(std::span(payload).subspan(24, 4));
  std::uint32_t entries = ReadBigEndian(std::span(payload).subspan(44, 3));
  for (std::uint32_t i = 0; i < entries; ++i) info.entryPackets.push_back(payload[47 + 14 * i + 4]);
  info.crc = ReadBigEndian(std::span(payload).subspan(47 + 14 * entries, 4));
  return info;
}

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

// Accepts the offered region and fetches it whole, frame by frame, as the PC does.
// Returns the region data; `info` gets the info packet.
Bytes FetchRegion(SimRig& rig, Info& info) {
  EXPECT_EQ(rig.pc.Receive(1), Bytes{0x17});
  rig.pc.Send({0x06});
  rig.pc.Send({0x05});
  Bytes infoFrame = rig.pc.ReceiveFrame();
  EXPECT_TRUE(SumMatches(infoFrame));
  Bytes payload = PayloadOf(infoFrame);
  EXPECT_EQ(payload.at(0), 0xF1);
  info = ParseInfo(payload);
  std::uint32_t packets = 0;
  for (auto count : info.entryPackets) packets += count;
  Bytes data;
  for (std::uint32_t i = 0; i < packets; ++i) {
    rig.pc.Send({0x05});
    Bytes frame = rig.pc.ReceiveFrame();
    EXPECT_TRUE(SumMatches(frame));
    Bytes dataPayload = PayloadOf(frame);
    EXPECT_EQ(dataPayload.at(0), 0xF2);
    data.insert(data.end(), dataPayload.begin() + 12, dataPayload.end());
  }
  rig.pc.Send({0x05});  // the ENQ after the last data packet ends the region
  return data;
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

TEST(TargetDownload, ServesInfoAndDataPacketsWithTheRegionsCrc) {
  SimRig rig(DownloadConfig());
  const RegionRequest region{1, 1, 0x00010000, 0x00010000 + 2500};
  ASSERT_NO_FATAL_FAILURE(SendCommandImage(rig, {region}));
  Info info;
  Bytes data = FetchRegion(rig, info);
  EXPECT_EQ(info.size, 2500u);
  EXPECT_EQ(info.entryPackets, (std::vector<std::uint8_t>{2, 1}));
  const Bytes expected = MemoryImage(77).Read(1, 0x00010000, 2500);
  EXPECT_EQ(data, expected);
  EXPECT_EQ(rig.target.RegionData(region), expected);
  EXPECT_EQ(info.crc, Crc32Mpeg2(expected));
  EXPECT_TRUE(rig.target.WaitForRegionsServed(1, 5s));
  EXPECT_TRUE(rig.pc.Drain(30ms).empty());  // one region only: nothing more is offered
  EXPECT_EQ(rig.target.Requests(), std::vector<RegionRequest>{region});
  EXPECT_TRUE(rig.target.Problems().empty());
}

TEST(TargetDownload, RegionsInOrderAnEmptyOneHasNoDataPackets) {
  SimRig rig(DownloadConfig());
  const std::vector<RegionRequest> regions{
      {3, 1, 0x100, 0x180}, {3, 2, 0x40, 0x40}, {3, 2, 0x10, 0x20}};
  ASSERT_NO_FATAL_FAILURE(SendCommandImage(rig, regions));
  for (const auto& region : regions) {
    Info info;
    Bytes data = FetchRegion(rig, info);
    EXPECT_EQ(info.size, region.Size());
    EXPECT_EQ(data, MemoryImage(77).Read(region.memoryType, region.startAddress, region.Size()));
  }
  EXPECT_TRUE(rig.target.WaitForRegionsServed(3, 5s));
  EXPECT_TRUE(rig.target.Problems().empty());
}

TEST(TargetDownload, NakBringsTheLastFrameAgain) {
  SimRig rig(DownloadConfig());
  ASSERT_NO_FATAL_FAILURE(SendCommandImage(rig, {{1, 2, 0, 1500}}));
  ASSERT_EQ(rig.pc.Receive(1), Bytes{0x17});
  rig.pc.Send({0x06, 0x05});
  Bytes info = rig.pc.ReceiveFrame();
  rig.pc.Send({0x15});
  EXPECT_EQ(rig.pc.ReceiveFrame(), info);
  rig.pc.Send({0x05});
  Bytes first = rig.pc.ReceiveFrame();
  rig.pc.Send({0x15});
  EXPECT_EQ(rig.pc.ReceiveFrame(), first);
  rig.pc.Send({0x05});
  Bytes second = rig.pc.ReceiveFrame();
  EXPECT_NE(second, first);
  EXPECT_EQ(ReadBigEndian(std::span(second).subspan(4 + 5, 4)), 1000u);  // region offset
}

TEST(TargetDownload, OfferIsRepeatedUntilAccepted) {
  TargetConfig config = DownloadConfig();
  config.regionReadyRepeat = 20ms;
  SimRig rig(config);
  ASSERT_NO_FATAL_FAILURE(SendCommandImage(rig, {{1, 1, 0, 10}}));
  EXPECT_EQ(rig.pc.Receive(3), (Bytes{0x17, 0x17, 0x17}));
  rig.pc.Send({0x06, 0x05});
  Bytes next = rig.pc.Receive(1);
  for (int i = 0; i < 100 && next == Bytes{0x17}; ++i) next = rig.pc.Receive(1);  // in flight
  EXPECT_EQ(next, Bytes{0x02});
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

struct FaultRow {
  Fault fault;
  std::size_t sentBytes;  // of the faulty frame
  bool nudged;            // a filler byte follows before the PC answers
};

class TargetFault : public ::testing::TestWithParam<FaultRow> {};

TEST_P(TargetFault, FaultyFrameOnceThenTheGoodOneOnNak) {
  const FaultRow row = GetParam();
  TargetConfig config = DownloadConfig();
  config.faults = {row.fault};
  if (row.nudged) config.resendTimeout = 300ms;
  SimRig rig(config);
  const RegionRequest region{1, 1, 0x2000, 0x2000 + 100};
  ASSERT_NO_FATAL_FAILURE(SendCommandImage(rig, {region}));
  ASSERT_EQ(rig.pc.Receive(1), Bytes{0x17});
  rig.pc.Send({0x06, 0x05});
  ASSERT_EQ(rig.pc.ReceiveFrame().at(4), 0xF1);
  rig.pc.Send({0x05});
  Bytes good = transfer::BuildFrame([&] {
    Bytes payload{0xF2, 0, 0, 0, 1, 0, 0, 0, 0, 0, 100, 1};
    Bytes data = MemoryImage(77).Read(1, 0x2000, 100);
    payload.insert(payload.end(), data.begin(), data.end());
    return payload;
  }());
  Bytes faulty = rig.pc.Receive(row.sentBytes);
  ASSERT_EQ(faulty.size(), row.sentBytes);
  EXPECT_NE(faulty, Bytes(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(row.sentBytes)));
  if (row.nudged) {
    EXPECT_EQ(rig.pc.Receive(1), Bytes{0x00});
  }
  rig.pc.Send({0x15});
  EXPECT_EQ(rig.pc.ReceiveFrame(), good);
  rig.pc.Send({0x05});
  rig.pc.Send({0x05});
  EXPECT_TRUE(rig.target.WaitForRegionsServed(1, 5s));
  EXPECT_TRUE(rig.pc.Drain(30ms).empty());
}

INSTANTIATE_TEST_SUITE_P(Faults, TargetFault,
                         ::testing::Values(FaultRow{Fault::kBadSum, 121, false},
                                           FaultRow{Fault::kOversize, 4, false},
                                           FaultRow{Fault::kDropByte, 120, true}));

TEST(TargetDownload, WrongCrcFaultSpoilsOnlyTheFirstRegionsInfo) {
  TargetConfig config = DownloadConfig();
  config.faults = {Fault::kWrongCrc};
  SimRig rig(config);
  const std::vector<RegionRequest> regions{{2, 1, 0, 300}, {2, 1, 300, 600}};
  ASSERT_NO_FATAL_FAILURE(SendCommandImage(rig, regions));
  Info first;
  Bytes firstData = FetchRegion(rig, first);
  Info second;
  Bytes secondData = FetchRegion(rig, second);
  EXPECT_NE(first.crc, Crc32Mpeg2(firstData));
  EXPECT_EQ(second.crc, Crc32Mpeg2(secondData));
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
