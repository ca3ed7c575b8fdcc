#include <gtest/gtest.h>

#include <QScrollBar>

#include "app/find_dialog.h"
#include "app/find_text.h"
#include "app/output_view.h"
#include "capture_view_support.h"
#include "qt_test_support.h"
#include "support/temp_files.h"

namespace tavrin::app {
namespace {

// A run of Find Next requests on one text: each request starts from the previous
// answer's selection (unchanged when nothing was found), as in the dialog.
struct FindRow {
  const char* name;
  std::string text;
  std::string find;
  bool matchCase;
  TextRange selection;  // before the first request
  std::vector<std::optional<TextRange>> answers;
};

class FindNextMatchTest : public ::testing::TestWithParam<FindRow> {};

TEST_P(FindNextMatchTest, StartsOnePastThePreviousMatch) {
  const FindRow& row = GetParam();
  TextRange selection = row.selection;
  bool started = false;
  for (const auto& expected : row.answers) {
    const auto match = FindNextMatch(row.text, row.find, {selection, row.matchCase}, started);
    EXPECT_EQ(match, expected);
    EXPECT_TRUE(started);
    if (match) selection = *match;
  }
}

const std::optional<TextRange> kNone;

INSTANTIATE_TEST_SUITE_P(
    Rows, FindNextMatchTest,
    ::testing::Values(
        FindRow{
            "Overlapping", "aaaa", "aa", true, {}, {{{0, 2}}, {{1, 3}}, {{2, 4}}, kNone, kNone}},
        FindRow{"MatchCaseOn", "Abc abc", "abc", true, {}, {{{4, 7}}, kNone}},
        FindRow{"MatchCaseOff", "Abc abc", "abc", false, {}, {{{0, 3}}, {{4, 7}}, kNone}},
        FindRow{
            "FromTheOperatorsSelection", "abc abc abc", "abc", true, {4, 7}, {{{4, 7}}, {{8, 11}}}},
        FindRow{"CaretAloneSearchesFromTheStart", "abc abc", "abc", true, {5, 5}, {{{0, 3}}}},
        // One past a one-character match is its end: the search starts again at 0.
        FindRow{"OneCharacterStartsOver", "xaxa", "a", true, {}, {{{1, 2}}, {{1, 2}}}},
        FindRow{"ControlBytesMatchAsBlanks", "a\021b", "a b", true, {}, {{{0, 3}}}}),
    [](const ::testing::TestParamInfo<FindRow>& row) { return std::string(row.param.name); });

TEST(FindText, BytesOfTheTextToFind) {
  EXPECT_EQ(FindTextBytes(QStringLiteral("caf\u00E9")), std::string("caf\xE9"));
  EXPECT_EQ(FindTextBytes(QStringLiteral("\u20AC")), std::nullopt);  // no byte shows as this
}

TEST(FindDialogTest, FindsOverlappingMatchesSaysWhenNoneIsLeftAndReopensWithMatchCase) {
  QWidget mainWindow;
  testing::CapturedView capture(&mainWindow);
  OutputView& output = capture.view;
  capture.Add("abcabcab");
  testing::FakePrompts prompts;
  FindDialog dialog(&output, prompts, &mainWindow);
  dialog.ShowFind();
  EXPECT_TRUE(dialog.MatchCaseBox()->isChecked());
  dialog.FindTextEdit()->setText(QStringLiteral("bcab"));
  dialog.FindNext();
  EXPECT_EQ(output.Selection(), (TextRange{1, 5}));
  dialog.FindNext();
  EXPECT_EQ(output.Selection(), (TextRange{4, 8}));
  dialog.FindNext();
  EXPECT_EQ(output.Selection(), (TextRange{4, 8}));  // unchanged
  ASSERT_EQ(prompts.messages.size(), 1u);
  EXPECT_EQ(prompts.messages[0].caption, "Tavrin");
  EXPECT_EQ(prompts.messages[0].text, "Cannot find \"bcab\" ");
  EXPECT_EQ(prompts.messages[0].icon, PromptIcon::kInformation);

  // Shown again while open, it keeps match case off; closed and shown again, it has match
  // case on again and offers the text.
  dialog.reject();
  dialog.ShowFind();
  output.SetSelection(0, 0);
  dialog.FindTextEdit()->setText(QStringLiteral("ABC"));
  dialog.MatchCaseBox()->setChecked(false);
  dialog.FindNext();
  EXPECT_EQ(output.Selection(), (TextRange{0, 3}));
  dialog.ShowFind();
  EXPECT_FALSE(dialog.MatchCaseBox()->isChecked());
  EXPECT_TRUE(dialog.FindStarted());
  dialog.reject();
  EXPECT_FALSE(dialog.FindStarted());
  dialog.ShowFind();
  EXPECT_TRUE(dialog.MatchCaseBox()->isChecked());
  EXPECT_EQ(dialog.FindTextEdit()->text(), "ABC");
}

// The text is searched in pieces of 4 MiB that overlap by the find text's length less one.
TEST(FindNextMatchInPieces, FindsAMatchAcrossTwoPiecesAndStopsWhenAsked) {
  constexpr std::size_t kPiece = 4 * 1024 * 1024;
  std::string text(kPiece + 100, 'x');
  text.replace(kPiece - 2, 5,
               "n\x17"
               "DLE");  // shown as "n DLE", across the pieces' seam
  bool started = false;
  const FindOutcome found = FindNextMatch(SourceOf(text), "n dle", {{}, false}, started);
  EXPECT_EQ(found.match, (TextRange{kPiece - 2, kPiece + 3}));
  started = false;
  EXPECT_EQ(FindNextMatch(SourceOf(text), "n dle", {{}, true}, started).match, std::nullopt);

  started = false;
  int calls = 0;
  const FindOutcome stopped = FindNextMatch(SourceOf(text), "absent", {{}, true}, started,
                                            [&](std::size_t, std::size_t) { return ++calls < 2; });
  EXPECT_TRUE(stopped.stopped);
  EXPECT_EQ(stopped.match, std::nullopt);
  EXPECT_TRUE(started);
}

// Find on a capture of many megabytes, from the end of it: the text near its start is
// found and brought on screen; a text that is nowhere gives the message.
TEST(FindDialogTest, FindsNearTheStartOfALargeCaptureFromItsEnd) {
  QWidget mainWindow;
  testing::CapturedView capture(&mainWindow);
  OutputView& output = capture.view;
  output.resize(400, 200);
  mainWindow.show();
  std::string lines;
  for (int i = 0; i < 700000; ++i) {
    lines += "boot " + std::to_string(i) + " ok\r\n";
    if (lines.size() > 1000000) {
      capture.Add(lines);
      lines.clear();
    }
  }
  capture.Add(lines);
  ASSERT_GT(output.Content().Size(), kLongWorkBytes);  // searched in pieces, with progress
  output.ScrollToEnd();
  testing::FakePrompts prompts;
  FindDialog dialog(&output, prompts, &mainWindow);
  dialog.ShowFind();
  dialog.FindTextEdit()->setText(QStringLiteral("BOOT 17 OK"));
  dialog.MatchCaseBox()->setChecked(false);
  dialog.FindNext();
  const std::size_t line = 17;
  EXPECT_EQ(output.Selection().start, output.Content().Line(line).start);
  EXPECT_LE(static_cast<std::size_t>(output.verticalScrollBar()->value()), line);
  EXPECT_FALSE(output.FollowsEnd());
  EXPECT_TRUE(prompts.messages.empty());

  dialog.FindTextEdit()->setText(QStringLiteral("boot 700000 ok"));
  dialog.FindNext();
  ASSERT_EQ(prompts.messages.size(), 1u);
  EXPECT_EQ(prompts.messages[0].text, "Cannot find \"boot 700000 ok\" ");
  EXPECT_EQ(output.Selection().start, output.Content().Line(line).start);
}

}  // namespace
}  // namespace tavrin::app
