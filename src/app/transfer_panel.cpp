#include "app/transfer_panel.h"

#include <QApplication>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QToolButton>

#include "app/command_ids.h"
#include "app/toolbar_images.h"

namespace tavrin::app {

namespace {

constexpr int kTemplateFontPoints = 8;
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
  summary_->setGeometry(Place({12, 31, 71, 8}));
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
  summary_->setText(summary);
  // The field is as wide as "COM1  115200  8 N 1"; a longer port name shows whole here.
  summary_->setToolTip(summary.trimmed());
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
  summary_->setText(blank);
  fileName_->setText(blank);
  sendIndicator_->setText(blank);
  receiveIndicator_->setText(blank);
}

void TransferPanel::SetLineInputShown(bool shown) {
  toggle_->setIcon(
      QIcon(LineInputToggleBitmap(shown ? kBitmapLineInputShown : kBitmapLineInputHidden)));
}

}  // namespace tavrin::app
