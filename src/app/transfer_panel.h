// The transfer panel (template 106): the strip along the bottom of the main window with the
// file being transferred, the connection summary, the packet counters, the send and receive
// indicators, the progress bar and the buttons Upload, Download, Cancel, Pause and Save Log
// File, and the line input box toggle. Its controls sit at the template's dialog-unit
// rectangles, converted with the panel font's base units. UI thread only.
#pragma once

#include <QWidget>
#include <cstdint>
#include <map>
#include <optional>

#include "app/window_layout.h"
#include "app/window_rules.h"

class QFontMetrics;
class QLineEdit;
class QLabel;
class QProgressBar;
class QPushButton;
class QToolButton;

namespace tavrin::app {

// The template's size in dialog units.
inline constexpr int kPanelTemplateWidth = 529;
inline constexpr int kPanelTemplateHeight = 86;

// The template's controls: id (0: none), rectangle in dialog units.
struct PanelControl {
  int id;
  PixelRect units;
};

// The connection summary as a label `room` pixels wide at most shows it: whole when it
// fits, else the port name (all before the baud rate) elided in its middle, so that the
// line parameters still show; the whole summary elided in its middle only when even they
// do not fit.
QString FitConnectionSummary(const QString& summary, const QFontMetrics& metrics, int room);

class TransferPanel final : public QWidget {
  Q_OBJECT

 public:
  explicit TransferPanel(QWidget* parent);

  // The base units of the panel's font ("MS Sans Serif" 8 in the template: the default UI
  // font at 8 points).
  DialogBaseUnits BaseUnits() const { return base_; }

  void Apply(const ControlStates& states);

  // Fields the transfer writes.
  void SetFileName(const QString& path);
  void SetConnectionSummary(const QString& summary);
  void SetSendIndicator(bool shown);
  void SetReceiveIndicator(bool shown);
  void SetSent(std::optional<std::uint32_t> sent);
  void SetTotal(std::optional<std::uint32_t> total);
  void SetProgressRange(std::uint32_t max);
  void SetProgressPosition(std::uint32_t position);
  void StepProgress();
  // The download shows the progress bar on its own while regions arrive.
  void ShowProgressBar(bool shown);
  // Disconnect: a single blank in the summary, file name and both indicators.
  void BlankConnectionFields();
  // The toggle's picture: bitmap 199 while the line input box is shown, else 200.
  void SetLineInputShown(bool shown);

  // The control with `id` (for tests and the tooltip).
  QWidget* Control(int id) const { return controls_.at(id); }

 signals:
  // A button was pressed: 1011, 1017, 1020, 1024, 1025 or 1034.
  void ButtonPressed(int id);

 private:
  QLineEdit* AddField(int id, const PixelRect& units, bool centred);
  QPushButton* AddButton(int id, const char* text, const PixelRect& units);
  QRect Place(const PixelRect& units) const;
  void PlaceSummary();

  DialogBaseUnits base_;
  std::map<int, QWidget*> controls_;
  QLineEdit* fileName_;
  QLabel* summary_;
  QString summaryText_;  // the whole summary; the label may show it elided
  QLineEdit* sent_;
  QLineEdit* total_;
  QLineEdit* sendIndicator_;
  QLineEdit* receiveIndicator_;
  QProgressBar* progress_;
  QToolButton* toggle_;
  bool countersShown_ = false;
  bool progressBarShown_ = false;
};

}  // namespace tavrin::app
