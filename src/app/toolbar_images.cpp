#include "app/toolbar_images.h"

#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>

#include "app/command_ids.h"

namespace tavrin::app {

namespace {

// Theme names tried first, by image index.
constexpr const char* kThemeNames[] = {
    "network-connect",       // Connect
    "network-disconnect",    // Disconnect
    "document-save",         // Save log file
    "preferences-system",    // Port Settings
    "go-up",                 // Upload
    "go-down",               // Download
    "process-stop",          // Cancel
    "media-playback-pause",  // Pause
    "media-playback-start",  // Continue
};

QColor Shade(QColor colour, bool hot) {
  return hot ? colour.lighter(135) : colour;
}

void DrawPlug(QPainter& p, QPointF at, bool facingRight, const QColor& colour) {
  p.setBrush(colour);
  p.drawRoundedRect(QRectF(at.x() - 3.5, at.y() - 4.5, 7, 9), 1.5, 1.5);
  const double tip = facingRight ? at.x() + 3.5 : at.x() - 6.5;
  p.drawRect(QRectF(tip, at.y() - 3, 3, 1.6));
  p.drawRect(QRectF(tip, at.y() + 1.4, 3, 1.6));
  const double cable = facingRight ? at.x() - 8.5 : at.x() + 3.5;
  p.drawRect(QRectF(cable, at.y() - 1, 5, 2));
}

void DrawArrow(QPainter& p, bool up, const QColor& colour) {
  QPolygonF arrow;
  if (up) {
    arrow << QPointF(12, 2) << QPointF(21, 11) << QPointF(15.5, 11) << QPointF(15.5, 17)
          << QPointF(8.5, 17) << QPointF(8.5, 11) << QPointF(3, 11);
  } else {
    arrow << QPointF(12, 17) << QPointF(21, 8) << QPointF(15.5, 8) << QPointF(15.5, 2)
          << QPointF(8.5, 2) << QPointF(8.5, 8) << QPointF(3, 8);
  }
  p.setBrush(colour);
  p.drawPolygon(arrow);
  // The set-top box the data goes to or comes from.
  p.setBrush(QColor(70, 70, 70));
  p.drawRoundedRect(QRectF(3, 18.5, 18, 4.5), 1, 1);
  p.setBrush(QColor(80, 220, 80));
  p.drawEllipse(QRectF(17, 19.8, 2, 2));
}

void DrawImage(QPainter& p, ToolbarImage image, bool hot) {
  p.setPen(QPen(QColor(40, 40, 40), 1));
  switch (image) {
    case ToolbarImage::kConnect:
      DrawPlug(p, {9, 12}, true, Shade(QColor(40, 150, 40), hot));
      DrawPlug(p, {18, 12}, false, Shade(QColor(40, 150, 40), hot));
      break;
    case ToolbarImage::kDisconnect:
      DrawPlug(p, {7, 12}, true, Shade(QColor(190, 50, 40), hot));
      DrawPlug(p, {20, 12}, false, Shade(QColor(190, 50, 40), hot));
      break;
    case ToolbarImage::kSaveLog: {
      p.setBrush(QColor(50, 90, 170));
      p.drawRoundedRect(QRectF(3, 3, 18, 18), 2, 2);
      p.setBrush(QColor(235, 235, 235));
      p.drawRect(QRectF(6, 3, 12, 7));
      p.setBrush(QColor(30, 30, 30));
      p.drawRect(QRectF(7, 14, 10, 7));
      break;
    }
    case ToolbarImage::kPortSettings: {
      // A nine-pin serial connector.
      QPolygonF shell;
      shell << QPointF(2, 7) << QPointF(22, 7) << QPointF(19, 17) << QPointF(5, 17);
      p.setBrush(Shade(QColor(150, 150, 160), hot));
      p.drawPolygon(shell);
      p.setBrush(QColor(230, 200, 60));
      for (int pin = 0; pin < 5; ++pin) p.drawEllipse(QRectF(4.5 + pin * 3.2, 9, 2.2, 2.2));
      for (int pin = 0; pin < 4; ++pin) p.drawEllipse(QRectF(6.1 + pin * 3.2, 13, 2.2, 2.2));
      break;
    }
    case ToolbarImage::kUpload:
      DrawArrow(p, true, Shade(QColor(40, 90, 200), hot));
      break;
    case ToolbarImage::kDownload:
      DrawArrow(p, false, Shade(QColor(30, 150, 60), hot));
      break;
    case ToolbarImage::kCancel: {
      p.setBrush(Shade(QColor(200, 40, 40), hot));
      p.drawEllipse(QRectF(2.5, 2.5, 19, 19));
      p.setPen(QPen(Qt::white, 2.6, Qt::SolidLine, Qt::RoundCap));
      p.drawLine(QPointF(8, 8), QPointF(16, 16));
      p.drawLine(QPointF(16, 8), QPointF(8, 16));
      break;
    }
    case ToolbarImage::kPause:
      p.setBrush(Shade(QColor(60, 60, 140), hot));
      p.drawRoundedRect(QRectF(6, 4, 4.5, 16), 1, 1);
      p.drawRoundedRect(QRectF(13.5, 4, 4.5, 16), 1, 1);
      break;
    case ToolbarImage::kContinue: {
      QPolygonF play;
      play << QPointF(7, 4) << QPointF(19, 12) << QPointF(7, 20);
      p.setBrush(Shade(QColor(30, 150, 60), hot));
      p.drawPolygon(play);
      break;
    }
  }
}

}  // namespace

QPixmap DrawToolbarImage(ToolbarImage image, bool hot) {
  QPixmap pixmap(kToolbarImageSize, kToolbarImageSize);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  DrawImage(painter, image, hot && image != ToolbarImage::kSaveLog);
  return pixmap;
}

QIcon ToolbarIcon(ToolbarImage image) {
  const int index = static_cast<int>(image);
  const QIcon themed = QIcon::fromTheme(QString::fromLatin1(kThemeNames[index]));
  if (!themed.isNull() && !themed.availableSizes().isEmpty()) return themed;
  QIcon icon;
  icon.addPixmap(DrawToolbarImage(image, false), QIcon::Normal);
  icon.addPixmap(DrawToolbarImage(image, true), QIcon::Active);
  return icon;
}

QPixmap LineInputToggleBitmap(int bitmapId) {
  QPixmap pixmap(16, 16);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  // A text line with a caret, and a chevron: down to open the line, up to close it.
  p.setPen(QPen(QColor(40, 40, 40), 1));
  p.setBrush(Qt::white);
  p.drawRect(QRectF(1.5, 1.5, 13, 6));
  p.drawLine(QPointF(4, 3), QPointF(4, 6));
  QPolygonF chevron;
  if (bitmapId == kBitmapLineInputShown) {
    chevron << QPointF(3, 14) << QPointF(8, 9.5) << QPointF(13, 14);
  } else {
    chevron << QPointF(3, 10) << QPointF(8, 14.5) << QPointF(13, 10);
  }
  p.setBrush(QColor(40, 90, 200));
  p.setPen(Qt::NoPen);
  p.drawPolygon(chevron);
  return pixmap;
}

}  // namespace tavrin::app
