#include <gtest/gtest.h>

#include <thread>

#include "transfer/packet_frame.h"
#include "transfer/report_texts.h"
#include "transfer_rig.h"

namespace tavrin::test {
namespace {

using namespace std::chrono_literals;
using sim::Scenario;
using transfer::ReportBlockFor;

std::vector<Bytes> SomeFrames() {
  return {DataFrame(100, 1), DataFrame(2991, 2), DataFrame(1, 3), DataFrame(500, 0x05)};
}

std::string Block(int code) {
  return ReportBlockFor(code)->text;
}

// The report blocks among the captured blocks (received text shows up beside them: the
// target's last ENQ, blanked, comes after the transfer has ended).
std::vector<RecordingCapture::Block> Reports(const RecordingCapture& capture) {
  std::vector<RecordingCapture::Block> reports;
  for (const auto& block : capture.Blocks()) {
    if (block.text.find("<==========") != std::string::npos) reports.push_back(block);
  }
  return reports;
}

sim::TargetConfig Quick(Scenario scenario) {
  sim::TargetConfig config;
  config.scenario = scenario;
  config.enqDelay = 50ms;
  config.splitAnswerGap = 20ms;
  return config;
}

struct SuccessCase {
  const char* name;
  Scenario scenario;
};

class UploadSucceeds : public testing::TestWithParam<SuccessCase> {};

// Every behaviour of a loader that accepts the image ends with the frames at the target
// byte for byte and the blue success block.
TEST_P(UploadSucceeds, FramesArriveUnchanged) {
  TransferRig rig(Quick(GetParam().scenario));
  const auto urt = rig.Dir() / "image.urt";
  const auto frames = SomeFrames();
  WriteUrt(urt, frames);

  EXPECT_EQ(rig.Upload(urt), std::vector<int>{1});
  rig.WaitForTargetFrames(frames.size());
  EXPECT_EQ(rig.target.PacketPhaseFrames(), frames);
  for (const auto& problem : rig.target.Problems()) ADD_FAILURE() << problem;
  const auto blocks = Reports(rig.capture);
  ASSERT_EQ(blocks.size(), 1u);
  EXPECT_EQ(blocks.back().text, Block(1));
  EXPECT_EQ(blocks.back().colour, terminal::ColourMark::kBlue);
  EXPECT_FALSE(rig.transfer.State().running);
}

INSTANTIATE_TEST_SUITE_P(
    Loaders, UploadSucceeds,
    testing::Values(SuccessCase{"Normal", Scenario::kNormal},
                    SuccessCase{"AckThenEnqLater", Scenario::kAckThenEnqLater},
                    SuccessCase{"AckEnqBurstGetsModeCommandFirst", Scenario::kAckEnqBurst},
                    SuccessCase{"AnswerSplitAcrossWrites", Scenario::kSplitAnswer},
                    SuccessCase{"WrongIdentityThenRight", Scenario::kWrongIdentityFirst},
                    SuccessCase{"NakEndsAttention", Scenario::kNakAtAttention},
                    SuccessCase{"AnswerEndingIn04IsNoRefusal", Scenario::kAnswerEndsWithEot},
                    SuccessCase{"EotWhileReadyIsIgnored", Scenario::kEotAfterEnq}),
    [](const auto& row) { return std::string(row.param.name); });

struct RefusalCase {
  const char* name;
  Scenario scenario;
  int code;
  std::size_t framesTaken;
};

class UploadRefused : public testing::TestWithParam<RefusalCase> {};

TEST_P(UploadRefused, EndsWithTheTargetsCode) {
  auto config = Quick(GetParam().scenario);
  config.refuseAfterFrames = 2;
  TransferRig rig(config);
  const auto urt = rig.Dir() / "image.urt";
  WriteUrt(urt, SomeFrames());

  EXPECT_EQ(rig.Upload(urt), std::vector<int>{GetParam().code});
  EXPECT_EQ(rig.target.PacketPhaseFrames().size(), GetParam().framesTaken);
  ASSERT_EQ(Reports(rig.capture).size(), 1u);
  EXPECT_EQ(Reports(rig.capture)[0].text, Block(GetParam().code));
  EXPECT_EQ(Reports(rig.capture)[0].colour, terminal::ColourMark::kRed);
}

INSTANTIATE_TEST_SUITE_P(
    Refusals, UploadRefused,
    testing::Values(RefusalCase{"SameVersionAtAttention", Scenario::kRefuseEot, 4, 0},
                    RefusalCase{"WaitingAtAttention", Scenario::kRefuseDc3, 19, 0},
                    RefusalCase{"TerminatedAtAttention", Scenario::kRefuseEtb, 23, 0},
                    RefusalCase{"SameVersionAfterFrames", Scenario::kRefuseEotAfterFrames, 4, 2},
                    RefusalCase{"WaitingAfterFrames", Scenario::kRefuseDc3AfterFrames, 19, 2},
                    RefusalCase{"TerminatedAfterFrames", Scenario::kRefuseEtbAfterFrames, 23, 2}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(Upload, ImageWithoutFramesStillGoesThroughTheHandshake) {
  TransferRig rig(Quick(Scenario::kNormal));
  const auto urt = rig.Dir() / "empty.urt";
  WriteUrt(urt, {});
  EXPECT_EQ(rig.Upload(urt), std::vector<int>{1});
  EXPECT_TRUE(rig.target.PacketPhaseFrames().empty());
  // The who-am-I command and its reply were sent.
  EXPECT_GE(rig.target.ReceivedFrames().size(), 2u);
}

struct BadFrameCase {
  const char* name;
  Bytes badFrame;
  int code;
};

class UploadBadFrame : public testing::TestWithParam<BadFrameCase> {};

// The frames before a bad one have been sent; the bad one is not.
TEST_P(UploadBadFrame, EndsWithTheFrameError) {
  TransferRig rig(Quick(Scenario::kNormal));
  const auto urt = rig.Dir() / "bad.urt";
  const Bytes good = DataFrame(2991, 9);  // 3000 bytes: the largest frame allowed
  WriteUrt(urt, {good, GetParam().badFrame, DataFrame(10, 1)});
  EXPECT_EQ(rig.Upload(urt), std::vector<int>{GetParam().code});
  rig.WaitForTargetFrames(1);
  EXPECT_EQ(rig.target.PacketPhaseFrames(), std::vector<Bytes>{good});
  ASSERT_EQ(Reports(rig.capture).size(), 1u);
  EXPECT_EQ(Reports(rig.capture)[0].text, Block(GetParam().code));
}

Bytes EndingWith(Bytes frame, std::uint8_t last) {
  frame.back() = last;
  return frame;
}

INSTANTIATE_TEST_SUITE_P(
    Frames, UploadBadFrame,
    testing::Values(BadFrameCase{"LargerThan3000", DataFrame(2992, 1), -2},
                    BadFrameCase{"NoHeaderStart", Bytes{0x01, 0, 0, 1, 0x41, 0, 0, 0, 0x41, 3}, -1},
                    BadFrameCase{"NoHeaderEnd", EndingWith(DataFrame(20, 3), 0x04), -3}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(Upload, FrameWithWrongSumIsSentUnchanged) {
  TransferRig rig(Quick(Scenario::kNormal));
  const auto urt = rig.Dir() / "sum.urt";
  Bytes frame = DataFrame(40, 4);
  frame[frame.size() - 2] ^= 0x55;
  WriteUrt(urt, {frame});
  EXPECT_EQ(rig.Upload(urt), std::vector<int>{1});
  rig.WaitForTargetFrames(1);
  EXPECT_EQ(rig.target.ReceivedFrames().back(), frame);
}

TEST(Upload, CountBeyondTheFramesInTheFile) {
  TransferRig rig(Quick(Scenario::kNormal));
  const auto urt = rig.Dir() / "short.urt";
  WriteUrt(urt, {DataFrame(10, 1)}, 2);  // nothing after the first frame
  EXPECT_EQ(rig.Upload(urt), std::vector<int>{-1});

  Bytes cut = DataFrame(100, 2);
  cut.resize(50);
  WriteUrt(urt, {DataFrame(10, 1), cut}, 2);  // the second frame is cut short
  TransferRig again(Quick(Scenario::kNormal));
  EXPECT_EQ(again.Upload(urt), std::vector<int>{-3});
}

// A count of 0xFFFFFFFF claims more frames than any file holds: the frames there are
// sent, then the end of the file ends the upload; nothing is sized by the count.
TEST(Upload, HugeCountEndsAtTheEndOfTheFile) {
  TransferRig rig(Quick(Scenario::kNormal));
  const auto urt = rig.Dir() / "huge.urt";
  WriteUrt(urt, {DataFrame(10, 1), DataFrame(20, 2)}, 0xFFFFFFFF);
  EXPECT_EQ(rig.Upload(urt), std::vector<int>{-1});
  rig.WaitForTargetFrames(2);
  EXPECT_EQ(rig.target.PacketPhaseFrames().size(), 2u);
}

TEST(Upload, ShortWriteEndsWithoutReportAndIsLogged) {
  TransferRig rig(Quick(Scenario::kAckThenEnqLater));  // no mode command
  const auto urt = rig.Dir() / "image.urt";
  WriteUrt(urt, SomeFrames());
  rig.port.frameToCut = 3;  // who-am-I command, reply, then the first frame
  EXPECT_TRUE(rig.Upload(urt).empty());
  const auto entries = rig.status.Entries();
  EXPECT_EQ(entries.back(), "2:Short write: 54 of 109 bytes\r\n");
}

TEST(Upload, FilesThatCannotStartGiveTheirMessageAndNoReport) {
  TransferRig rig(Quick(Scenario::kNormal));
  EXPECT_TRUE(rig.Upload(rig.Dir() / "missing.urt").empty());
  const auto notUrt = rig.Dir() / "not.urt";
  WriteUrt(notUrt, {});
  std::filesystem::resize_file(notUrt, 1);
  EXPECT_TRUE(rig.Upload(notUrt).empty());
  EXPECT_EQ(rig.view.Messages(),
            (std::vector<std::string>{"Tavrin 1.1|Error No: -3 \n File Access Error!!!",
                                      "Tavrin 1.1|Unable to upload\nGiven URT file is invalid."}));
  EXPECT_TRUE(Reports(rig.capture).empty());
}

TEST(Upload, SilentTargetGetsOneNoResponsePerDeadlineThenCancel) {
  TransferRig rig(Quick(Scenario::kSilent));
  rig.clock.Set(3590);  // the deadline runs past the hour
  const auto urt = rig.Dir() / "image.urt";
  WriteUrt(urt, SomeFrames());
  rig.transfer.StartUpload(urt);
  ASSERT_TRUE(rig.view.WaitForRefreshes(1, 5s));  // running, deadline noted
  rig.clock.Set(4);                               // 14 s later: not yet
  rig.clock.Set(5);                               // 15 s later
  ASSERT_TRUE(rig.view.WaitForResults(1, 5s));
  rig.clock.Set(30);
  EXPECT_FALSE(rig.view.WaitForResults(2, 300ms));  // one report per deadline
  rig.transfer.Cancel();
  ASSERT_TRUE(rig.WaitForEnd());
  EXPECT_EQ(rig.view.Results(), (std::vector<int>{-4, 23}));
  const auto blocks = Reports(rig.capture);
  ASSERT_EQ(blocks.size(), 2u);
  EXPECT_EQ(blocks[0].text, Block(-4));
  EXPECT_EQ(blocks[1].text, Block(23));
}

TEST(Upload, CancelWhilePausedEndsWith23) {
  TransferRig rig(Quick(Scenario::kSilent));
  const auto urt = rig.Dir() / "image.urt";
  WriteUrt(urt, SomeFrames());
  rig.transfer.StartUpload(urt);
  ASSERT_TRUE(rig.view.WaitForRefreshes(1, 5s));
  rig.transfer.TogglePause();
  rig.transfer.Cancel();
  ASSERT_TRUE(rig.WaitForEnd());
  EXPECT_EQ(rig.view.Results(), std::vector<int>{23});
  EXPECT_FALSE(rig.transfer.State().pause);
}

TEST(Upload, PausedTransferSendsNothingUntilContinued) {
  TransferRig rig(Quick(Scenario::kNormal));
  const auto urt = rig.Dir() / "image.urt";
  WriteUrt(urt, SomeFrames());
  rig.transfer.TogglePause();
  rig.transfer.StartUpload(urt);  // a start clears pause
  ASSERT_TRUE(rig.WaitForEnd());
  EXPECT_EQ(rig.view.Results(), std::vector<int>{1});
}

TEST(ReceiveDispatcher, BlanksProtocolBytesAlsoWithoutATransfer) {
  TransferRig rig(Quick(Scenario::kSilent));
  Bytes block{'o', 'k', 0x06, 0x05, 0x00, 0x04, 0x11, 0x13, 0x15, 0x17, 0x91, 0x99, 0x02, '!'};
  rig.dispatcher.OutputABuffer(block);
  EXPECT_EQ(rig.capture.Text(), std::string("ok          \x02!"));
  rig.dispatcher.OutputABuffer({});
  EXPECT_EQ(rig.errors.DebugLines().back(), "NULL Buffer in OutputABuffer\n\r");
}

}  // namespace
}  // namespace tavrin::test
