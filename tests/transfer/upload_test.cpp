#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "transfer/crc32.h"
#include "transfer/report_texts.h"
#include "transfer/urt_file.h"
#include "transfer_rig.h"

namespace tavrin::test {
namespace {

using namespace transfer;
using enum sim::Scenario;

const std::vector<Bytes> kSomeFrames{DataFrame(100, 1), DataFrame(2991, 2), DataFrame(1, 3),
                                     DataFrame(500, 0x05)};

const Bytes kLargest = DataFrame(2991, 9);  // 3000 bytes: the largest frame allowed

// The report blocks captured (among received text) are those of `codes`, success blue.
void ExpectReports(const TransferRig& rig, const std::vector<int>& codes) {
  using enum terminal::ColourMark;
  std::vector<std::pair<std::string, terminal::ColourMark>> reports, expected;
  for (const auto& block : rig.capture.Blocks()) {
    if (block.bytes.find("<==========") != std::string::npos)
      reports.emplace_back(block.bytes, block.colour);
  }
  for (int code : codes)
    expected.emplace_back(ReportBlockFor(code)->text, code == 1 ? kBlue : kRed);
  EXPECT_EQ(reports, expected);
}

struct UploadCase {
  const char* name;
  sim::Scenario scenario;
  int code;
  std::size_t framesTaken;  // the first of `frames`
  std::vector<Bytes> frames = kSomeFrames;
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
  // Success is reported once the last frame is written, before the target has read it.
  rig.target.WaitForPacketPhaseFrames(row.framesTaken, 5s);
  rig.target.Stop();  // its checks of the last frame are done once it has stopped
  const auto taken = row.frames.begin() + static_cast<std::ptrdiff_t>(row.framesTaken);
  EXPECT_EQ(rig.target.PacketPhaseFrames(), std::vector<Bytes>(row.frames.begin(), taken));
  EXPECT_THAT(rig.target.Problems(), testing::SizeIs(row.problems));
  ExpectReports(rig, {row.code});
  EXPECT_FALSE(rig.transfer.State().running);
}

INSTANTIATE_TEST_SUITE_P(
    Uploads, UploadEnds,
    testing::Values(
        UploadCase{"ImageWithoutFrames", kNormal, 1, 0, {}},
        UploadCase{"AckThenEnqLater", kAckThenEnqLater, 1, 4},
        UploadCase{"AckEnqBurstGetsModeCommandFirst", kAckEnqBurst, 1, 4},
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
        UploadCase{"LargerThan3000", kNormal, -2, 1, {kLargest, DataFrame(2992, 1)}},
        UploadCase{"NoHeaderStart", kNormal, -1, 1, {kLargest, {1, 0, 0, 1, 0x41, 3}}},
        UploadCase{"NoHeaderEndWith03Inside",
                   kNormal,
                   -3,
                   1,
                   {kLargest, {2, 0, 0, 2, 3, 3, 0, 0, 0, 6, 0}}},
        UploadCase{"CutShortByTheEndOfTheFile", kNormal, -3, 1, {kLargest, {2, 0, 0, 10, 1, 2}}},
        UploadCase{"HugeCount", kNormal, -1, 1, {kLargest}, 0xFFFFFFFF}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(Upload, ShortWriteEndsWithoutReportAndIsLogged) {
  TransferRig rig(QuickTarget({}, kAckThenEnqLater));  // no mode command
  WriteUrt(rig.dir / "image.urt", kSomeFrames);
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
  WriteUrt(rig.dir / "wrong-magic.urt", {});
  Bytes wrongMagic = ReadBytes(rig.dir / "wrong-magic.urt");
  wrongMagic.at(1) ^= 0x01;
  WriteFile(rig.dir / "wrong-magic.urt", std::string(wrongMagic.begin(), wrongMagic.end()));
  EXPECT_TRUE(rig.Upload(rig.dir / "wrong-magic.urt").empty());
  const std::string invalid = "Tavrin 1.1|Unable to upload\nGiven URT file is invalid.";
  EXPECT_EQ(rig.view.seen.Get().messages,
            (std::vector<std::string>{"Tavrin 1.1|Error No: -3 \n File Access Error!!!", invalid,
                                      invalid}));
  ExpectReports(rig, {});
}

// One -4 per deadline, also past the hour; a cancel after a pause still ends with 23.
TEST(Upload, SilentTargetGetsOneNoResponsePerDeadlineThenCancel) {
  TransferRig rig(QuickTarget({}, kSilent));
  rig.clock.now = 3590;
  WriteUrt(rig.dir / "image.urt", kSomeFrames);
  rig.transfer.StartUpload(rig.dir / "image.urt");
  ASSERT_TRUE(rig.view.seen.WaitFor([](const auto& seen) { return seen.refreshes > 0; }, 5s));
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

// Each frame the target asks for renews the deadline: an upload that takes longer than
// the deadline in all, each frame answered at once, reports no -4. The clock moves 6 s
// with every frame, so the third frame after a deadline that was not renewed is late.
TEST(Upload, EachFrameSentRenewsTheDeadline) {
  TransferRig rig(QuickTarget());
  std::vector<Bytes> frames;
  for (std::uint8_t seed = 0; seed < 8; ++seed) frames.push_back(DataFrame(200, seed));
  WriteUrt(rig.dir / "image.urt", frames);
  rig.beforeWrite = [&rig, frameSize = frames[0].size()](std::span<const std::uint8_t> bytes) {
    if (bytes.size() == frameSize) rig.clock.now += 6;
  };
  EXPECT_EQ(rig.Upload(rig.dir / "image.urt"), std::vector<int>{1});
  EXPECT_GE(rig.clock.SecondOfHour(), 100 + 8 * 6);  // 48 s for the frames
  ExpectReports(rig, {1});
}

TEST(Upload, AStartClearsPause) {
  TransferRig rig(QuickTarget());
  WriteUrt(rig.dir / "image.urt", kSomeFrames);
  rig.transfer.TogglePause();
  EXPECT_EQ(rig.Upload(rig.dir / "image.urt"), std::vector<int>{1});
}

TEST(ReceiveDispatcher, AnEmptyBlockIsOnlyNoted) {
  TransferRig rig(QuickTarget({}, kSilent));
  rig.dispatcher.OutputABuffer({});
  EXPECT_EQ(rig.errors.DebugLines().back(), "NULL Buffer in OutputABuffer\n\r");
}

// Id2 then Id1 must match; the Id3 bytes after them are not compared.
TEST(WhoAmI, MatchesId2ThenId1AndIgnoresTheRest) {
  const Identity identity{{0x11, 0x22, 0x33, 0x44}, {0x55, 0x66, 0x77}, {0x88, 0x99, 0xAA, 0xBB}};
  std::array<std::uint8_t, 11> answer{0x55, 0x66, 0x77, 0x11, 0x22, 0x33, 0x44, 1, 2, 3, 4};
  EXPECT_TRUE(VerifyWhoAmIAnswer(answer, identity));
  answer[6] = 0x45;
  EXPECT_FALSE(VerifyWhoAmIAnswer(answer, identity));
}

// The colours are checked with the uploads that end with them.
TEST(ReportBlocks, TextsAreExact) {
  constexpr const char* kFooter = "<==================================>\r\n";
  EXPECT_EQ(ReportBlockFor(-1)->text, std::string("\r\n<========== Error ( -1 ) ==========>\r\n"
                                                  "   Problem : Invalid HeaderStart\n"
                                                  "   Solution: Regenerate UART File\n") +
                                          kFooter);
  EXPECT_EQ(ReportBlockFor(-2)->text,
            std::string("\r\n<========== Error ( -2 ) ==========>\r\n"
                        "   Problem : Packet size greater than 3000.  Tavrin does't support it\r\n"
                        "   Solution: Regenerate UART File\r\n") +
                kFooter);
  EXPECT_EQ(ReportBlockFor(-4)->text,
            std::string("\r\n<========== Error ( -4 ) ==========>\r\n"
                        "   Problem : No response from TARGET\r\n"
                        "   Solution: Make sure Target Loader is running properly\r\n"
                        "\t   Connect your Serial Cabel Properly\r\n"
                        "\t   Port Settings are not Correct \r\n"
                        "\t   Retransmit UART File after Restarting the TARGET\r\n") +
                kFooter);
  EXPECT_EQ(ReportBlockFor(23)->text,
            std::string("\r\n<========== Terminated by user ==========>\r\n"
                        "   Please Switch Off the Board and then Transmit\r\n") +
                kFooter);
  EXPECT_EQ(ReportBlockFor(1)->text, "\r\n<========== Upload Success ==========>\r\n");
  EXPECT_FALSE(ReportBlockFor(0));
  EXPECT_FALSE(ReportBlockFor(5));
  for (int code : {-1, -2, -3, -4, 1, 2, 3, 4, 19, 23}) {
    EXPECT_LT(ReportBlockFor(code)->text.size(), 1024u) << code;
  }
}

TEST(Crc32Mpeg2, KnownCheckValueAndZeroPadding) {
  const std::string check = "123456789";
  EXPECT_EQ(
      Crc32Mpeg2::Of(std::span(reinterpret_cast<const std::uint8_t*>(check.data()), check.size())),
      0x0376E6E7u);
  Crc32Mpeg2 padded;
  padded.Update(Bytes{1, 2});
  padded.UpdateZeros(3);
  EXPECT_EQ(padded.Value(), Crc32Mpeg2::Of(Bytes{1, 2, 0, 0, 0}));
}

}  // namespace
}  // namespace tavrin::test
