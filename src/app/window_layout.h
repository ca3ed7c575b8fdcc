// The main window's layout arithmetic and the dialog-unit conversion, as pure functions:
// the widget code only moves its children to the rectangles computed here.
#pragma once

namespace tavrin::app {

struct PixelRect {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
  friend bool operator==(const PixelRect&, const PixelRect&) = default;
};

// Where the children of the main window's client area go for one size.
struct MainLayout {
  PixelRect panel;       // the transfer panel along the bottom edge
  PixelRect terminal;    // the terminal screen window: never given a size
  PixelRect output;      // the output window (id 130)
  PixelRect lineInput;   // the line input box (id 131); zero-sized while hidden
  int usableHeight = 0;  // where the output area ends
  int lineInputHeight = 0;
  friend bool operator==(const MainLayout&, const MainLayout&) = default;
};

// The output window starts below the toolbar at this y.
inline constexpr int kOutputTop = 36;
// The usable height before the first size change.
inline constexpr int kInitialUsableHeight = 395;

// The panel's height: 5 dialog base units plus 10 pixels.
int PanelHeight(int baseUnitHeight);

// The layout for a client area of `width` x `height` pixels with dialog base unit height
// `baseUnitHeight`. The panel's top edge stays 5u + 10 above the bottom; the bottom line B
// = height - 5u is computed in 16 bits, as the window system's sizes are.
MainLayout LayOutMainWindow(int width, int height, int baseUnitHeight, bool lineInputShown);

// The smallest height the main window may be given: menu bar + 2 sizing frames
// + 10 dialog base units + 4 captions.
int MinimumWindowHeight(int menuBarHeight, int frameHeight, int baseUnitHeight, int captionHeight);

// Dialog units of a template to pixels, from the template font's average character width
// (4 horizontal units) and height (8 vertical units).
struct DialogBaseUnits {
  int charWidth = 0;
  int charHeight = 0;
};
PixelRect DialogUnitsToPixels(const PixelRect& units, const DialogBaseUnits& base);

// The dialog base unit height that makes the panel (5u + 10 pixels) hold a template of
// `templateHeightUnits` vertical dialog units whole.
int BaseUnitHeightForPanel(int templateHeightUnits, const DialogBaseUnits& base);

}  // namespace tavrin::app
