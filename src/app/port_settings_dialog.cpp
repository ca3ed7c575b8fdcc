#include "app/port_settings_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "app/dialog_units.h"

namespace tavrin::app {
namespace {

// The template, in dialog units (x, y, width, height). A list's height is that of its
// closed field; the template's taller figures include the drop-down part.
constexpr QSize kDialogSize{125, 130};
constexpr int kListX = 69;
constexpr int kListWidth = 48;
constexpr int kListHeight = 12;
constexpr int kPortNameY = 5;
constexpr int kBaudRateY = 21;
constexpr int kParityY = 37;
constexpr int kDataBitsY = 53;
constexpr int kStopBitsY = 69;
constexpr QRect kHardwareFlowRect{8, 90, 98, 10};
constexpr QRect kOkRect{20, 107, 42, 14};
constexpr QRect kCancelRect{64, 107, 42, 14};
constexpr int kLabelWidth = 60;
constexpr int kLabelHeight = 8;

struct LabelSpec {
  const char* text;
  QPoint at;
};
constexpr LabelSpec kLabels[] = {
    {"COM Port", {8, 7}},   {"Bits Per Second", {8, 23}}, {"Parity", {7, 39}},
    {"Data Bits", {7, 55}}, {"Stop Bits", {7, 71}},
};

QString Text(std::string_view text) {
  return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

std::string Latin1(const QString& text) {
  return text.toLatin1().toStdString();
}

// Adds the table's texts in order, each with its value attached, and selects the entry
// whose value is `current` (none when no entry has it).
void FillChoices(QComboBox& list, std::span<const serial::Choice> table, std::uint32_t current) {
  for (const serial::Choice& choice : table) {
    list.addItem(Text(choice.text), QVariant::fromValue(choice.value));
  }
  list.setCurrentIndex(list.findData(QVariant::fromValue(current)));
}

QComboBox* MakeList(QWidget* parent, int id, DialogBaseUnits units, int y) {
  auto* list = new QComboBox(parent);
  list->setObjectName(QString::number(id));
  list->setGeometry(DialogUnitsToPixels(units, QRect(kListX, y, kListWidth, kListHeight)));
  list->setMaxVisibleItems(10);
  return list;
}

}  // namespace

PortSettingsDialog::PortSettingsDialog(const serial::PortSettings& current,
                                       const QStringList& extraPorts, SettingsStore& store,
                                       UserPrompts& prompts, QWidget* parent)
    : QDialog(parent), current_(current), store_(store), prompts_(prompts) {
  setObjectName(QString::number(kPortSettingsDialogId));
  setWindowTitle(QLatin1String(kPortSettingsTitle));
  setFont(DialogFont());
  CreateControls();
  Fill(extraPorts);
  portName_->setFocus();
}

void PortSettingsDialog::CreateControls() {
  const DialogBaseUnits units = BaseUnitsOf(font());
  setFixedSize(DialogUnitsToPixels(font(), kDialogSize));
  for (const LabelSpec& label : kLabels) {
    auto* widget = new QLabel(QLatin1String(label.text), this);
    widget->setGeometry(
        DialogUnitsToPixels(units, QRect(label.at, QSize(kLabelWidth, kLabelHeight))));
  }
  portName_ = MakeList(this, kComPortListId, units, kPortNameY);
  portName_->setEditable(true);
  portName_->setInsertPolicy(QComboBox::NoInsert);
  baudRate_ = MakeList(this, kBaudRateListId, units, kBaudRateY);
  parity_ = MakeList(this, kParityListId, units, kParityY);
  dataBits_ = MakeList(this, kDataBitsListId, units, kDataBitsY);
  stopBits_ = MakeList(this, kStopBitsListId, units, kStopBitsY);
  // Each list as tall as the desktop draws it, centred on its template row.
  for (QComboBox* list : {portName_, baudRate_, parity_, dataBits_, stopBits_}) {
    QRect rect = list->geometry();
    const int height = std::max(rect.height(), list->sizeHint().height());
    rect.adjust(0, (rect.height() - height) / 2, 0, 0);
    rect.setHeight(height);
    list->setGeometry(rect);
  }

  hardwareFlow_ = new QCheckBox(QLatin1String(kHardwareFlowText), this);
  hardwareFlow_->setObjectName(QString::number(kHardwareFlowBoxId));
  hardwareFlow_->setGeometry(DialogUnitsToPixels(units, kHardwareFlowRect));

  ok_ = new QPushButton(QLatin1String(kPortOkText), this);
  ok_->setObjectName(QStringLiteral("1"));
  ok_->setGeometry(DialogUnitsToPixels(units, kOkRect));
  ok_->setDefault(true);
  cancel_ = new QPushButton(QLatin1String(kPortCancelText), this);
  cancel_->setObjectName(QStringLiteral("2"));
  cancel_->setGeometry(DialogUnitsToPixels(units, kCancelRect));
  connect(ok_, &QPushButton::clicked, this, &PortSettingsDialog::PressOk);
  connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
}

void PortSettingsDialog::Fill(const QStringList& extraPorts) {
  for (const serial::Choice& port : serial::ComPortChoices()) {
    portName_->addItem(Text(port.text), QVariant::fromValue(port.value));
  }
  for (const QString& name : extraPorts) {
    if (portName_->findText(name, Qt::MatchExactly) < 0) portName_->addItem(name);
  }
  // The current name need not be one of the list's.
  portName_->setEditText(QString::fromStdString(current_.portName));
  FillChoices(*baudRate_, serial::BaudRateChoices(), current_.baudRate);
  FillChoices(*parity_, serial::ParityChoices(), current_.parity);
  FillChoices(*stopBits_, serial::StopBitChoices(), current_.stopBits);
  FillChoices(*dataBits_, serial::DataBitChoices(), current_.dataBits);
  hardwareFlow_->setChecked(current_.rtsControl == 1);
}

serial::PortSettings PortSettingsDialog::ReadSettings() const {
  serial::PortSettings settings = current_;
  settings.portName = portName_->currentText()
                          .left(static_cast<qsizetype>(serial::kMaxPortNameLength))
                          .toStdString();
  settings.baudRate =
      serial::LookupChoice(Latin1(baudRate_->currentText()), serial::BaudRateChoices());
  settings.parity = static_cast<std::uint8_t>(
      serial::LookupChoice(Latin1(parity_->currentText()), serial::ParityChoices()));
  settings.stopBits = static_cast<std::uint8_t>(
      serial::LookupChoice(Latin1(stopBits_->currentText()), serial::StopBitChoices()));
  bool isNumber = false;
  const unsigned dataBits = dataBits_->currentText().toUInt(&isNumber);
  settings.dataBits = static_cast<std::uint8_t>(isNumber ? dataBits : 0);
  settings.rtsControl = hardwareFlow_->isChecked() ? 1 : 0;
  return settings;
}

// The choices are taken first; then RTSControl is stored. When the store cannot be
// opened the operator is told, and the program shuts down (the caller's part).
void PortSettingsDialog::PressOk() {
  current_ = ReadSettings();
  if (!store_.StoreRtsControl(current_.rtsControl == 1)) {
    prompts_.Message(this, QLatin1String(kProgramCaptionText), QLatin1String(kRegistryProblemText),
                     PromptIcon::kStop);
    result_ = PortDialogResult::kStoreFailed;
    reject();
    return;
  }
  result_ = PortDialogResult::kAccepted;
  accept();
}

PortDialogOutcome RunPortSettingsDialog(QWidget* parent, const serial::PortSettings& current,
                                        const QStringList& extraPorts, SettingsStore& store,
                                        UserPrompts& prompts) {
  PortSettingsDialog dialog(current, extraPorts, store, prompts, parent);
  dialog.exec();
  if (dialog.Result() == PortDialogResult::kCancelled) return {dialog.Result(), current};
  return {dialog.Result(), dialog.ReadSettings()};
}

}  // namespace tavrin::app
