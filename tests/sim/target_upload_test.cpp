// The simulated loader's upload side, driven byte by byte by a scripted PC.
#include <gtest/gtest.h>

#include "scripted_pc.h"
#include "transfer/packet_frame.h"

namespace tavrin::sim::test {
namespace {

using namespace std::chrono_literals;

Bytes UrtFrame(std::size_t size, std::uint8_t seed) {
  Bytes payload(size);
  for (std::size_t i = 0; i < size; ++i) payload[i] = static_cast<std::uint8_t>(seed + i * 13);
  return transfer::BuildFrame(payload);
}

TEST(TargetUpload, HappyPathRecordsEveryFrameByteForByte) {
  SimRig rig(QuickConfig());
  ASSERT_TRUE(rig.Handshake());
  // A frame of 3000 bytes, and frames holding the control bytes as data.
  std::vector<Bytes> frames{UrtFrame(2991, 1), transfer::BuildFrame(Bytes{0x17, 0x02, 0x03, 0x05}),
                            UrtFrame(1, 9)};
  for (const auto& frame : frames) {
    rig.pc.Send(frame);
    ASSERT_EQ(rig.pc.Receive(1), Bytes{0x05});
  }
  EXPECT_EQ(rig.target.PacketPhaseFrames(), frames);
  auto all = rig.target.ReceivedFrames();
  ASSERT_EQ(all.size(), 6u);
  EXPECT_EQ(all[0], ModeCommand());
  EXPECT_EQ(all[1], WhoAmICommand());
  EXPECT_EQ(all[2], WhoAmIReply(kDefaultIdentity));
  EXPECT_TRUE(rig.target.Problems().empty());
}

TEST(TargetUpload, FrameSentInPiecesIsOneFrame) {
  SimRig rig(QuickConfig());
  ASSERT_TRUE(rig.Handshake(false));
  Bytes frame = UrtFrame(100, 3);
  rig.pc.Send(Bytes(frame.begin(), frame.begin() + 1));
  rig.pc.Send(Bytes(frame.begin() + 1, frame.begin() + 3));
  rig.pc.Send(Bytes(frame.begin() + 3, frame.end()));
  ASSERT_EQ(rig.pc.Receive(1), Bytes{0x05});
  EXPECT_EQ(rig.target.PacketPhaseFrames(), std::vector<Bytes>{frame});
  EXPECT_TRUE(rig.target.Problems().empty());
}

TEST(TargetUpload, BadSumAndOversizeFramesAreProblems) {
  SimRig rig(QuickConfig());
  ASSERT_TRUE(rig.Handshake());
  Bytes bad = UrtFrame(10, 4);
  bad[bad.size() - 2] ^= 0x40;
  rig.pc.Send(bad);
  ASSERT_EQ(rig.pc.Receive(1), Bytes{0x05});
  rig.pc.Send({0x02, 0x00, 0x0B, 0xB0});  // LEN 2992
  rig.pc.Drain(300ms);
  auto problems = rig.target.Problems();
  ASSERT_EQ(problems.size(), 2u);
  EXPECT_NE(problems[0].find("sum"), std::string::npos);
  EXPECT_NE(problems[1].find("2992"), std::string::npos);
}

TEST(TargetUpload, BurstScenarioWantsTheModeCommandFirst) {
  SimRig rig(QuickConfig(Scenario::kAckEnqBurst));
  ASSERT_TRUE(rig.Handshake(false));
  auto problems = rig.target.Problems();
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_EQ(problems[0], "who-am-I command before the mode command");
}

TEST(TargetUpload, AckThenLateEnqForbidsTheModeCommand) {
  SimRig rig(QuickConfig(Scenario::kAckThenEnqLater));
  rig.pc.Send({0x17});
  EXPECT_EQ(rig.pc.Receive(1), Bytes{0x06});
  EXPECT_EQ(rig.pc.Receive(1), Bytes{0x05});  // a while later
  rig.pc.Send(ModeCommand());
  EXPECT_EQ(rig.pc.Receive(1), Bytes{0x05});
  EXPECT_EQ(rig.target.Problems(),
            std::vector<std::string>{"mode command although ENQ had not come with the ACK"});
}

TEST(TargetUpload, NakAtAttentionThenAckEnq) {
  SimRig rig(QuickConfig(Scenario::kNakAtAttention));
  rig.pc.Send({0x17});
  EXPECT_EQ(rig.pc.Receive(3), (Bytes{0x15, 0x06, 0x05}));
}

TEST(TargetUpload, SplitAnswerComesInTwoWrites) {
  TargetConfig config = QuickConfig(Scenario::kSplitAnswer);
  config.splitAnswerGap = 300ms;
  SimRig rig(config);
  rig.pc.Send({0x17});
  ASSERT_EQ(rig.pc.Receive(2), (Bytes{0x06, 0x05}));
  rig.pc.Send(WhoAmICommand());
  Bytes answer = WhoAmIAnswer(kDefaultIdentity);
  // The first write comes alone; the rest only after the gap.
  EXPECT_EQ(rig.pc.Receive(8), Bytes(answer.begin(), answer.begin() + 8));
  EXPECT_EQ(rig.link.PcEnd().InputQueued(), 0u);
  EXPECT_EQ(rig.pc.Receive(7), (Bytes{0x33, 0x44, 0x88, 0x99, 0xAA, 0xBB, 0x05}));
}

TEST(TargetUpload, WrongIdentityFirstThenTheRightOne) {
  SimRig rig(QuickConfig(Scenario::kWrongIdentityFirst));
  rig.pc.Send({0x17});
  ASSERT_EQ(rig.pc.Receive(2), (Bytes{0x06, 0x05}));
  rig.pc.Send(WhoAmICommand());
  Bytes first = rig.pc.Receive(15);
  ASSERT_EQ(first.size(), 15u);
  EXPECT_NE(first, [] {
    Bytes right = WhoAmIAnswer(kDefaultIdentity);
    right.push_back(0x05);
    return right;
  }());
  rig.pc.Send(WhoAmICommand());
  Bytes second = rig.pc.Receive(15);
  EXPECT_EQ(Bytes(second.begin(), second.begin() + 14), WhoAmIAnswer(kDefaultIdentity));
  rig.pc.Send(WhoAmIReply(kDefaultIdentity));
  EXPECT_EQ(rig.pc.Receive(1), Bytes{0x05});
  EXPECT_TRUE(rig.target.Problems().empty());
}

TEST(TargetUpload, ReplyWithAnotherIdentityIsAProblem) {
  SimRig rig(QuickConfig());
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

TEST(TargetUpload, AnswerEndingWithEot) {
  SimRig rig(QuickConfig(Scenario::kAnswerEndsWithEot));
  rig.pc.Send({0x17});
  ASSERT_EQ(rig.pc.Receive(2), (Bytes{0x06, 0x05}));
  rig.pc.Send(WhoAmICommand());
  Bytes answer = rig.pc.Receive(15);
  ASSERT_EQ(answer.size(), 15u);
  EXPECT_EQ(answer[13], 0x04);
  EXPECT_EQ(answer[14], 0x05);
}

TEST(TargetUpload, EotFollowsTheFirstEnqOfThePacketPhaseInTheSameWrite) {
  SimRig rig(QuickConfig(Scenario::kEotAfterEnq));
  rig.pc.Send({0x17});
  ASSERT_EQ(rig.pc.Receive(2), (Bytes{0x06, 0x05}));
  rig.pc.Send(WhoAmICommand());
  ASSERT_EQ(rig.pc.Receive(15).size(), 15u);
  rig.pc.Send(WhoAmIReply(kDefaultIdentity));
  EXPECT_EQ(rig.pc.Receive(2), (Bytes{0x05, 0x04}));
  rig.pc.Send(UrtFrame(5, 1));
  EXPECT_EQ(rig.pc.Receive(1), Bytes{0x05});
  EXPECT_TRUE(rig.pc.Drain(30ms).empty());
}

TEST(TargetUpload, SilentTargetNeverAnswers) {
  SimRig rig(QuickConfig(Scenario::kSilent));
  rig.pc.Send({0x17, 0x17, 0x02, 0x00, 0x01, 0x41, 0x03});
  EXPECT_TRUE(rig.pc.Drain(100ms).empty());
}

struct RefusalRow {
  Scenario scenario;
  std::uint8_t code;
  std::uint32_t framesBefore;  // frames the PC sends before the refusal comes
};

class TargetRefusal : public ::testing::TestWithParam<RefusalRow> {};

TEST_P(TargetRefusal, RefusesWithItsCode) {
  const RefusalRow row = GetParam();
  TargetConfig config = QuickConfig(row.scenario);
  config.refuseAfterFrames = 2;
  SimRig rig(config);
  if (row.framesBefore == 0) {
    rig.pc.Send({0x17});
    EXPECT_EQ(rig.pc.Receive(1), Bytes{row.code});
  } else {
    ASSERT_TRUE(rig.Handshake());
    rig.pc.Send(UrtFrame(8, 1));
    ASSERT_EQ(rig.pc.Receive(1), Bytes{0x05});
    rig.pc.Send(UrtFrame(8, 2));
    EXPECT_EQ(rig.pc.Receive(1), Bytes{row.code});
  }
  EXPECT_TRUE(rig.pc.Drain(30ms).empty());
  // Back to the start: a new attention is answered as the scenario says.
  rig.pc.Send({0x17});
  EXPECT_FALSE(rig.pc.Receive(1).empty());
}

INSTANTIATE_TEST_SUITE_P(Codes, TargetRefusal,
                         ::testing::Values(RefusalRow{Scenario::kRefuseEot, 0x04, 0},
                                           RefusalRow{Scenario::kRefuseDc3, 0x13, 0},
                                           RefusalRow{Scenario::kRefuseEtb, 0x17, 0},
                                           RefusalRow{Scenario::kRefuseEotAfterFrames, 0x04, 2},
                                           RefusalRow{Scenario::kRefuseDc3AfterFrames, 0x13, 2},
                                           RefusalRow{Scenario::kRefuseEtbAfterFrames, 0x17, 2}));

TEST(TargetComTest, EchoesTestFramesOutsideATransferAndAfterAnUpload) {
  SimRig rig(QuickConfig());
  Bytes abc{0x02, 0x00, 0x03, 'a', 'b', 'c', 0x03};
  rig.pc.Send({'x', 'y'});  // typed text is taken no notice of
  rig.pc.Send(abc);
  EXPECT_EQ(rig.pc.Receive(7), abc);
  Bytes empty{0x02, 0x00, 0x00, 0x03};
  ASSERT_TRUE(rig.Handshake());
  rig.pc.Send(UrtFrame(20, 1));
  ASSERT_EQ(rig.pc.Receive(1), Bytes{0x05});
  // Could begin a packet frame: it counts as a test frame once the line is quiet.
  rig.pc.Send(empty);
  EXPECT_EQ(rig.pc.Receive(4), empty);
  rig.pc.Send(abc);  // back outside a transfer
  EXPECT_EQ(rig.pc.Receive(7), abc);
  EXPECT_TRUE(rig.target.Problems().empty());
}

TEST(TargetComTest, LongTestFrameAfterAnUploadIsEchoedAtOnce) {
  SimRig rig(QuickConfig());
  ASSERT_TRUE(rig.Handshake());
  Bytes text(3000, 'q');
  Bytes frame{0x02, 0x0B, 0xB8};  // 3000: far above what a packet frame may announce
  frame.insert(frame.end(), text.begin(), text.end());
  frame.push_back(0x03);
  rig.pc.Send(frame);
  EXPECT_EQ(rig.pc.Receive(frame.size()), frame);
  EXPECT_TRUE(rig.target.Problems().empty());
}

}  // namespace
}  // namespace tavrin::sim::test
