#include "serial/com_test.h"

#include <gtest/gtest.h>

#include "support/temp_files.h"

namespace tavrin::serial {
namespace {

using namespace std::string_literals;
using tavrin::test::AsBytes;

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

TEST(ComTest, ShowsThePayloadOfEachFrameThatCompletes) {
  // clang-format off
  const struct {
    const char* name;
    std::vector<std::string> blocks;
    std::vector<std::string> shown;
  } rows[] = {
      {"one block", {"\x02\x00\x03" "abc\x03"s}, {"abc"}},
      {"split over three blocks", {"\x02\x00"s, "\x05he", "llo\x03"}, {"hello"}},
      {"length split", {"\x02", "\x00"s, "\x02ok\x03"}, {"ok"}},
      {"noise before the start", {"xyz\x02\x00\x02hi\x03"s}, {"hi"}},
      {"block without start dropped", {"abc", "\x02\x00\x01q"s}, {"q"}},
      {"second frame in the same block not shown",
       {"\x02\x00\x01" "a\x03\x02\x00\x01" "b\x03"s, "\x02\x00\x01" "c\x03"s}, {"a", "c"}},
      {"empty frame shows nothing", {"\x02\x00\x00\x03"s, "\x02\x00\x01z\x03"s}, {"z"}},
      {"start byte inside the payload", {"\x02\x00\x03" "a\x02" "b\x03"s}, {"a\x02" "b"}},
      {"incomplete frame waits", {"\x02\x01\x00" "abc"s}, {}}};
  // clang-format on
  for (const auto& row : rows) {
    RecordingView view;
    ComTest comTest(view);
    for (const std::string& block : row.blocks) comTest.ComTestReceive(AsBytes(block));
    EXPECT_EQ(view.shown, row.shown) << row.name;
  }
}

}  // namespace
}  // namespace tavrin::serial
