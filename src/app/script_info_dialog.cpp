#include "app/script_info_dialog.h"
#include "app/dialog_keys.h"
#include "app/dialog_units.h"

#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

#include "app/script_list_dialog.h"
#include "scripts/script_result.h"

namespace tavrin::app {
namespace {

QString Latin1(std::string_view text) {
  return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

std::uint32_t HexValue(const QString& text) {
  bool ok = false;
  const std::uint32_t value = text.toUInt(&ok, 16);
  return ok ? value : 0;
}

// The decimal fields are read from their leading digits; a value this large is already
// out of every range, so reading stops there rather than overflowing.
std::uint32_t LeadingDecimal(const QString& text) {
  constexpr std::uint32_t kBeyondEveryRange = 1'000'000;
  std::uint32_t value = 0;
  for (QChar c : text) {
    if (c < QLatin1Char('0') || c > QLatin1Char('9')) break;
    value = value * 10 + static_cast<std::uint32_t>(c.unicode() - '0');
    if (value >= kBeyondEveryRange) break;
  }
  return value;
}

std::string Std(const QString& text) {
  return text.toStdString();
}

// A dependent decimal field: present (1 to `limit`) when its list choice holds it.
std::optional<ScriptInfoError> CheckDecimal(const QString& text, std::uint32_t limit,
                                            const char* tooLarge, const char* missing,
                                            ScriptInfoField field) {
  const std::uint32_t value = LeadingDecimal(text);
  if (value > limit) return ScriptInfoError{tooLarge, field, false};
  if (value == 0) return ScriptInfoError{missing, field, true};
  return std::nullopt;
}

template <std::size_t N>
void FillList(QComboBox* list, const std::array<std::string_view, N>& texts) {
  for (std::string_view text : texts) list->addItem(Latin1(text));
}

}  // namespace

std::optional<ScriptInfoError> ValidateScriptInfo(const ScriptInfoFields& fields) {
  using F = ScriptInfoField;
  // With Flash both addresses need all eight digits; EEPROM addresses may be shorter.
  auto partAddress = [&](const QString& text) {
    return fields.flash && !text.isEmpty() && text.size() < kAddressDigits;
  };
  if (partAddress(fields.startAddress))
    return ScriptInfoError{kStartAddress4Bytes, F::kStartAddress, false};
  if (fields.startAddress.isEmpty())
    return ScriptInfoError{kStartAddressMissing, F::kStartAddress, false};
  if (partAddress(fields.endAddress))
    return ScriptInfoError{kEndAddress4Bytes, F::kEndAddress, false};
  if (fields.endAddress.isEmpty())
    return ScriptInfoError{kEndAddressMissing, F::kEndAddress, false};
  if (HexValue(fields.endAddress) < HexValue(fields.startAddress)) {
    return ScriptInfoError{kEndBelowStart, F::kEndAddress, false};
  }
  if (fields.deviceId.isEmpty()) return ScriptInfoError{kDeviceIdMissing, F::kDeviceId, false};
  if (fields.partitionId == kLsdPosition) {
    if (auto error =
            CheckDecimal(fields.maxLnbRecords, 255, kAbove255, kMaxLnbMissing, F::kMaxLnbRecords)) {
      return error;
    }
  }
  if (fields.partitionType == kMbpPosition) {
    if (auto error =
            CheckDecimal(fields.blockSize, 65535, kAbove65535, kBlockSizeMissing, F::kBlockSize)) {
      return error;
    }
    if (auto error = CheckDecimal(fields.totalBlocks, 65535, kAbove65535, kTotalBlocksMissing,
                                  F::kTotalBlocks)) {
      return error;
    }
  }
  return std::nullopt;
}

scripts::ScriptRecord BuildScriptRecord(const ScriptInfoFields& fields) {
  scripts::ScriptRecord record;
  scripts::CommandData& command = record.command;
  command.memoryType = fields.flash ? scripts::kMemoryTypeFlash : scripts::kMemoryTypeEeprom;
  command.startAddress = HexValue(fields.startAddress);
  command.endAddress = HexValue(fields.endAddress);
  command.imageType = static_cast<std::uint8_t>(fields.imageType);
  command.deviceId = HexValue(fields.deviceId);
  scripts::HeaderData& header = record.header;
  header.partitionId = static_cast<std::uint8_t>(fields.partitionId + 1);
  header.partitionType = static_cast<std::uint8_t>(fields.partitionType + 1);
  if (fields.partitionId == kLsdPosition) {
    header.maxLnbRecords = static_cast<std::uint8_t>(LeadingDecimal(fields.maxLnbRecords));
  }
  if (fields.partitionType == kMbpPosition) {
    header.blockSize = LeadingDecimal(fields.blockSize);
    header.totalBlocks = static_cast<std::uint16_t>(LeadingDecimal(fields.totalBlocks));
  }
  header.size = command.endAddress - command.startAddress;
  return record;
}

scripts::ScriptListRow EnteredRow(const ScriptInfoFields& fields) {
  return {
      .startAddress = Std(fields.startAddress),
      .endAddress = Std(fields.endAddress),
      .memoryType = std::string{fields.flash ? scripts::kMemoryTypeFlashText
                                             : scripts::kMemoryTypeEepromText},
      .imageType = std::string{scripts::ImageTypeText(static_cast<std::uint8_t>(fields.imageType))},
      .deviceId = Std(fields.deviceId),
  };
}

ScriptInfoFields FieldsOfRecord(const scripts::ScriptRecord& record) {
  const scripts::CommandData& command = record.command;
  const scripts::HeaderData& header = record.header;
  auto hex = [](std::uint32_t value) { return QString::fromStdString(scripts::HexText(value)); };
  auto position = [](int value, int count, int otherwise) {
    return value >= 0 && value < count ? value : otherwise;
  };
  ScriptInfoFields fields;
  fields.flash = command.memoryType == scripts::kMemoryTypeFlash;
  fields.startAddress = hex(command.startAddress);
  fields.endAddress = hex(command.endAddress);
  fields.deviceId = hex(command.deviceId);
  fields.imageType = position(command.imageType, static_cast<int>(scripts::kImageTypeTexts.size()),
                              kDefaultImageType);
  fields.partitionId =
      position(header.partitionId - 1, static_cast<int>(scripts::kPartitionIdTexts.size()),
               kDefaultPartitionId);
  fields.partitionType =
      position(header.partitionType - 1, static_cast<int>(scripts::kPartitionTypeTexts.size()),
               kDefaultPartitionType);
  if (header.partitionId == scripts::kPartitionIdLsd) {
    fields.maxLnbRecords = QString::number(header.maxLnbRecords);
  }
  if (header.partitionType == scripts::kPartitionTypeMbp) {
    fields.blockSize = QString::number(header.blockSize);
    fields.totalBlocks = QString::number(header.totalBlocks);
  }
  return fields;
}

ScriptInfoEnables EnablesFor(int partitionId, int partitionType) {
  return {partitionId == kLsdPosition, partitionType == kMbpPosition};
}

bool IsHexEntry(const QString& text) {
  for (QChar c : text) {
    const char16_t u = c.unicode();
    const bool hex = (u >= '0' && u <= '9') || (u >= 'A' && u <= 'F') || (u >= 'a' && u <= 'f');
    if (!hex) return false;
  }
  return true;
}

QValidator::State HexEntryValidator::validate(QString& input, int& /*position*/) const {
  if (!IsHexEntry(input)) return Invalid;
  input = input.toUpper();
  return Acceptable;
}

ScriptInfoDialog::ScriptInfoDialog(scripts::ScriptStore& store, UserPrompts& prompts,
                                   QWidget* parent)
    : ScriptInfoDialog(store, 0, prompts, parent) {
  SetFields(ScriptInfoFields{});
}

ScriptInfoDialog::ScriptInfoDialog(scripts::ScriptStore& store, std::uint32_t recordNumber,
                                   const scripts::ScriptRecord& shown, UserPrompts& prompts,
                                   QWidget* parent)
    : ScriptInfoDialog(store, recordNumber, prompts, parent) {
  SetFields(FieldsOfRecord(shown));
}

ScriptInfoDialog::ScriptInfoDialog(scripts::ScriptStore& store, std::uint32_t recordNumber,
                                   UserPrompts& prompts, QWidget* parent)
    : QDialog(parent), store_(store), prompts_(prompts), recordNumber_(recordNumber) {
  BuildWidgets();
}

void ScriptInfoDialog::BuildWidgets() {
  PressFocusedButtonOnEnter(*this);
  setWindowTitle(QString::fromLatin1(kScriptInfoTitle));
  setFont(DialogFont());

  auto* groups = new QHBoxLayout;
  groups->addWidget(BuildCommandGroup());
  groups->addWidget(BuildHeaderGroup());

  ok_ = new QPushButton(QStringLiteral("&Ok"), this);
  ok_->setDefault(true);
  auto* cancel = new QPushButton(QStringLiteral("&Cancel"), this);
  cancel->setAutoDefault(false);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(ok_);
  buttons->addWidget(cancel);
  buttons->addStretch();

  auto* whole = new QVBoxLayout(this);
  whole->addLayout(groups);
  whole->addLayout(buttons);

  connect(ok_, &QPushButton::clicked, this, &ScriptInfoDialog::Ok);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  connect(partitionId_, &QComboBox::currentIndexChanged, this, &ScriptInfoDialog::ApplyEnables);
  connect(partitionType_, &QComboBox::currentIndexChanged, this, &ScriptInfoDialog::ApplyEnables);

  resize(DialogUnitsToPixels(font(), kSizeUnits).expandedTo(minimumSizeHint()));
}

QWidget* ScriptInfoDialog::BuildCommandGroup() {
  auto* group = new QGroupBox(QStringLiteral("Command Data"), this);
  auto* memory = new QGroupBox(QStringLiteral("&Memory Type"), group);
  flash_ = new QRadioButton(QStringLiteral("&Flash"), memory);
  eeprom_ = new QRadioButton(QStringLiteral("&EEPROM"), memory);
  auto* radios = new QHBoxLayout(memory);
  radios->addWidget(flash_);
  radios->addWidget(eeprom_);

  auto hexEdit = [group](int digits) {
    auto* edit = new QLineEdit(group);
    edit->setMaxLength(digits);
    edit->setValidator(new HexEntryValidator(edit));
    return edit;
  };
  // Made in their screen order, which is the Tab order: the addresses, the image type,
  // then the device ID.
  startAddress_ = hexEdit(kAddressDigits);
  endAddress_ = hexEdit(kAddressDigits);
  imageType_ = new QComboBox(group);
  FillList(imageType_, scripts::kImageTypeTexts);
  deviceId_ = hexEdit(kDeviceIdDigits);

  auto* form = new QFormLayout(group);
  form->addRow(memory);
  form->addRow(QStringLiteral("Start Address ( 0x )"), startAddress_);
  form->addRow(QStringLiteral("End Address ( 0x )"), endAddress_);
  form->addRow(QStringLiteral("Image Type"), imageType_);
  form->addRow(QStringLiteral("Device ID ( 0x )"), deviceId_);
  return group;
}

QWidget* ScriptInfoDialog::BuildHeaderGroup() {
  auto* group = new QGroupBox(QStringLiteral("Header Data"), this);
  partitionId_ = new QComboBox(group);
  FillList(partitionId_, scripts::kPartitionIdTexts);
  partitionType_ = new QComboBox(group);
  FillList(partitionType_, scripts::kPartitionTypeTexts);

  auto decimalEdit = [group](int digits) {
    auto* edit = new QLineEdit(group);
    edit->setMaxLength(digits);
    edit->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), edit));
    return edit;
  };
  blockSize_ = decimalEdit(kBlockDigits);
  totalBlocks_ = decimalEdit(kBlockDigits);
  maxLnbRecords_ = decimalEdit(kLnbDigits);
  blockSizeLabel_ = new QLabel(QStringLiteral("Block Size"), group);
  totalBlocksLabel_ = new QLabel(QStringLiteral("Total Blocks"), group);
  maxLnbLabel_ = new QLabel(QStringLiteral("Max. LNB Record Support"), group);

  auto* form = new QFormLayout(group);
  form->addRow(QStringLiteral("Partition Id"), partitionId_);
  form->addRow(QStringLiteral("Partition Type"), partitionType_);
  form->addRow(blockSizeLabel_, blockSize_);
  form->addRow(totalBlocksLabel_, totalBlocks_);
  form->addRow(maxLnbLabel_, maxLnbRecords_);
  return group;
}

ScriptInfoFields ScriptInfoDialog::Fields() const {
  ScriptInfoFields fields;
  fields.flash = flash_->isChecked();
  fields.startAddress = startAddress_->text();
  fields.endAddress = endAddress_->text();
  fields.imageType = imageType_->currentIndex();
  fields.deviceId = deviceId_->text();
  fields.partitionId = partitionId_->currentIndex();
  fields.partitionType = partitionType_->currentIndex();
  fields.blockSize = blockSize_->text();
  fields.totalBlocks = totalBlocks_->text();
  fields.maxLnbRecords = maxLnbRecords_->text();
  return fields;
}

void ScriptInfoDialog::SetFields(const ScriptInfoFields& fields) {
  (fields.flash ? flash_ : eeprom_)->setChecked(true);
  startAddress_->setText(fields.startAddress);
  endAddress_->setText(fields.endAddress);
  imageType_->setCurrentIndex(fields.imageType);
  deviceId_->setText(fields.deviceId);
  // The lists first: a choice that closes a dependent field empties it.
  partitionId_->setCurrentIndex(fields.partitionId);
  partitionType_->setCurrentIndex(fields.partitionType);
  ApplyEnables();
  blockSize_->setText(fields.blockSize);
  totalBlocks_->setText(fields.totalBlocks);
  maxLnbRecords_->setText(fields.maxLnbRecords);
}

// A dependent field closed by the lists' choice is emptied along with being disabled.
void ScriptInfoDialog::ApplyEnables() {
  const ScriptInfoEnables enables =
      EnablesFor(partitionId_->currentIndex(), partitionType_->currentIndex());
  auto apply = [](bool enabled, QLabel* label, QLineEdit* edit) {
    if (!enabled) edit->clear();
    edit->setEnabled(enabled);
    label->setEnabled(enabled);
  };
  apply(enables.maxLnbRecords, maxLnbLabel_, maxLnbRecords_);
  apply(enables.blockFields, blockSizeLabel_, blockSize_);
  apply(enables.blockFields, totalBlocksLabel_, totalBlocks_);
}

void ScriptInfoDialog::Ok() {
  const ScriptInfoFields fields = Fields();
  if (const std::optional<ScriptInfoError> error = ValidateScriptInfo(fields)) {
    QLineEdit* edit = Edit(error->focus);
    if (error->clearField) edit->clear();
    prompts_.Message(this, QString::fromLatin1(kScriptsCaption),
                     QString::fromLatin1(error->message), PromptIcon::kExclamation);
    edit->setFocus();
    return;
  }
  const scripts::ScriptRecord record = BuildScriptRecord(fields);
  const scripts::Status stored = recordNumber_ == 0 ? store_.AppendRecord(record)
                                                    : store_.RewriteRecord(recordNumber_, record);
  if (!stored) {
    // The entries stay in the dialog; the store still holds what it held.
    ShowFileError();
    return;
  }
  written_ = EnteredRow(fields);
  done(Accepted);
}

void ScriptInfoDialog::done(int /*result*/) {
  QDialog::done(Accepted);
}

QLineEdit* ScriptInfoDialog::Edit(ScriptInfoField field) const {
  switch (field) {
    case ScriptInfoField::kStartAddress:
      return startAddress_;
    case ScriptInfoField::kEndAddress:
      return endAddress_;
    case ScriptInfoField::kDeviceId:
      return deviceId_;
    case ScriptInfoField::kMaxLnbRecords:
      return maxLnbRecords_;
    case ScriptInfoField::kBlockSize:
      return blockSize_;
    case ScriptInfoField::kTotalBlocks:
      return totalBlocks_;
  }
  return nullptr;
}

QLabel* ScriptInfoDialog::Label(ScriptInfoField field) const {
  switch (field) {
    case ScriptInfoField::kMaxLnbRecords:
      return maxLnbLabel_;
    case ScriptInfoField::kBlockSize:
      return blockSizeLabel_;
    case ScriptInfoField::kTotalBlocks:
      return totalBlocksLabel_;
    default:
      return nullptr;  // the other fields' labels are never disabled
  }
}

void ScriptInfoDialog::ShowFileError() {
  prompts_.Message(this, Latin1(scripts::kFileAccessErrorCaption),
                   Latin1(scripts::kFileAccessErrorText), PromptIcon::kNone);
}

}  // namespace tavrin::app
