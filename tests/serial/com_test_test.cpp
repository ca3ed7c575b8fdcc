#include "serial/com_test.h"

#include <gtest/gtest.h>

#include "support/temp_files.h"

namespace tavrin::serial {
namespace {

using namespace std::string_literals;

// The frame's bytes are checked through the COM test dialog as well.
TEST(SendTestFrame, FramesTheTextSendsNothingForATooLongOneAndSaysWhenThePortTookLess) {
  EXPECT_EQ(EncodeTestFrame("a\r\nb"),
            (std::vector<std::uint8_t>{0x02, 0x00, 0x04, 'a', '\r', '\n', 'b', 0x03}));
  const auto longest = EncodeTestFrame(std::string(3000, 'x'));
  ASSERT_TRUE(longest.has_value());
  EXPECT_EQ(std::vector<std::uint8_t>(longest->begin(), longest->begin() + 3),
            (std::vector<std::uint8_t>{0x02, 0x0B, 0xB8}));
  EXPECT_EQ(longest->size(), 3004u);
  int writes = 0;
  const auto write = [&](std::span<const std::uint8_t> bytes) {
    ++writes;
    return bytes.size() - 1;
  };
  EXPECT_EQ(SendTestFrame(std::string(3001, 'x'), write), TestSendResult::kTooLong);
  EXPECT_EQ(writes, 0);
  EXPECT_EQ(SendTestFrame("abc", write), TestSendResult::kShortWrite);
  EXPECT_EQ(writes, 1);
}

class RecordingView : public ComTestView {
 public:
  void ShowReceived(std::vector<std::uint8_t> payload) override {
    shown.emplace_back(payload.begin(), payload.end());
  }
  std::vector<std::string> shown;
};

struct ReceiveRow {
  std::string name;
  std::vector<std::string> blocks;
  std::vector<std::string> shown;
};

class ComTestReceiveTest : public testing::TestWithParam<ReceiveRow> {};

TEST_P(ComTestReceiveTest, ShowsThePayloadOfEachFrameThatCompletes) {
  RecordingView view;
  ComTest comTest(view);
  for (const std::string& block : GetParam().blocks) {
    comTest.ComTestReceive(tavrin::test::AsBytes(block));
  }
  EXPECT_EQ(view.shown, GetParam().shown);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Blocks, ComTestReceiveTest, testing::Values(
    ReceiveRow{"OneBlock", {"\x02\x00\x03" "abc\x03"s}, {"abc"}},
    ReceiveRow{"SplitOverThreeBlocks", {"\x02\x00"s, "\x05he", "llo\x03"}, {"hello"}},
    ReceiveRow{"LengthSplit", {"\x02", "\x00"s, "\x02ok\x03"}, {"ok"}},
    ReceiveRow{"NoiseBeforeTheStart", {"xyz\x02\x00\x02hi\x03"s}, {"hi"}},
    ReceiveRow{"BlockWithoutStartDropped", {"abc", "\x02\x00\x01q"s}, {"q"}},
    ReceiveRow{"SecondFrameInTheSameBlockNotShown",
               {"\x02\x00\x01" "a\x03\x02\x00\x01" "b\x03"s, "\x02\x00\x01" "c\x03"s}, {"a", "c"}},
    ReceiveRow{"EmptyFrameShowsNothing", {"\x02\x00\x00\x03"s, "\x02\x00\x01z\x03"s}, {"z"}},
    ReceiveRow{"StartByteInsideThePayload", {"\x02\x00\x03" "a\x02" "b\x03"s}, {"a\x02" "b"}},
    ReceiveRow{"IncompleteFrameWaits", {"\x02\x01\x00" "abc"s}, {}}),
    [](const auto& row) { return row.param.name; });
// clang-format on

}  // namespace
}  // namespace tavrin::serial
