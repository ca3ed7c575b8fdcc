#include "terminal/terminal_screen.h"

#include <gtest/gtest.h>

#include <string>

namespace tavrin::terminal {
namespace {

// 8 x 16 pixel cells in a 400 x 300 client area: extents 90*8-400 = 320 and
// 500*16-300 = 7700.
constexpr int kWidth = 8;
constexpr int kHeight = 16;
constexpr int kHExtent = 320;
constexpr int kVExtent = 7700;

TerminalScreen SizedScreen(int horizontalOffset = 0, int verticalOffset = 0) {
  TerminalScreen screen;
  screen.SetFontMetrics(kWidth, kHeight);
  screen.Resize(400, 300);
  screen.Scroll(ScrollBar::kHorizontal, ScrollCode::kThumbPosition, horizontalOffset);
  screen.Scroll(ScrollBar::kVertical, ScrollCode::kThumbPosition, verticalOffset);
  return screen;
}

int Offset(const TerminalScreen& screen, ScrollBar bar) {
  return bar == ScrollBar::kVertical ? screen.VerticalOffset() : screen.HorizontalOffset();
}

struct ScrollRow {
  const char* name;
  ScrollBar bar;
  int start;
  ScrollCode code;
  int thumb;
  int offset;  // afterwards
};

class ScrollTest : public ::testing::TestWithParam<ScrollRow> {};

TEST_P(ScrollTest, StepsAndClampsWithinTheExtent) {
  const ScrollRow& row = GetParam();
  TerminalScreen screen = SizedScreen(row.bar == ScrollBar::kHorizontal ? row.start : 0,
                                      row.bar == ScrollBar::kVertical ? row.start : 0);
  ASSERT_EQ(Offset(screen, row.bar), row.start);
  EXPECT_EQ(screen.Scroll(row.bar, row.code, row.thumb), row.offset - row.start);
  EXPECT_EQ(Offset(screen, row.bar), row.offset);
}

constexpr auto kV = ScrollBar::kVertical;
constexpr auto kH = ScrollBar::kHorizontal;
using enum ScrollCode;

// The plain steps come through the keys below; these rows are the clamps and the codes that
// no key sends.
INSTANTIATE_TEST_SUITE_P(
    Rows, ScrollTest,
    ::testing::Values(ScrollRow{"PageDownNearBottomStopsThere", kV, 7600, kPageDown, 0, kVExtent},
                      ScrollRow{"ThumbBelowZero", kV, 40, kThumbPosition, -5, 0},
                      ScrollRow{"ThumbTrackingIgnored", kV, 0, kThumbTrack, 5000, 0},
                      ScrollRow{"LeftFromTheEnd", kH, kHExtent, kLineUp, 0, kHExtent - kWidth},
                      ScrollRow{"PageRightWiderThanTheExtent", kH, 0, kPageDown, 0, kHExtent}),
    [](const ::testing::TestParamInfo<ScrollRow>& row) { return std::string(row.param.name); });

struct KeyRow {
  const char* name;
  TerminalKey key;
  int horizontal;  // offsets afterwards, from 100 and 1000
  int vertical;
};

class KeyTableTest : public ::testing::TestWithParam<KeyRow> {};

TEST_P(KeyTableTest, KeysSendScrollRequests) {
  const KeyRow& row = GetParam();
  TerminalScreen screen = SizedScreen(100, 1000);
  EXPECT_EQ(screen.PressKey(row.key), (Point{row.horizontal - 100, row.vertical - 1000}));
  EXPECT_EQ(screen.HorizontalOffset(), row.horizontal);
  EXPECT_EQ(screen.VerticalOffset(), row.vertical);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, KeyTableTest,
    ::testing::Values(KeyRow{"PageUp", TerminalKey::kPageUp, 100, 700},
                      KeyRow{"PageDown", TerminalKey::kPageDown, 100, 1300},
                      KeyRow{"End", TerminalKey::kEnd, 100, kVExtent},
                      KeyRow{"Home", TerminalKey::kHome, 100, 0},
                      KeyRow{"Left", TerminalKey::kLeft, 92, 1000},
                      KeyRow{"Up", TerminalKey::kUp, 100, 984},
                      KeyRow{"Right", TerminalKey::kRight, 108, 1000},
                      KeyRow{"Down", TerminalKey::kDown, 100, 1016},
                      KeyRow{"OtherKeysAreSwallowed", TerminalKey::kOther, 100, 1000}),
    [](const ::testing::TestParamInfo<KeyRow>& row) { return std::string(row.param.name); });

struct ResizeRow {
  const char* name;
  int width;
  int height;
  int horizontalExtent;
  int verticalExtent;
  Point step;  // from offsets 320 and 7700 at 400 x 300
};

class ResizeTest : public ::testing::TestWithParam<ResizeRow> {};

TEST_P(ResizeTest, ExtentsFollowTheClientAndOffsetsStayInside) {
  const ResizeRow& row = GetParam();
  TerminalScreen screen = SizedScreen(kHExtent, kVExtent);
  EXPECT_EQ(screen.Resize(row.width, row.height), row.step);
  EXPECT_EQ(screen.HorizontalExtent(), row.horizontalExtent);
  EXPECT_EQ(screen.VerticalExtent(), row.verticalExtent);
  EXPECT_EQ(screen.HorizontalOffset(), kHExtent + row.step.x);
  EXPECT_EQ(screen.VerticalOffset(), kVExtent + row.step.y);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ResizeTest,
    ::testing::Values(ResizeRow{"ZeroSizeShowsNothing", 0, 0, 720, 8000, {0, 0}},
                      ResizeRow{"TallerPullsTheOffsetBack", 400, 600, kHExtent, 7400, {0, -300}},
                      ResizeRow{"LargerThanTheScreen", 1000, 9000, 0, 0, {-kHExtent, -kVExtent}}),
    [](const ::testing::TestParamInfo<ResizeRow>& row) { return std::string(row.param.name); });

TEST(TerminalScreen, PaintCoversTheCellsOfTheRectangle) {
  const TerminalScreen screen = SizedScreen(16, 160);  // rectangles: right, bottom exclusive
  EXPECT_EQ(screen.CellsToPaint(0, 0, 400, 300), (CellRange{10, 28, 2, 51}));
  EXPECT_EQ(screen.CellsToPaint(7, 15, 9, 17), (CellRange{10, 11, 2, 3}));
  EXPECT_EQ(screen.CellsToPaint(0, 0, 9000, 90000), (CellRange{10, 499, 2, 89}));
}

TEST(TerminalScreen, ClearPutsTheCaretCellOnTheLastRow) {
  TerminalScreen screen = SizedScreen(0, 160);
  ASSERT_TRUE(screen.FocusIn(true));
  EXPECT_EQ(screen.CaretPosition(true), (Point{0, -160}));
  screen.Clear();
  EXPECT_EQ(screen.RowText(499, 0, kScreenColumns), std::string(kScreenColumns, ' '));
  EXPECT_EQ(screen.CursorColumn(), 0);
  EXPECT_EQ(screen.CursorRow(), 499);
  EXPECT_EQ(screen.VerticalOffset(), 160);
  EXPECT_EQ(screen.CaretPosition(true), (Point{0, 499 * kHeight - 160}));
  // A new font then scrolls to the caret's row.
  screen.SetFontMetrics(10, 20);
  EXPECT_EQ(screen.VerticalOffset(), 499 * 20);
  EXPECT_EQ(screen.HorizontalOffset(), 0);
}

TEST(TerminalScreen, TheCaretExistsOnlyWhenFocusCameWhileConnected) {
  TerminalScreen screen = SizedScreen(16, 32);
  EXPECT_FALSE(screen.FocusIn(false));
  EXPECT_EQ(screen.CaretPosition(true), std::nullopt);  // connecting later shows none
  EXPECT_TRUE(screen.FocusIn(true));
  EXPECT_EQ(screen.CaretPosition(true), (Point{-16, -32}));
  EXPECT_EQ(screen.CaretPosition(false), std::nullopt);  // not moved while disconnected
  EXPECT_TRUE(screen.FocusIn(false));                    // kept until the focus leaves
  screen.FocusOut();
  EXPECT_FALSE(screen.CaretShown());
}

TEST(TerminalScreen, TypedCharactersSendTheirLowByteOnlyWhileConnected) {
  EXPECT_EQ(TypedByte(U'a', false), std::nullopt);
  EXPECT_EQ(TypedByte(U'a', true), 0x61);
  EXPECT_EQ(TypedByte(U'\r', true), 0x0D);
  EXPECT_EQ(TypedByte(U'\u00e9', true), 0xE9);
  // A character beyond U+00FF sends its low byte.
  EXPECT_EQ(TypedByte(U'\u20ac', true), 0xAC);
  EXPECT_EQ(TypedByte(U'\u0100', true), 0x00);
  EXPECT_EQ(TypedByte(U'\U0001F642', true), 0x42);
  EXPECT_EQ(TypedByte(U'\u20ac', false), std::nullopt);
}

}  // namespace
}  // namespace tavrin::terminal
