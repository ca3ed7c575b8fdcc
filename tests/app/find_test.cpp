#include <gtest/gtest.h>

#include "app/find_dialog.h"
#include "app/find_text.h"
#include "app/output_view.h"
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
  OutputView output(&mainWindow);
  output.Append(tavrin::test::AsBytes("abcabcab"), ColourMark::kNone);
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

}  // namespace
}  // namespace tavrin::app
