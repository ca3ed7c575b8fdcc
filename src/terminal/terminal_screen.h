// TerminalScreen: the terminal screen window's state without the window. A 500 x 90
// character screen that only ever holds blanks, the caret cell, two scroll offsets in
// pixels and the arithmetic of sizing, scrolling, painting and the key table. The window
// exists to hold the keyboard focus and pass typed characters to the writer queue; the
// main window gives it no size, so none of this is normally seen.
//
// One instance, owned by the terminal screen widget; UI thread only.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace tavrin::terminal {

inline constexpr int kScreenRows = 500;
inline constexpr int kScreenColumns = 90;
inline constexpr char kBlank = 0x20;  // what the screen holds everywhere

enum class ScrollBar { kHorizontal, kVertical };

// Scroll request codes, as the scroll bars and the key table send them. Left and up share
// a code, as do right and down.
enum class ScrollCode : int {
  kLineUp = 0,  // line left on the horizontal bar
  kLineDown = 1,
  kPageUp = 2,
  kPageDown = 3,
  kThumbPosition = 4,  // the thumb was let go at a position
  kThumbTrack = 5,     // the thumb is being dragged: ignored, the view follows on release
  kTop = 6,
  kBottom = 7,
  kEndScroll = 8,  // end of a scroll-bar action: ignored
};

// The keys the window reacts to; every other key is swallowed (it may still type a
// character).
enum class TerminalKey { kPageUp, kPageDown, kEnd, kHome, kLeft, kUp, kRight, kDown, kOther };

// The byte a typed character puts in the writer queue: the low byte of its code, only
// while connected (a character beyond U+00FF sends its low byte too).
std::optional<std::uint8_t> TypedByte(char32_t character, bool connected);

// Cells a paint rectangle touches, inclusive; no rows when lastRow < firstRow.
struct CellRange {
  int firstRow;
  int lastRow;
  int firstColumn;
  int lastColumn;

  bool operator==(const CellRange&) const = default;
};

struct Point {
  int x;
  int y;

  bool operator==(const Point&) const = default;
};

class TerminalScreen {
 public:
  // Blanks everywhere, caret at column 0, row 0, no caret shown. The metrics start at
  // one pixel until a font is set.
  TerminalScreen();

  // The terminal font's metrics: character width = its average character width, line
  // height = character height + external leading (each at least 1). Resets the horizontal
  // offset to 0 and puts the vertical offset at the caret's row.
  void SetFontMetrics(int characterWidth, int lineHeight);

  // The Clear command: blanks everywhere and the caret cell at column 0, row 499. The
  // offsets stay where they are.
  void Clear();

  // Size handling for a new client size: both extents recomputed, offsets pulled back
  // inside them. Returns the steps taken (x, y), by which the view's contents move back.
  Point Resize(int width, int height);

  // One scroll request on `bar`; `thumbPosition` is read for kThumbPosition only. Returns
  // the step applied to the offset (0 when the code is ignored or the offset is already at
  // its limit).
  int Scroll(ScrollBar bar, ScrollCode code, int thumbPosition = 0);
  // The key table: the scroll the key sends, applied. Returns the steps taken (x, y);
  // nothing moves for other keys.
  Point PressKey(TerminalKey key);

  // Focus gained: the caret is created when connected and not yet there. Returns whether
  // the caret is shown afterwards.
  bool FocusIn(bool connected);
  // Focus lost: the caret is removed.
  void FocusOut();
  bool CaretShown() const { return caretShown_; }
  // Where the caret goes, in client pixels: the caret cell less the offsets; nullopt when
  // not connected or no caret is shown (the caret is then left where it was).
  std::optional<Point> CaretPosition(bool connected) const;

  // The cells a paint rectangle [left, right) x [top, bottom) in client pixels covers.
  CellRange CellsToPaint(int left, int top, int right, int bottom) const;
  // `count` characters of `row` from `column` (both within the screen).
  std::string_view RowText(int row, int column, int count) const;

  int CursorColumn() const { return cursorColumn_; }
  int CursorRow() const { return cursorRow_; }
  int CharacterWidth() const { return characterWidth_; }
  int LineHeight() const { return lineHeight_; }
  int ClientWidth() const { return clientWidth_; }
  int ClientHeight() const { return clientHeight_; }
  int HorizontalExtent() const { return horizontalExtent_; }
  int VerticalExtent() const { return verticalExtent_; }
  int HorizontalOffset() const { return horizontalOffset_; }
  int VerticalOffset() const { return verticalOffset_; }

 private:
  // One direction's numbers, so that both scroll procedures are one.
  struct Axis {
    int unit;     // line height or character width
    int client;   // client height or width
    int& offset;  // current scroll position
    int& extent;  // largest scroll position
  };
  Axis AxisOf(ScrollBar bar);

  std::array<char, kScreenRows * kScreenColumns> screen_;
  int cursorColumn_ = 0;
  int cursorRow_ = 0;
  int characterWidth_ = 1;
  int lineHeight_ = 1;
  int clientWidth_ = 0;
  int clientHeight_ = 0;
  int horizontalExtent_ = 0;
  int verticalExtent_ = 0;
  int horizontalOffset_ = 0;
  int verticalOffset_ = 0;
  bool caretShown_ = false;
};

}  // namespace tavrin::terminal
