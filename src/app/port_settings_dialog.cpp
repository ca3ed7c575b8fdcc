#include "app/port_settings_dialog.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <algorithm>

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
// The cause of a failed Connect: one line under the buttons, as far from them as the
// buttons are from the dialog's bottom edge.
constexpr int kCauseX = 8;
constexpr int kCauseY = 126;
constexpr int kCauseBottomMargin = 9;
// The COM Port list's drop-down is at least this wide, so a by-id name can be read.
constexpr int kPortPopupMinimumWidth = 160;

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

QString FromUtf8(const std::string& text) {
  return QString::fromStdString(text);
}

// "FT232R USB UART (FTDI), serial A50285BI": what the device itself says it is.
QStringList WhatItIs(const serial::PortInfo& port) {
  QStringList parts;
  QString product = FromUtf8(port.product);
  if (!port.manufacturer.empty()) {
    product = product.isEmpty()
                  ? FromUtf8(port.manufacturer)
                  : QStringLiteral("%1 (%2)").arg(product, FromUtf8(port.manufacturer));
  }
  if (!product.isEmpty()) parts << product;
  if (!port.serialNumber.empty()) parts << QStringLiteral("serial ") + FromUtf8(port.serialNumber);
  return parts;
}

QString ByIdPath(const serial::PortInfo& port) {
  return FromUtf8(std::string(serial::kSerialByIdDir) + port.byIdName);
}

}  // namespace

QString PortDescription(const serial::PortInfo& port) {
  QStringList parts = WhatItIs(port);
  parts << (port.byIdName.empty() ? FromUtf8(port.devicePath) : ByIdPath(port));
  return parts.join(QStringLiteral(", "));
}

std::vector<PortEntry> PortEntries(std::span<const serial::PortInfo> ports) {
  std::vector<std::string> comPaths;
  for (const serial::Choice& port : serial::ComPortChoices()) {
    comPaths.push_back(serial::DevicePath(port.text));
  }
  std::vector<const serial::PortInfo*> extra;
  for (const serial::PortInfo& port : ports) {
    if (std::find(comPaths.begin(), comPaths.end(), port.devicePath) == comPaths.end()) {
      extra.push_back(&port);
    }
  }
  std::vector<PortEntry> entries;
  for (const serial::PortInfo* port : extra) {
    entries.push_back({FromUtf8(port->name), PortDescription(*port)});
  }
  for (const serial::PortInfo* port : extra) {
    if (port->byIdName.empty()) continue;
    QStringList what = WhatItIs(*port);
    what.prepend(FromUtf8(port->name));
    entries.push_back({ByIdPath(*port), what.join(QStringLiteral(", "))});
  }
  return entries;
}

PortSettingsDialog::PortSettingsDialog(const serial::PortSettings& current,
                                       const std::vector<PortEntry>& extraPorts,
                                       SettingsStore& store, UserPrompts& prompts, QWidget* parent,
                                       const QString& cause)
    : QDialog(parent), current_(current), store_(store), prompts_(prompts) {
  setObjectName(QString::number(kPortSettingsDialogId));
  setWindowTitle(QLatin1String(kPortSettingsTitle));
  setFont(DialogFont());
  CreateControls();
  Fill(extraPorts);
  if (!cause.isEmpty()) AddCauseLine(cause);
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
  portName_->lineEdit()->setMaxLength(static_cast<int>(serial::kMaxPortNameLength));
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

void PortSettingsDialog::Fill(const std::vector<PortEntry>& extraPorts) {
  for (const serial::Choice& port : serial::ComPortChoices()) {
    portName_->addItem(Text(port.text), QVariant::fromValue(port.value));
  }
  int popupWidth = kPortPopupMinimumWidth;
  for (const PortEntry& entry : extraPorts) {
    if (portName_->findText(entry.name, Qt::MatchExactly) >= 0) continue;
    portName_->addItem(entry.name);
    portName_->setItemData(portName_->count() - 1, entry.description, Qt::ToolTipRole);
    popupWidth = std::max(popupWidth, portName_->fontMetrics().horizontalAdvance(entry.name));
  }
  // The drop-down is wide enough for the longest name (a by-id path), wider than the field.
  portName_->view()->setMinimumWidth(popupWidth + 2 * portName_->fontMetrics().averageCharWidth());
  // The field's tooltip says what the named port is, when it is one of the list's.
  connect(
      portName_, &QComboBox::editTextChanged, portName_, [list = portName_](const QString& text) {
        const int index = list->findText(text, Qt::MatchExactly);
        list->setToolTip(index < 0 ? QString() : list->itemData(index, Qt::ToolTipRole).toString());
      });
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
  settings.portName = serial::ClampPortName(portName_->currentText().toStdString());
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

void PortSettingsDialog::AddCauseLine(const QString& cause) {
  const DialogBaseUnits units = BaseUnitsOf(font());
  cause_ = new QLabel(cause, this);
  cause_->setObjectName(QStringLiteral("cause"));
  cause_->setTextFormat(Qt::PlainText);
  // The line often holds a command to run (usermod, kill): it can be selected and copied.
  cause_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  const QRect at = DialogUnitsToPixels(units, QRect(kCauseX, kCauseY, 1, kLabelHeight));
  const QSize templateSize = DialogUnitsToPixels(font(), kDialogSize);
  // The dialog widens to the right for the line; the template's controls stay where they
  // are. A line wider than the screen wraps rather than hide what to do.
  int width = std::max(templateSize.width(),
                       2 * at.x() + cause_->fontMetrics().horizontalAdvance(cause) + 2);
  int height = cause_->sizeHint().height();
  if (const QScreen* shown = screen(); shown && width > shown->availableGeometry().width()) {
    width = shown->availableGeometry().width();
    cause_->setWordWrap(true);
    height = cause_->heightForWidth(width - 2 * at.x());
  }
  cause_->setGeometry(at.x(), at.y(), width - 2 * at.x(), height);
  const int bottomMargin = DialogUnitsToPixels(units, QRect(0, 0, 0, kCauseBottomMargin)).height();
  setFixedSize(width, cause_->geometry().bottom() + 1 + bottomMargin);
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
                                        const std::vector<PortEntry>& extraPorts,
                                        SettingsStore& store, UserPrompts& prompts,
                                        const QString& cause) {
  PortSettingsDialog dialog(current, extraPorts, store, prompts, parent, cause);
  dialog.exec();
  if (dialog.Result() == PortDialogResult::kCancelled) return {dialog.Result(), current};
  return {dialog.Result(), dialog.ReadSettings()};
}

}  // namespace tavrin::app
