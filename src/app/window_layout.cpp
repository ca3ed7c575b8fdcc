#include "app/window_layout.h"

#include <cstdint>

namespace tavrin::app {

namespace {

constexpr int kLineInputHeight = 60;  // pixels, set at every size change
constexpr int kTerminalTop = 49;      // the terminal screen window's place, without a size
constexpr int kPanelMargin = 10;      // pixels added to 5 base units for the panel

// Integer division rounded to the nearest, as the window system converts dialog units.
int MulDiv(int value, int numerator, int denominator) {
  const long long product = static_cast<long long>(value) * numerator;
  const long long half = denominator / 2;
  return static_cast<int>((product >= 0 ? product + half : product - half) / denominator);
}

}  // namespace

int PanelHeight(int baseUnitHeight) {
  return 5 * baseUnitHeight + kPanelMargin;
}

MainLayout LayOutMainWindow(int width, int height, int baseUnitHeight, bool lineInputShown) {
  const int bottom = static_cast<std::int16_t>(height - 5 * baseUnitHeight);
  MainLayout layout;
  layout.panel = {0, bottom - kPanelMargin, width, PanelHeight(baseUnitHeight)};
  layout.terminal = {0, kTerminalTop, 0, 0};
  layout.lineInputHeight = kLineInputHeight;
  if (lineInputShown) {
    layout.usableHeight = bottom - 119;
    layout.output = {0, kOutputTop, width, bottom - 112};
    layout.lineInput = {0, bottom - 79, width, kLineInputHeight + 10};
  } else {
    layout.usableHeight = bottom - 59;
    layout.output = {0, kOutputTop, width, bottom - 44};
    layout.lineInput = {0, bottom - 99, 0, 0};
  }
  return layout;
}

int MinimumWindowHeight(int menuBarHeight, int frameHeight, int baseUnitHeight, int captionHeight) {
  return menuBarHeight + 2 * frameHeight + 10 * baseUnitHeight + 4 * captionHeight;
}

PixelRect DialogUnitsToPixels(const PixelRect& units, const DialogBaseUnits& base) {
  return {MulDiv(units.x, base.charWidth, 4), MulDiv(units.y, base.charHeight, 8),
          MulDiv(units.width, base.charWidth, 4), MulDiv(units.height, base.charHeight, 8)};
}

int BaseUnitHeightForPanel(int templateHeightUnits, const DialogBaseUnits& base) {
  const int templatePixels = MulDiv(templateHeightUnits, base.charHeight, 8);
  return (templatePixels - kPanelMargin + 4) / 5;  // rounded up
}

}  // namespace tavrin::app
