#include <gtest/gtest.h>

#include "transfer/report_texts.h"
#include "transfer_rig.h"

namespace tavrin::test {
namespace {

using sim::Scenario;

std::vector<Bytes> SomeFrames() {
  return {DataFrame(100, 1), DataFrame(2991, 2), DataFrame(1, 3), DataFrame(500, 0x05)};
}

// The report blocks among the captured blocks (received text shows up beside them: the
// target's last ENQ, blanked, comes after the transfer has ended).
std::vector<RecordingCapture::Block> Reports(const TransferRig& rig) {
  std::vector<RecordingCapture::Block> reports;
  for (const auto& block : rig.capture.blocks.Get()) {
    if (block.text.find("<==========") != std::string::npos) reports.push_back(block);
  }
  return reports;
}

// The one report block of an upload that ended with `code`.
void ExpectOneReport(const TransferRig& rig, int code, terminal::ColourMark colour) {
  const auto reports = Reports(rig);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].text, transfer::ReportBlockFor(code)->text);
  EXPECT_EQ(reports[0].colour, colour);
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
  std::vector<Bytes> frames = SomeFrames();
};

class UploadSucceeds : public testing::TestWithParam<SuccessCase> {};

// Every behaviour of a loader that accepts the image ends with the frames at the target
// byte for byte and the blue success block.
TEST_P(UploadSucceeds, FramesArriveUnchanged) {
  TransferRig rig(Quick(GetParam().scenario));
  const auto& frames = GetParam().frames;
  WriteUrt(rig.dir / "image.urt", frames);
  EXPECT_EQ(rig.Upload(rig.dir / "image.urt"), std::vector<int>{1});
  rig.WaitForTargetFrames(frames.size());
  EXPECT_EQ(rig.target.PacketPhaseFrames(), frames);
  for (const auto& problem : rig.target.Problems()) ADD_FAILURE() << problem;
  ExpectOneReport(rig, 1, terminal::ColourMark::kBlue);
  EXPECT_FALSE(rig.transfer.State().running);
}

INSTANTIATE_TEST_SUITE_P(
    Loaders, UploadSucceeds,
    testing::Values(SuccessCase{"Normal", Scenario::kNormal},
                    SuccessCase{"ImageWithoutFrames", Scenario::kNormal, {}},
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
  WriteUrt(rig.dir / "image.urt", SomeFrames());
  EXPECT_EQ(rig.Upload(rig.dir / "image.urt"), std::vector<int>{GetParam().code});
  EXPECT_EQ(rig.target.PacketPhaseFrames().size(), GetParam().framesTaken);
  ExpectOneReport(rig, GetParam().code, terminal::ColourMark::kRed);
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

struct BadFrameCase {
  const char* name;
  Bytes badFrame;  // what follows one good frame in the file
  int code;
  std::uint32_t packetCount = 3;  // more than the file holds
};

class UploadBadFrame : public testing::TestWithParam<BadFrameCase> {};

// The frames before a bad one have been sent; the bad one is not. A count beyond the
// frames in the file ends at its end: nothing is sized by the count.
TEST_P(UploadBadFrame, EndsWithTheFrameError) {
  TransferRig rig(Quick(Scenario::kNormal));
  const Bytes good = DataFrame(2991, 9);  // 3000 bytes: the largest frame allowed
  WriteUrt(rig.dir / "bad.urt", {good, GetParam().badFrame}, GetParam().packetCount);
  EXPECT_EQ(rig.Upload(rig.dir / "bad.urt"), std::vector<int>{GetParam().code});
  rig.WaitForTargetFrames(1);
  EXPECT_EQ(rig.target.PacketPhaseFrames(), std::vector<Bytes>{good});
  ExpectOneReport(rig, GetParam().code, terminal::ColourMark::kRed);
}

Bytes EndingWith(Bytes frame, std::uint8_t last) {
  frame.back() = last;
  return frame;
}

Bytes CutShort(Bytes frame) {
  frame.resize(frame.size() / 2);
  return frame;
}

INSTANTIATE_TEST_SUITE_P(
    Frames, UploadBadFrame,
    testing::Values(BadFrameCase{"LargerThan3000", DataFrame(2992, 1), -2},
                    BadFrameCase{"NoHeaderStart", Bytes{0x01, 0, 0, 1, 0x41, 0, 0, 0, 0x41, 3}, -1},
                    BadFrameCase{"NoHeaderEnd", EndingWith(DataFrame(20, 3), 0x04), -3},
                    BadFrameCase{"CutShortByTheEndOfTheFile", CutShort(DataFrame(100, 2)), -3},
                    BadFrameCase{"NothingAfterTheLastFrame", {}, -1},
                    BadFrameCase{"HugeCount", {}, -1, 0xFFFFFFFF}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(Upload, ShortWriteEndsWithoutReportAndIsLogged) {
  TransferRig rig(Quick(Scenario::kAckThenEnqLater));  // no mode command
  WriteUrt(rig.dir / "image.urt", SomeFrames());
  rig.port.frameToCut = 3;  // who-am-I command, reply, then the first frame
  EXPECT_TRUE(rig.Upload(rig.dir / "image.urt").empty());
  EXPECT_EQ(rig.status.Entries().back(), "2:Short write: 54 of 109 bytes\r\n");
}

TEST(Upload, FilesThatCannotStartGiveTheirMessageAndNoReport) {
  TransferRig rig(Quick(Scenario::kNormal));
  EXPECT_TRUE(rig.Upload(rig.dir / "missing.urt").empty());
  WriteUrt(rig.dir / "not.urt", {});
  std::filesystem::resize_file(rig.dir / "not.urt", 1);
  EXPECT_TRUE(rig.Upload(rig.dir / "not.urt").empty());
  EXPECT_EQ(rig.view.seen.Get().messages,
            (std::vector<std::string>{"Tavrin 1.1|Error No: -3 \n File Access Error!!!",
                                      "Tavrin 1.1|Unable to upload\nGiven URT file is invalid."}));
  EXPECT_TRUE(Reports(rig).empty());
}

// One "no response" per deadline, also when the deadline runs past the hour; a Cancel
// while paused ends the pause wait with 23 and clears the pause.
TEST(Upload, SilentTargetGetsOneNoResponsePerDeadlineThenCancel) {
  TransferRig rig(Quick(Scenario::kSilent));
  rig.clock.Set(3590);
  WriteUrt(rig.dir / "image.urt", SomeFrames());
  rig.transfer.StartUpload(rig.dir / "image.urt");
  ASSERT_TRUE(rig.view.WaitForRefreshes(1, 5s));  // running, deadline noted
  rig.clock.Set(4);                               // 14 s later: not yet
  rig.clock.Set(5);                               // 15 s later
  ASSERT_TRUE(rig.view.WaitForResults(1, 5s));
  rig.clock.Set(30);
  EXPECT_FALSE(rig.view.WaitForResults(2, 300ms));  // one report per deadline
  rig.transfer.TogglePause();
  rig.transfer.Cancel();
  ASSERT_TRUE(rig.WaitForEnd());
  EXPECT_EQ(rig.view.Results(), (std::vector<int>{-4, 23}));
  EXPECT_FALSE(rig.transfer.State().pause);
  const auto reports = Reports(rig);
  ASSERT_EQ(reports.size(), 2u);
  EXPECT_EQ(reports[0].text, transfer::ReportBlockFor(-4)->text);
  EXPECT_EQ(reports[1].text, transfer::ReportBlockFor(23)->text);
}

TEST(Upload, AStartClearsPause) {
  TransferRig rig(Quick(Scenario::kNormal));
  WriteUrt(rig.dir / "image.urt", SomeFrames());
  rig.transfer.TogglePause();
  EXPECT_EQ(rig.Upload(rig.dir / "image.urt"), std::vector<int>{1});
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
