#include "app/dialog_units.h"

#include <QApplication>
#include <QFontMetrics>

namespace tavrin::app {
namespace {

constexpr int kQuartersPerChar = 4;  // horizontal dialog units per average character
constexpr int kEighthsPerChar = 8;   // vertical dialog units per character height
constexpr int kDialogPointSize = 8;
constexpr const char* kAverageSample = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
constexpr int kSampleLetters = 26;  // the sample holds each letter twice (both cases)

// value * numerator / denominator, rounded half away from zero.
int MulDivRounded(int value, int numerator, int denominator) {
  const long long product = static_cast<long long>(value) * numerator;
  const long long half = denominator / 2;
  const long long rounded =
      product >= 0 ? (product + half) / denominator : (product - half) / denominator;
  return static_cast<int>(rounded);
}

}  // namespace

DialogBaseUnits BaseUnitsOf(const QFont& font) {
  const QFontMetrics metrics(font);
  // Average over both cases of the alphabet, rounded: (width / 26 + 1) / 2.
  const int average =
      (metrics.horizontalAdvance(QLatin1String(kAverageSample)) / kSampleLetters + 1) / 2;
  return {average, metrics.height()};
}

QFont DialogFont() {
  QFont font = QApplication::font();
  font.setPointSize(kDialogPointSize);
  return font;
}

QRect DialogUnitsToPixels(DialogBaseUnits units, QRect dialogUnits) {
  const int left = MulDivRounded(dialogUnits.x(), units.x, kQuartersPerChar);
  const int top = MulDivRounded(dialogUnits.y(), units.y, kEighthsPerChar);
  const int right = MulDivRounded(dialogUnits.x() + dialogUnits.width(), units.x, kQuartersPerChar);
  const int bottom =
      MulDivRounded(dialogUnits.y() + dialogUnits.height(), units.y, kEighthsPerChar);
  return {left, top, right - left, bottom - top};
}

QRect DialogUnitsToPixels(const QFont& font, QRect dialogUnits) {
  return DialogUnitsToPixels(BaseUnitsOf(font), dialogUnits);
}

QSize DialogUnitsToPixels(const QFont& font, QSize dialogUnits) {
  return DialogUnitsToPixels(font, QRect(QPoint(0, 0), dialogUnits)).size();
}

}  // namespace tavrin::app
