#include "app/output_text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "support/temp_files.h"

namespace tavrin::app {
namespace {

// An OutputText over a file of its own that the test appends to, as the capture log does.
class FileText {
 public:
  FileText() {
    test::WriteFile(path_, "");
    text.SetFile(CaptureReader::Open(path_));
  }
  void Append(const std::string& bytes, ColourMark colour = ColourMark::kNone) {
    std::ofstream(path_, std::ios::binary | std::ios::app)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    text.Append(bytes.size(), colour);
  }
  std::vector<std::string> Lines() const {
    std::vector<std::string> lines;
    for (std::size_t i = 0; i < text.LineCount(); ++i) lines.push_back(text.Read(text.Line(i)));
    return lines;
  }

  OutputText text;

 private:
  test::TempDir dir_;
  std::filesystem::path path_ = dir_ / "capture";
};

struct BreakRow {
  const char* name;
  std::vector<std::string> blocks;  // appended one after another
  std::vector<std::string> lines;
};

class LineBreakTest : public ::testing::TestWithParam<BreakRow> {};

TEST_P(LineBreakTest, CrLfAndCrLfEndLinesWhereverBlocksEnd) {
  FileText file;
  std::string all;
  for (const auto& block : GetParam().blocks) {
    file.Append(block);
    all += block;
  }
  EXPECT_EQ(file.text.ReadAll(), all);  // the bytes themselves are read as they came
  EXPECT_EQ(file.Lines(), GetParam().lines);
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
  FileText file;
  file.Append("ab\r\ncd");
  const OutputText& text = file.text;
  EXPECT_EQ(text.LineOf(0), 0u);
  EXPECT_EQ(text.LineOf(3), 0u);  // the LF of "\r\n"
  EXPECT_EQ(text.LineOf(4), 1u);
  EXPECT_EQ(text.LineOf(6), 1u);  // the end of the text
}

// The rule byte by byte, as plainly as it can be put: where each line starts (a CR LF
// moves the start after the CR on by one; a full line goes on after its last blank among
// the 64 bytes before the cut), and each line without its break.
std::vector<TextRange> ReferenceLines(const std::string& bytes) {
  std::vector<std::size_t> starts{0};
  bool lastWasCr = false;
  for (std::size_t offset = 0; offset < bytes.size(); ++offset) {
    const char byte = bytes[offset];
    const bool completesCrLf = lastWasCr && byte == '\n';
    lastWasCr = byte == '\r';
    if (completesCrLf) {
      starts.back() = offset + 1;
    } else if (byte == '\n' || byte == '\r') {
      starts.push_back(offset + 1);
    } else if (offset - starts.back() >= kMaxLineBytes) {
      const std::size_t lookFrom =
          std::max(starts.back() + 1, offset - std::min<std::size_t>(offset, 64));
      std::size_t cut = offset;
      for (std::size_t i = offset; i-- > lookFrom;) {
        if (bytes[i] == ' ') {
          cut = i + 1;
          break;
        }
      }
      starts.push_back(cut);
    }
  }
  std::vector<TextRange> lines;
  for (std::size_t i = 0; i < starts.size(); ++i) {
    std::size_t end = i + 1 < starts.size() ? starts[i + 1] : bytes.size();
    if (i + 1 < starts.size()) {
      if (end > starts[i] && bytes[end - 1] == '\n') --end;
      if (end > starts[i] && bytes[end - 1] == '\r') --end;
    }
    lines.push_back({starts[i], end});
  }
  return lines;
}

// Lines found as the text came in pieces of any size, and found again from the file block
// by block, are the lines of the rule: text of every kind of break and of long runs with
// and without blanks, many blocks long.
TEST(OutputText, LinesReadAgainFromTheFileAreTheLinesFoundAsTheTextCame) {
  std::mt19937 random(11);
  std::string all;
  std::uniform_int_distribution<int> kind(0, 9);
  while (all.size() < 3 * 1024 * 1024) {
    switch (kind(random)) {
      case 0:
        all += std::string(kMaxLineBytes + random() % 300, 'x');  // cut for length
        break;
      case 1:
        all += std::string(random() % 3000, 'w') + " " + std::string(random() % 100, 'v');
        break;
      case 4:
        for (std::size_t n = random() % 6000; n > 0; --n) all += "ab \t"[random() % 4];
        break;
      case 2:
        all += "\r";
        break;
      case 3:
        all += "\n\r";
        break;
      default:
        all += "text " + std::to_string(random()) + "\r\n";
        break;
    }
  }
  const std::vector<TextRange> expected = ReferenceLines(all);

  FileText file;
  std::uniform_int_distribution<std::size_t> piece(1, 5000);
  for (std::size_t at = 0; at < all.size();) {
    const std::size_t n = std::min(piece(random), all.size() - at);
    file.Append(all.substr(at, n));
    at += n;
  }
  const OutputText& text = file.text;
  ASSERT_EQ(text.LineCount(), expected.size());
  ASSERT_GT(text.LineCount(), 8 * kLinesPerBlock);
  std::vector<std::size_t> order(expected.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::shuffle(order.begin(), order.end(), random);
  for (const std::size_t i : order) {
    ASSERT_EQ(text.Line(i), expected[i]) << "line " << i;
    ASSERT_EQ(text.LineOf(expected[i].start), i) << "line " << i;
  }
}

TEST(OutputText, ColoursFollowTheBlocksAndClearForgetsThem) {
  FileText file;
  file.Append("ab");
  file.Append("cd", ColourMark::kRed);
  file.Append("ef", ColourMark::kRed);
  file.Append("gh", ColourMark::kBlue);
  file.Append("ij");
  const OutputText& text = file.text;
  EXPECT_EQ(text.ColoursIn({0, 10}),
            (std::vector<ColourSpan>{{{2, 6}, ColourMark::kRed}, {{6, 8}, ColourMark::kBlue}}));
  EXPECT_EQ(text.ColoursIn({5, 7}),
            (std::vector<ColourSpan>{{{5, 6}, ColourMark::kRed}, {{6, 7}, ColourMark::kBlue}}));
  EXPECT_EQ(text.ColourAt(8), ColourMark::kNone);  // text after a report: automatic again
  file.text.Clear();
  EXPECT_EQ(text.Size(), 0u);
  EXPECT_EQ(text.LineCount(), 1u);
  EXPECT_EQ(text.ColoursIn({0, 2}), (std::vector<ColourSpan>{}));
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
