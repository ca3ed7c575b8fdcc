#include "app/output_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/temp_files.h"

namespace tavrin::app {
namespace {

using tavrin::test::AsBytes;

std::vector<std::string> Lines(const OutputText& text) {
  std::vector<std::string> lines;
  for (std::size_t i = 0; i < text.LineCount(); ++i) {
    const TextRange range = text.Line(i);
    lines.emplace_back(text.Bytes().substr(range.start, range.Length()));
  }
  return lines;
}

struct BreakRow {
  const char* name;
  std::vector<std::string> blocks;  // appended one after another
  std::vector<std::string> lines;
};

class LineBreakTest : public ::testing::TestWithParam<BreakRow> {};

TEST_P(LineBreakTest, CrLfAndCrLfEndLinesWhereverBlocksEnd) {
  OutputText text;
  std::string all;
  for (const auto& block : GetParam().blocks) {
    text.Append(AsBytes(block), ColourMark::kNone);
    all += block;
  }
  EXPECT_EQ(text.Bytes(), all);  // the bytes themselves are kept as they came
  EXPECT_EQ(Lines(text), GetParam().lines);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, LineBreakTest,
    ::testing::Values(BreakRow{"Empty", {}, {""}},
                      BreakRow{"CrLfSplit", {"a\r", "\nb"}, {"a", "b"}},
                      BreakRow{"LfCr", {"a\n\rb"}, {"a", "", "b"}},
                      BreakRow{"CrCrLf", {"a\r", "\r\n", "b"}, {"a", "", "b"}},
                      BreakRow{"EndsWithBreak", {"abc\r\n"}, {"abc", ""}},
                      BreakRow{"LongRunIsCut",
                               {std::string(kMaxLineBytes + 3, 'x') + "\r\nz"},
                               {std::string(kMaxLineBytes, 'x'), "xxx", "z"}},
                      BreakRow{"LongRunIsCutAfterABlank",
                               {std::string(kMaxLineBytes - 2, 'x') + " yyy"},
                               {std::string(kMaxLineBytes - 2, 'x') + " ", "yyy"}}),
    [](const ::testing::TestParamInfo<BreakRow>& row) { return std::string(row.param.name); });

TEST(OutputText, LineOfCountsABreakWithTheLineItEnds) {
  OutputText text;
  text.Append(AsBytes("ab\r\ncd"), ColourMark::kNone);
  EXPECT_EQ(text.LineOf(0), 0u);
  EXPECT_EQ(text.LineOf(3), 0u);  // the LF of "\r\n"
  EXPECT_EQ(text.LineOf(4), 1u);
  EXPECT_EQ(text.LineOf(6), 1u);  // the end of the text
}

TEST(OutputText, ColoursFollowTheBlocksAndClearForgetsThem) {
  OutputText text;
  text.Append(AsBytes("ab"), ColourMark::kNone);
  text.Append(AsBytes("cd"), ColourMark::kRed);
  text.Append(AsBytes("ef"), ColourMark::kRed);
  text.Append(AsBytes("gh"), ColourMark::kBlue);
  text.Append(AsBytes("ij"), ColourMark::kNone);
  EXPECT_EQ(text.ColoursIn({0, 10}),
            (std::vector<ColourSpan>{{{2, 6}, ColourMark::kRed}, {{6, 8}, ColourMark::kBlue}}));
  EXPECT_EQ(text.ColoursIn({5, 7}),
            (std::vector<ColourSpan>{{{5, 6}, ColourMark::kRed}, {{6, 7}, ColourMark::kBlue}}));
  EXPECT_EQ(text.ColourAt(8), ColourMark::kNone);  // text after a report: automatic again
  text.Clear();
  text.Append(AsBytes("kl"), ColourMark::kBlue);
  EXPECT_EQ(text.ColoursIn({0, 2}), (std::vector<ColourSpan>{{{0, 2}, ColourMark::kBlue}}));
  EXPECT_EQ(text.LineCount(), 1u);
}

TEST(DisplayCharTest, ByteIsShownAsLatin1WithControlsBlank) {
  const std::pair<std::uint8_t, char16_t> rows[] = {
      {0x00, u' '}, {0x09, u'\t'}, {0x1F, u' '}, {0x20, u' '},      {0x7E, u'~'},
      {0x7F, u' '}, {0x80, u' '},  {0x9F, u' '}, {0xA0, u'\u00A0'}, {0xFF, u'\u00FF'}};
  for (const auto& [byte, shown] : rows) {
    EXPECT_EQ(DisplayChar(byte), shown) << int{byte};
  }
}

}  // namespace
}  // namespace tavrin::app
