// The toolbar's pictures (normal and hot, 24 x 24) and the line input toggle's bitmaps.
// Each picture comes from the desktop's icon theme when it has one, else it is drawn here,
// so that a machine without a theme still shows every button.
#pragma once

#include <QIcon>
#include <QPixmap>

namespace tavrin::app {

// Image indexes of the toolbar's image lists.
enum class ToolbarImage : int {
  kConnect = 0,
  kDisconnect = 1,
  kSaveLog = 2,
  kPortSettings = 3,
  kUpload = 4,
  kDownload = 5,
  kCancel = 6,
  kPause = 7,
  kContinue = 8,
};

inline constexpr int kToolbarImageSize = 24;  // pixels, square

// The picture for `image`: the normal form, and the hot form shown under the mouse
// (QIcon::Active). Save log file has the same picture in both.
QIcon ToolbarIcon(ToolbarImage image);
// The drawn picture, whatever the theme has (hot: the form shown under the mouse).
QPixmap DrawToolbarImage(ToolbarImage image, bool hot);

// Bitmap 199 (the line input box is shown) or 200 (it is hidden).
QPixmap LineInputToggleBitmap(int bitmapId);

}  // namespace tavrin::app
