#include "serial/com_test.h"

#include <gtest/gtest.h>

#include "support/temp_files.h"

namespace tavrin::serial {
namespace {

using namespace std::string_literals;
using tavrin::test::AsBytes;

// The frame's bytes and the refusal of a too-long text are checked through the COM test
// dialog; a port that takes less than the frame is told apart from a sent one here.
TEST(SendTestFrame, SaysWhenThePortTookLessThanTheFrame) {
  const auto write = [](std::span<const std::uint8_t> bytes) { return bytes.size() - 1; };
  EXPECT_EQ(SendTestFrame("abc", write), TestSendResult::kShortWrite);
}

class RecordingView : public ComTestView {
 public:
  void ShowReceived(std::vector<std::uint8_t> payload) override {
    shown.emplace_back(payload.begin(), payload.end());
  }
  std::vector<std::string> shown;
};

// Noise before a start, a length and a payload split over blocks are shown through the
// COM test dialog; the fuzzer compares every split with a model of the receiver.
TEST(ComTest, ShowsThePayloadOfEachFrameThatCompletes) {
  // clang-format off
  const struct {
    const char* name;
    std::vector<std::string> blocks;
    std::vector<std::string> shown;
  } rows[] = {
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
