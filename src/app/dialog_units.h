// Dialog units: the coordinates the dialog templates are written in. One horizontal unit
// is a quarter of the dialog font's average character width, one vertical unit an eighth
// of its height, so a dialog keeps its proportions whatever font the desktop gives it.
// UI thread only (font metrics).
#pragma once

#include <QFont>
#include <QRect>
#include <QSize>

namespace tavrin::app {

// The dialog font's base units in pixels: the average width of the 52 Latin letters
// (rounded as the templates' platform rounds it) and the font's height.
struct DialogBaseUnits {
  int x;
  int y;
};

DialogBaseUnits BaseUnitsOf(const QFont& font);

// The dialog font of the templates ("MS Sans Serif" 8): the desktop's UI font at 8 points.
QFont DialogFont();

// A rectangle in dialog units (x, y, width, height) in pixels, each edge rounded to the
// nearest pixel.
QRect DialogUnitsToPixels(DialogBaseUnits units, QRect dialogUnits);
QRect DialogUnitsToPixels(const QFont& font, QRect dialogUnits);
QSize DialogUnitsToPixels(const QFont& font, QSize dialogUnits);

}  // namespace tavrin::app
