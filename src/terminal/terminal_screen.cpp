#include "terminal/terminal_screen.h"

#include <algorithm>

namespace tavrin::terminal {
namespace {

struct ScrollCommand {
  ScrollBar bar;
  ScrollCode code;
};

struct KeyRow {
  TerminalKey key;
  ScrollCommand command;
};

// Each key of the table turns into one scroll request to the window itself.
constexpr KeyRow kKeyTable[] = {
    {TerminalKey::kPageUp, {ScrollBar::kVertical, ScrollCode::kPageUp}},
    {TerminalKey::kPageDown, {ScrollBar::kVertical, ScrollCode::kPageDown}},
    {TerminalKey::kEnd, {ScrollBar::kVertical, ScrollCode::kBottom}},
    {TerminalKey::kHome, {ScrollBar::kVertical, ScrollCode::kTop}},
    {TerminalKey::kLeft, {ScrollBar::kHorizontal, ScrollCode::kLineUp}},
    {TerminalKey::kUp, {ScrollBar::kVertical, ScrollCode::kLineUp}},
    {TerminalKey::kRight, {ScrollBar::kHorizontal, ScrollCode::kLineDown}},
    {TerminalKey::kDown, {ScrollBar::kVertical, ScrollCode::kLineDown}},
};

constexpr char32_t kLowByte = 0xFF;

// The scroll a key sends; nullopt for keys outside the table.
std::optional<ScrollCommand> KeyScrollCommand(TerminalKey key) {
  for (const KeyRow& row : kKeyTable) {
    if (row.key == key) return row.command;
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::uint8_t> TypedByte(char32_t character, bool connected) {
  if (!connected) return std::nullopt;
  return static_cast<std::uint8_t>(character & kLowByte);
}

TerminalScreen::TerminalScreen() {
  screen_.fill(kBlank);
}

void TerminalScreen::SetFontMetrics(int characterWidth, int lineHeight) {
  characterWidth_ = std::max(characterWidth, 1);
  lineHeight_ = std::max(lineHeight, 1);
  horizontalOffset_ = 0;
  verticalOffset_ = cursorRow_ * lineHeight_;
}

void TerminalScreen::Clear() {
  screen_.fill(kBlank);
  cursorColumn_ = 0;
  cursorRow_ = kScreenRows - 1;
}

Point TerminalScreen::Resize(int width, int height) {
  // Vertical first, then horizontal; each offset only ever moves back inside its extent.
  clientHeight_ = height;
  verticalExtent_ = std::max(kScreenRows * lineHeight_ - height, 0);
  const int dy = std::min(verticalExtent_, verticalOffset_) - verticalOffset_;
  verticalOffset_ += dy;

  clientWidth_ = width;
  horizontalExtent_ = std::max(kScreenColumns * characterWidth_ - width, 0);
  const int dx = std::min(horizontalExtent_, horizontalOffset_) - horizontalOffset_;
  horizontalOffset_ += dx;
  return {dx, dy};
}

TerminalScreen::Axis TerminalScreen::AxisOf(ScrollBar bar) {
  if (bar == ScrollBar::kVertical) {
    return {lineHeight_, clientHeight_, verticalOffset_, verticalExtent_};
  }
  return {characterWidth_, clientWidth_, horizontalOffset_, horizontalExtent_};
}

int TerminalScreen::Scroll(ScrollBar bar, ScrollCode code, int thumbPosition) {
  Axis axis = AxisOf(bar);
  int step = 0;
  switch (code) {
    case ScrollCode::kLineUp:
      step = -axis.unit;
      break;
    case ScrollCode::kLineDown:
      step = axis.unit;
      break;
    case ScrollCode::kPageUp:
      step = -axis.client;
      break;
    case ScrollCode::kPageDown:
      step = axis.client;
      break;
    case ScrollCode::kThumbPosition:
      step = thumbPosition - axis.offset;
      break;
    case ScrollCode::kTop:
      step = -axis.offset;
      break;
    case ScrollCode::kBottom:
      step = axis.extent - axis.offset;
      break;
    default:  // thumb tracking, end of scroll and unknown codes
      return 0;
  }
  step = std::clamp(axis.offset + step, 0, axis.extent) - axis.offset;
  axis.offset += step;
  return step;
}

Point TerminalScreen::PressKey(TerminalKey key) {
  const auto command = KeyScrollCommand(key);
  if (!command) return {0, 0};
  const int step = Scroll(command->bar, command->code);
  return command->bar == ScrollBar::kVertical ? Point{0, step} : Point{step, 0};
}

bool TerminalScreen::FocusIn(bool connected) {
  if (connected && !caretShown_) caretShown_ = true;
  return caretShown_;
}

void TerminalScreen::FocusOut() {
  caretShown_ = false;
}

std::optional<Point> TerminalScreen::CaretPosition(bool connected) const {
  if (!connected || !caretShown_) return std::nullopt;
  return Point{cursorColumn_ * characterWidth_ - horizontalOffset_,
               cursorRow_ * lineHeight_ - verticalOffset_};
}

CellRange TerminalScreen::CellsToPaint(int left, int top, int right, int bottom) const {
  return {std::clamp((top + verticalOffset_) / lineHeight_, 0, kScreenRows - 1),
          std::min((bottom + verticalOffset_ - 1) / lineHeight_, kScreenRows - 1),
          std::clamp((left + horizontalOffset_) / characterWidth_, 0, kScreenColumns - 1),
          std::min((right + horizontalOffset_ - 1) / characterWidth_, kScreenColumns - 1)};
}

std::string_view TerminalScreen::RowText(int row, int column, int count) const {
  if (row < 0 || row >= kScreenRows || column < 0 || column >= kScreenColumns || count <= 0) {
    return {};
  }
  const auto start = static_cast<std::size_t>(row * kScreenColumns + column);
  const auto length = static_cast<std::size_t>(std::min(count, kScreenColumns - column));
  return {screen_.data() + start, length};
}

}  // namespace tavrin::terminal
