// The "Script Information" dialog: the form in which the operator enters one script record
// (Add) or changes one (Edit). The entries are checked while typed (hexadecimal fields
// take hexadecimal digits only, shown in capitals) and again on OK, in a fixed order, the
// first failure naming the field that gets the focus. A record that passes is written to
// the script store and the row the script list shows for it is handed back.
// Opened modally by the script list dialog; UI thread only.
#pragma once

#include <QDialog>
#include <QString>
#include <QValidator>
#include <cstdint>
#include <optional>

#include "app/user_prompts.h"
#include "scripts/script_list_rows.h"
#include "scripts/script_record.h"
#include "scripts/script_store.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace tavrin::app {

// Fixed texts of the dialog.
inline constexpr const char* kScriptInfoTitle = "Script Information";
inline constexpr const char* kStartAddress4Bytes = "StartAddress should be 4 bytes";
inline constexpr const char* kStartAddressMissing = "StartAddress should be entered";
inline constexpr const char* kEndAddress4Bytes = "EndAddress should be 4 bytes";
inline constexpr const char* kEndAddressMissing = "EndAddress should be entered";
inline constexpr const char* kEndBelowStart = "End Address should be greater than Start Address";
inline constexpr const char* kDeviceIdMissing = "Device ID should be entered";
inline constexpr const char* kAbove255 = "Value should not exceed 255";
inline constexpr const char* kMaxLnbMissing = "Max. LNB support should be entered";
inline constexpr const char* kAbove65535 = "Value should not exceed 65535";
inline constexpr const char* kBlockSizeMissing = "Block Size should be entered";
inline constexpr const char* kTotalBlocksMissing = "Total Blocks should be entered";

// Positions preselected in the lists when the dialog opens.
inline constexpr int kDefaultImageType = 2;      // "Active Database"
inline constexpr int kDefaultPartitionId = 0;    // "eDBE "
inline constexpr int kDefaultPartitionType = 0;  // "SBP "
// The list positions that open the dependent fields.
inline constexpr int kLsdPosition = 1;  // "LSD ": Max. LNB Record Support
inline constexpr int kMbpPosition = 1;  // "MBP ": Block Size and Total Blocks

// Character limits of the edit fields.
inline constexpr int kAddressDigits = 8;
inline constexpr int kDeviceIdDigits = 4;
inline constexpr int kBlockDigits = 5;
inline constexpr int kLnbDigits = 3;

// The entries as the dialog holds them: texts as typed, list positions 0-based.
struct ScriptInfoFields {
  bool flash = true;  // "&Flash" selected, else "&EEPROM"
  QString startAddress;
  QString endAddress;
  int imageType = kDefaultImageType;
  QString deviceId;
  int partitionId = kDefaultPartitionId;
  int partitionType = kDefaultPartitionType;
  QString blockSize;
  QString totalBlocks;
  QString maxLnbRecords;

  bool operator==(const ScriptInfoFields&) const = default;
};

enum class ScriptInfoField {
  kStartAddress,
  kEndAddress,
  kDeviceId,
  kMaxLnbRecords,
  kBlockSize,
  kTotalBlocks
};

// The first entry error found on OK: its message, the field that gets the focus, and
// whether that field is emptied before the message shows.
struct ScriptInfoError {
  const char* message;
  ScriptInfoField focus;
  bool clearField;

  bool operator==(const ScriptInfoError&) const = default;
};

std::optional<ScriptInfoError> ValidateScriptInfo(const ScriptInfoFields& fields);
// The record of entries that passed validation.
scripts::ScriptRecord BuildScriptRecord(const ScriptInfoFields& fields);
// The list row of entries that passed: the address and device texts as entered.
scripts::ScriptListRow EnteredRow(const ScriptInfoFields& fields);
// The entries that show `record` (Edit): hexadecimal without leading zeros, the dependent
// fields only where their partition choice holds them. A coded value outside its list
// shows the list's preselection.
ScriptInfoFields FieldsOfRecord(const scripts::ScriptRecord& record);

// Which dependent fields (with their labels) are enabled for the list positions.
struct ScriptInfoEnables {
  bool maxLnbRecords;
  bool blockFields;  // Block Size and Total Blocks

  bool operator==(const ScriptInfoEnables&) const = default;
};
ScriptInfoEnables EnablesFor(int partitionId, int partitionType);

// Whether `text` holds hexadecimal digits only (empty passes).
bool IsHexEntry(const QString& text);

// The hexadecimal entry filter: a change that would put anything but a hexadecimal digit
// into the field is undone as a whole (a typed G, a pasted 12G4); letters show in capitals.
class HexEntryValidator final : public QValidator {
 public:
  using QValidator::QValidator;
  State validate(QString& input, int& position) const override;
};

class ScriptInfoDialog final : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kResourceId = 114;
  static constexpr QSize kSizeUnits{322, 154};

  // Add: a new record goes after the last one.
  ScriptInfoDialog(scripts::ScriptStore& store, UserPrompts& prompts, QWidget* parent);
  // Edit: record `recordNumber` (1-based), which holds `shown`, is rewritten.
  ScriptInfoDialog(scripts::ScriptStore& store, std::uint32_t recordNumber,
                   const scripts::ScriptRecord& shown, UserPrompts& prompts, QWidget* parent);

  ScriptInfoFields Fields() const;
  void SetFields(const ScriptInfoFields& fields);

  // "&Ok": validates, writes the record and closes; a failure leaves the dialog open.
  void Ok();
  // Every way of closing ends the dialog with 1.
  void done(int result) override;

  // The row to show for the record written by OK; nullopt after Cancel.
  const std::optional<scripts::ScriptListRow>& WrittenRow() const { return written_; }

  QLineEdit* Edit(ScriptInfoField field) const;
  QLabel* Label(ScriptInfoField field) const;
  QRadioButton* FlashButton() const { return flash_; }
  QRadioButton* EepromButton() const { return eeprom_; }
  QComboBox* ImageTypeList() const { return imageType_; }
  QComboBox* PartitionIdList() const { return partitionId_; }
  QComboBox* PartitionTypeList() const { return partitionType_; }
  QPushButton* OkButton() const { return ok_; }

 private:
  ScriptInfoDialog(scripts::ScriptStore& store, std::uint32_t recordNumber, UserPrompts& prompts,
                   QWidget* parent);
  void BuildWidgets();
  QWidget* BuildCommandGroup();
  QWidget* BuildHeaderGroup();
  void ApplyEnables();
  void ShowFileError();

  scripts::ScriptStore& store_;
  UserPrompts& prompts_;
  std::uint32_t recordNumber_;  // 0 in Add mode
  std::optional<scripts::ScriptListRow> written_;

  QRadioButton* flash_ = nullptr;
  QRadioButton* eeprom_ = nullptr;
  QLineEdit* startAddress_ = nullptr;
  QLineEdit* endAddress_ = nullptr;
  QComboBox* imageType_ = nullptr;
  QLineEdit* deviceId_ = nullptr;
  QComboBox* partitionId_ = nullptr;
  QComboBox* partitionType_ = nullptr;
  QLineEdit* blockSize_ = nullptr;
  QLineEdit* totalBlocks_ = nullptr;
  QLineEdit* maxLnbRecords_ = nullptr;
  QLabel* blockSizeLabel_ = nullptr;
  QLabel* totalBlocksLabel_ = nullptr;
  QLabel* maxLnbLabel_ = nullptr;
  QPushButton* ok_ = nullptr;
};

}  // namespace tavrin::app
