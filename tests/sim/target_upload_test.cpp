// The simulated loader's upload side and COM test echo, driven byte by byte by a scripted
// PC.
#include <gtest/gtest.h>

#include "scripted_pc.h"
#include "transfer/packet_frame.h"

namespace tavrin::sim::test {
namespace {

Bytes UrtFrame(std::size_t size, std::uint8_t seed) {
  Bytes payload(size);
  for (std::size_t i = 0; i < size; ++i) payload[i] = static_cast<std::uint8_t>(seed + i * 13);
  return transfer::BuildFrame(payload);
}

// Without the mode command; a frame sent in pieces is one frame, and bad frames are the
// target's problems.
TEST(TargetUpload, FrameSentInPiecesIsOneFrameAndBadSumAndOversizeAreProblems) {
  SimRig rig;
  ASSERT_TRUE(rig.Handshake(false));
  const Bytes frame = UrtFrame(100, 3);
  rig.pc.Send(Bytes(frame.begin(), frame.begin() + 1));
  rig.pc.Send(Bytes(frame.begin() + 1, frame.begin() + 3));
  rig.pc.Send(Bytes(frame.begin() + 3, frame.end()));
  ASSERT_EQ(rig.pc.Receive(1), Bytes{0x05});
  EXPECT_EQ(rig.target.PacketPhaseFrames(), std::vector<Bytes>{frame});

  rig.pc.Send({0x02, 0, 0, 1, 'A', 0, 0, 0, 'B', 0x03});  // sum 0x42 for 0x41
  ASSERT_EQ(rig.pc.Receive(1), Bytes{0x05});
  rig.pc.Send({0x02, 0x00, 0x0B, 0xB0});  // LEN 2992
  rig.pc.Drain(300ms);
  const auto problems = rig.target.Problems();
  ASSERT_EQ(problems.size(), 2u);
  EXPECT_NE(problems[0].find("sum"), std::string::npos);
  EXPECT_NE(problems[1].find("2992"), std::string::npos);
}

struct DamagedFrame {
  const char* name;
  Bytes frame;
  const char* problem;
};

class TargetRefusingBadFrames : public testing::TestWithParam<DamagedFrame> {};

// A loader that refuses damaged frames answers each kind with 0x13 and names the frame.
TEST_P(TargetRefusingBadFrames, AnswersWith0x13AndNamesTheFrame) {
  TargetConfig config = QuickConfig();
  config.refuseBadFrames = true;
  SimRig rig(config);
  ASSERT_TRUE(rig.Handshake());
  rig.pc.Send(UrtFrame(10, 1));
  ASSERT_EQ(rig.pc.Receive(1), Bytes{0x05});
  rig.pc.Send(GetParam().frame);
  EXPECT_EQ(rig.pc.Receive(1), Bytes{0x13});
  const auto problems = rig.target.Problems();
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_TRUE(problems[0].starts_with("refused frame 2 with 0x13: ")) << problems[0];
  EXPECT_NE(problems[0].find(GetParam().problem), std::string::npos) << problems[0];
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, TargetRefusingBadFrames,
    testing::Values(
        DamagedFrame{"BadSum", {0x02, 0, 0, 1, 'A', 0, 0, 0, 'B', 0x03}, "sum"},
        DamagedFrame{"Overrun", {0x02, 0, 0, 1, 'A', 0, 0, 0, 'A', 'x'}, "does not end with 0x03"},
        DamagedFrame{"BrokenOff", {0x02, 0, 0, 1, 'A', 0, 0}, "broke off"}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(TargetUpload, ReplyWithAnotherIdentityIsAProblem) {
  SimRig rig;
  rig.pc.Send({0x17});
  ASSERT_EQ(rig.pc.Receive(2), (Bytes{0x06, 0x05}));
  rig.pc.Send(WhoAmICommand());
  ASSERT_EQ(rig.pc.Receive(15).size(), 15u);
  Identity other = kDefaultIdentity;
  other[4] ^= 1;
  rig.pc.Send(WhoAmIReply(other));
  rig.pc.Receive(1);
  EXPECT_EQ(rig.target.Problems(),
            std::vector<std::string>{"who-am-I reply does not carry this target's Id2 and Id1"});
}

TEST(TargetComTest, EchoesTestFramesOutsideATransferAndAfterAnUpload) {
  SimRig rig;
  const Bytes abc{0x02, 0x00, 0x03, 'a', 'b', 'c', 0x03};
  ASSERT_TRUE(rig.Handshake());
  rig.pc.Send(UrtFrame(20, 1));
  ASSERT_EQ(rig.pc.Receive(1), Bytes{0x05});
  // Could begin a packet frame: it counts as a test frame once the line is quiet.
  const Bytes empty{0x02, 0x00, 0x00, 0x03};
  rig.pc.Send(empty);
  EXPECT_EQ(rig.pc.Receive(4), empty);
  rig.pc.Send({'x', 'y'});  // typed text is taken no notice of
  rig.pc.Send(abc);         // back outside a transfer
  EXPECT_EQ(rig.pc.Receive(7), abc);

  // 3000 text bytes after a handshake: far above what a packet frame may announce.
  ASSERT_TRUE(rig.Handshake());
  Bytes longFrame(3 + 3000 + 1, 'q');
  longFrame[0] = 0x02;
  longFrame[1] = 0x0B;
  longFrame[2] = 0xB8;
  longFrame.back() = 0x03;
  rig.pc.Send(longFrame);
  EXPECT_EQ(rig.pc.Receive(longFrame.size()), longFrame);
  EXPECT_TRUE(rig.target.Problems().empty());
}

}  // namespace
}  // namespace tavrin::sim::test
