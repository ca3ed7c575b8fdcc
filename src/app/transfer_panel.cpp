#include "app/transfer_panel.h"

#include <QApplication>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QToolButton>
#include <algorithm>

#include "app/command_ids.h"
#include "app/toolbar_images.h"

namespace tavrin::app {

namespace {

constexpr int kTemplateFontPoints = 8;
// The connection summary's template rectangle, and the left edge of the "Packets Sent"
// label beside it: the summary widens up to a unit short of that label.
constexpr PixelRect kSummaryUnits{12, 31, 71, 8};
constexpr int kPacketsSentLeft = 99;
constexpr int kSummaryGap = 2;
// The summary's separator between the port name, the baud rate and the frame.
constexpr QLatin1StringView kSummarySeparator{"  "};
constexpr const char* kToggleTooltip = "Test Tool Command Window";

DialogBaseUnits BaseUnitsOf(const QFont& font) {
  // The window system's average character width: the 52 letters' width / 52, rounded.
  const QFontMetrics metrics(font);
  const int letters = metrics.horizontalAdvance(
      QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  return {(letters / 26 + 1) / 2, metrics.height()};
}

QString Decimal(std::optional<std::uint32_t> value) {
  return value ? QString::number(*value) : QString();
}

}  // namespace

QString FitConnectionSummary(const QString& summary, const QFontMetrics& metrics, int room) {
  if (metrics.horizontalAdvance(summary) <= room) return summary;
  // The summary is the name, two blanks, the baud rate, two blanks and the frame; the name
  // itself may hold anything, so the two separators are found from the end.
  const qsizetype frame = summary.lastIndexOf(kSummarySeparator);
  const qsizetype baud = frame > 0 ? summary.lastIndexOf(kSummarySeparator, frame - 1) : -1;
  if (baud > 0) {
    const QString parameters = summary.mid(baud);
    const int nameRoom = room - metrics.horizontalAdvance(parameters);
    const QString name = metrics.elidedText(summary.left(baud), Qt::ElideMiddle, nameRoom);
    if (nameRoom > 0 && !name.isEmpty()) return name + parameters;
  }
  return metrics.elidedText(summary, Qt::ElideMiddle, room);
}

TransferPanel::TransferPanel(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("panel%1").arg(kTransferPanelTemplate));
  QFont font = QApplication::font();
  font.setPointSize(kTemplateFontPoints);
  setFont(font);
  base_ = BaseUnitsOf(font);

  auto* counters = new QGroupBox(this);
  counters->setGeometry(Place({1, 17, 523, 28}));
  auto* buttons = new QGroupBox(this);
  buttons->setGeometry(Place({3, 56, 475, 29}));

  auto* fileLabel = new QLabel(QStringLiteral("File Name"), this);
  fileLabel->setGeometry(Place({3, 7, 36, 8}));
  controls_[panel::kFileNameLabel] = fileLabel;
  fileName_ = AddField(panel::kFileName, {40, 5, 456, 13}, false);

  toggle_ = new QToolButton(this);
  toggle_->setAutoRaise(true);
  toggle_->setGeometry(Place({505, 3, 16, 14}));
  toggle_->setToolTip(QString::fromLatin1(kToggleTooltip));
  controls_[panel::kLineInputToggle] = toggle_;
  SetLineInputShown(false);
  connect(toggle_, &QToolButton::clicked, this,
          [this] { emit ButtonPressed(panel::kLineInputToggle); });

  summary_ = new QLabel(this);
  summary_->setTextFormat(Qt::PlainText);
  summary_->setGeometry(Place(kSummaryUnits));
  controls_[panel::kConnectionSummary] = summary_;
  auto* packetsSent = new QLabel(QStringLiteral("Packets Sent"), this);
  packetsSent->setGeometry(Place({99, 30, 49, 9}));
  controls_[panel::kPacketsSentLabel] = packetsSent;
  sent_ = AddField(panel::kSentField, {149, 28, 24, 12}, true);
  total_ = AddField(panel::kTotalField, {179, 28, 24, 12}, true);
  auto* status = new QLabel(QStringLiteral("Status"), this);
  status->setGeometry(Place({221, 30, 22, 8}));
  sendIndicator_ = AddField(panel::kSendIndicator, {247, 28, 16, 12}, true);
  receiveIndicator_ = AddField(panel::kReceiveIndicator, {273, 28, 16, 12}, true);
  progress_ = new QProgressBar(this);
  progress_->setGeometry(Place({305, 28, 212, 12}));
  progress_->setTextVisible(false);
  progress_->setRange(0, 100);
  progress_->setValue(0);
  controls_[panel::kProgressBar] = progress_;

  AddButton(panel::kUpload, "&Upload", {96, 67, 54, 14});
  AddButton(panel::kDownload, "&Download", {156, 67, 54, 14});
  AddButton(panel::kCancel, "&Cancel", {216, 67, 54, 14});
  AddButton(panel::kPause, "&Pause", {276, 67, 54, 14});
  AddButton(panel::kSaveLogFile, "&Save Log File", {336, 67, 54, 14});
}

QRect TransferPanel::Place(const PixelRect& units) const {
  const PixelRect r = DialogUnitsToPixels(units, base_);
  return {r.x, r.y, r.width, r.height};
}

QLineEdit* TransferPanel::AddField(int id, const PixelRect& units, bool centred) {
  auto* field = new QLineEdit(this);
  field->setReadOnly(true);
  field->setFocusPolicy(Qt::NoFocus);
  field->setGeometry(Place(units));
  if (centred) field->setAlignment(Qt::AlignCenter);
  field->setTextMargins(0, 0, 0, 0);
  controls_[id] = field;
  return field;
}

QPushButton* TransferPanel::AddButton(int id, const char* text, const PixelRect& units) {
  auto* button = new QPushButton(QString::fromLatin1(text), this);
  // The panel's mnemonics are shown but never taken as keys: the menu's accelerators own
  // Alt+U, Alt+C and Alt+S, and Alt+P opens the Process menu.
  button->setShortcut(QKeySequence());
  button->setFocusPolicy(Qt::NoFocus);
  button->setGeometry(Place(units));
  connect(button, &QPushButton::clicked, this, [this, id] { emit ButtonPressed(id); });
  controls_[id] = button;
  return button;
}

void TransferPanel::Apply(const ControlStates& states) {
  for (int id : {panel::kUpload, panel::kDownload, panel::kCancel, panel::kPause,
                 panel::kSaveLogFile, panel::kPacketsSentLabel}) {
    controls_.at(id)->setEnabled(states.Panel(id));
  }
  countersShown_ = states.countersShown;
  sent_->setVisible(countersShown_);
  total_->setVisible(countersShown_);
  ShowProgressBar(states.progressBarShown);
}

void TransferPanel::SetFileName(const QString& path) {
  fileName_->setText(path);
  fileName_->end(false);
}

void TransferPanel::SetConnectionSummary(const QString& summary) {
  summaryText_ = summary;
  PlaceSummary();
}

// The label keeps its template place and takes the width its text needs, from the
// template's width up to the "Packets Sent" label; a summary wider than that is shown
// with its port name elided, and whole in the tooltip.
void TransferPanel::PlaceSummary() {
  const QRect least = Place(kSummaryUnits);
  const QRect room =
      Place({kSummaryUnits.x, kSummaryUnits.y, kPacketsSentLeft - kSummaryGap - kSummaryUnits.x,
             kSummaryUnits.height});
  const QFontMetrics metrics = summary_->fontMetrics();
  const int needed = metrics.horizontalAdvance(summaryText_);
  QRect at = least;
  at.setWidth(std::clamp(needed, least.width(), room.width()));
  summary_->setGeometry(at);
  const QString shown = FitConnectionSummary(summaryText_, metrics, at.width());
  summary_->setText(shown);
  summary_->setToolTip(summaryText_.trimmed());
}

void TransferPanel::SetSendIndicator(bool shown) {
  sendIndicator_->setText(shown ? QStringLiteral("T") : QString());
}

void TransferPanel::SetReceiveIndicator(bool shown) {
  receiveIndicator_->setText(shown ? QStringLiteral("R") : QString());
}

void TransferPanel::SetSent(std::optional<std::uint32_t> sent) {
  sent_->setText(Decimal(sent));
}

void TransferPanel::SetTotal(std::optional<std::uint32_t> total) {
  total_->setText(Decimal(total));
}

void TransferPanel::SetProgressRange(std::uint32_t max) {
  progress_->setRange(0, static_cast<int>(std::min<std::uint32_t>(max, 0x7FFFFFFF)));
}

void TransferPanel::SetProgressPosition(std::uint32_t position) {
  progress_->setValue(static_cast<int>(std::min<std::uint32_t>(position, 0x7FFFFFFF)));
}

void TransferPanel::StepProgress() {
  // A step past the end starts over from the beginning, as the progress control does.
  const int next = progress_->value() + 1;
  progress_->setValue(next > progress_->maximum() ? progress_->minimum() : next);
}

void TransferPanel::ShowProgressBar(bool shown) {
  progressBarShown_ = shown;
  progress_->setVisible(shown);
}

void TransferPanel::BlankConnectionFields() {
  const QString blank = QStringLiteral(" ");
  SetConnectionSummary(blank);
  fileName_->setText(blank);
  sendIndicator_->setText(blank);
  receiveIndicator_->setText(blank);
}

void TransferPanel::SetLineInputShown(bool shown) {
  toggle_->setIcon(
      QIcon(LineInputToggleBitmap(shown ? kBitmapLineInputShown : kBitmapLineInputHidden)));
}

}  // namespace tavrin::app
