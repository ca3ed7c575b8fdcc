#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "transfer/report_texts.h"
#include "transfer_rig.h"

namespace tavrin::test {
namespace {

using sim::Scenario;
using enum sim::Scenario;
using transfer::ReportBlockFor;

std::vector<Bytes> SomeFrames() {
  return {DataFrame(100, 1), DataFrame(2991, 2), DataFrame(1, 3), DataFrame(500, 0x05)};
}

const Bytes kLargest = DataFrame(2991, 9);  // 3000 bytes: the largest frame allowed

// The report blocks captured (among received text) are those of `codes`, success blue.
void ExpectReports(const TransferRig& rig, const std::vector<int>& codes) {
  using Report = std::pair<std::string, terminal::ColourMark>;
  std::vector<Report> reports, expected;
  for (const auto& block : rig.capture.Blocks()) {
    if (block.bytes.find("<==========") != std::string::npos)
      reports.push_back({block.bytes, block.colour});
  }
  for (int code : codes) {
    expected.push_back({ReportBlockFor(code)->text,
                        code == 1 ? terminal::ColourMark::kBlue : terminal::ColourMark::kRed});
  }
  EXPECT_EQ(reports, expected);
}

struct UploadCase {
  const char* name;
  Scenario scenario;
  int code;
  std::size_t framesTaken;  // the first of `frames`
  std::vector<Bytes> frames = SomeFrames();
  std::uint32_t packetCount = 0;  // 0: the frames in the file
  std::size_t problems = 0;       // the target's complaints about what it got
};

class UploadEnds : public testing::TestWithParam<UploadCase> {};

// The frames before a refusal or a bad frame go out unchanged; none is sized by a count.
TEST_P(UploadEnds, WithItsReport) {
  const UploadCase& row = GetParam();
  TransferRig rig(QuickTarget({}, row.scenario));
  const auto count = row.packetCount ? row.packetCount : row.frames.size();
  WriteUrt(rig.dir / "image.urt", row.frames, static_cast<std::uint32_t>(count));
  EXPECT_EQ(rig.Upload(rig.dir / "image.urt"), std::vector<int>{row.code});
  rig.WaitForTargetFrames(row.framesTaken);
  const auto taken = row.frames.begin() + static_cast<std::ptrdiff_t>(row.framesTaken);
  EXPECT_EQ(rig.target.PacketPhaseFrames(), std::vector<Bytes>(row.frames.begin(), taken));
  EXPECT_THAT(rig.target.Problems(), testing::SizeIs(row.problems));
  ExpectReports(rig, {row.code});
  EXPECT_FALSE(rig.transfer.State().running);
}

INSTANTIATE_TEST_SUITE_P(
    Uploads, UploadEnds,
    testing::Values(
        UploadCase{"Normal", kNormal, 1, 4}, UploadCase{"ImageWithoutFrames", kNormal, 1, 0, {}},
        UploadCase{"AckThenEnqLater", kAckThenEnqLater, 1, 4},
        UploadCase{"AckEnqBurstGetsModeCommandFirst", kAckEnqBurst, 1, 4},
        UploadCase{"AnswerSplitAcrossWrites", kSplitAnswer, 1, 4},
        UploadCase{"WrongIdentityThenRight", kWrongIdentityFirst, 1, 4},
        UploadCase{"NakEndsAttention", kNakAtAttention, 1, 4},
        UploadCase{"AnswerEndingIn04IsNoRefusal", kAnswerEndsWithEot, 1, 4},
        UploadCase{"EotWhileReadyIsIgnored", kEotAfterEnq, 1, 4},
        UploadCase{
            "WrongSumIsSentUnchecked", kNormal, 1, 1, {{2, 0, 0, 1, 0x41, 0, 0, 0, 0, 3}}, 0, 1},
        UploadCase{"SameVersionAtAttention", kRefuseEot, 4, 0},
        UploadCase{"WaitingAtAttention", kRefuseDc3, 19, 0},
        UploadCase{"TerminatedAtAttention", kRefuseEtb, 23, 0},
        UploadCase{"SameVersionAfterFrames", kRefuseEotAfterFrames, 4, 2},
        UploadCase{"WaitingAfterFrames", kRefuseDc3AfterFrames, 19, 2},
        UploadCase{"TerminatedAfterFrames", kRefuseEtbAfterFrames, 23, 2},
        UploadCase{"LargerThan3000", kNormal, -2, 1, {kLargest, DataFrame(2992, 1)}},
        UploadCase{"LengthFFFFFF", kNormal, -2, 1, {kLargest, {2, 0xFF, 0xFF, 0xFF, 1}}},
        UploadCase{"NoHeaderStart", kNormal, -1, 1, {kLargest, {1, 0, 0, 1, 0x41, 3}}},
        UploadCase{"FewerThanFourBytes", kNormal, -1, 1, {kLargest, {2, 0}}},
        UploadCase{"NoHeaderEnd", kNormal, -3, 1, {kLargest, {2, 0, 0, 1, 0x41, 0, 0, 0, 0x41, 4}}},
        UploadCase{"NoHeaderEndWith03Inside",
                   kNormal,
                   -3,
                   1,
                   {kLargest, {2, 0, 0, 2, 3, 3, 0, 0, 0, 6, 0}}},
        UploadCase{"CutShortByTheEndOfTheFile", kNormal, -3, 1, {kLargest, {2, 0, 0, 10, 1, 2}}},
        UploadCase{"NothingAfterTheLastFrame", kNormal, -1, 1, {kLargest}, 3},
        UploadCase{"HugeCount", kNormal, -1, 1, {kLargest}, 0xFFFFFFFF}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(Upload, ShortWriteEndsWithoutReportAndIsLogged) {
  TransferRig rig(QuickTarget({}, kAckThenEnqLater));  // no mode command
  WriteUrt(rig.dir / "image.urt", SomeFrames());
  rig.damage = {.size = 109, .nth = 1, .cut = true};  // the first frame
  EXPECT_TRUE(rig.Upload(rig.dir / "image.urt").empty());
  EXPECT_EQ(rig.status.Entries().back(), "2:Short write: 54 of 109 bytes\r\n");
}

TEST(Upload, FilesThatCannotStartGiveTheirMessageAndNoReport) {
  TransferRig rig(QuickTarget());
  EXPECT_TRUE(rig.Upload(rig.dir / "missing.urt").empty());
  WriteUrt(rig.dir / "not.urt", {});
  std::filesystem::resize_file(rig.dir / "not.urt", 1);
  EXPECT_TRUE(rig.Upload(rig.dir / "not.urt").empty());
  EXPECT_EQ(rig.view.seen.Get().messages,
            (std::vector<std::string>{"Tavrin 1.1|Error No: -3 \n File Access Error!!!",
                                      "Tavrin 1.1|Unable to upload\nGiven URT file is invalid."}));
  ExpectReports(rig, {});
}

// One -4 per deadline, also past the hour; a cancel ends the pause wait and clears it.
TEST(Upload, SilentTargetGetsOneNoResponsePerDeadlineThenCancel) {
  TransferRig rig(QuickTarget({}, kSilent));
  rig.clock.now = 3590;
  WriteUrt(rig.dir / "image.urt", SomeFrames());
  rig.transfer.StartUpload(rig.dir / "image.urt");
  ASSERT_TRUE(rig.view.seen.WaitFor([](const auto& seen) { return seen.refreshes > 0; }, 5s));
  rig.clock.now = 4;  // 14 s later: not yet
  rig.clock.now = 5;  // 15 s later
  ASSERT_TRUE(rig.view.WaitForResults(1, 5s));
  rig.clock.now = 30;
  EXPECT_FALSE(rig.view.WaitForResults(2, 300ms));  // one report per deadline
  rig.transfer.TogglePause();
  rig.transfer.Cancel();
  ASSERT_TRUE(rig.WaitForEnd());
  EXPECT_EQ(rig.view.Results(), (std::vector<int>{-4, 23}));
  EXPECT_FALSE(rig.transfer.State().pause);
  ExpectReports(rig, {-4, 23});
}

TEST(Upload, AStartClearsPause) {
  TransferRig rig(QuickTarget());
  WriteUrt(rig.dir / "image.urt", SomeFrames());
  rig.transfer.TogglePause();
  EXPECT_EQ(rig.Upload(rig.dir / "image.urt"), std::vector<int>{1});
}

TEST(ReceiveDispatcher, BlanksProtocolBytesAlsoWithoutATransfer) {
  TransferRig rig(QuickTarget({}, kSilent));
  Bytes block{'o', 'k', 0x06, 0x05, 0x00, 0x04, 0x11, 0x13, 0x15, 0x17, 0x91, 0x99, 0x02, '!'};
  rig.dispatcher.OutputABuffer(block);
  EXPECT_EQ(rig.capture.Text(), std::string("ok          \x02!"));
  rig.dispatcher.OutputABuffer({});
  EXPECT_EQ(rig.errors.DebugLines().back(), "NULL Buffer in OutputABuffer\n\r");
}

}  // namespace
}  // namespace tavrin::test
