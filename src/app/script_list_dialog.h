// The "Download Script" dialog: the list of the download script being edited, one row per
// record of the script store, with Add and Edit (through the "Script Information" dialog),
// Delete, Save As and Load from file. Rows and records correspond one to one: row i shows
// record i + 1. Opened modally (exec()) from the Process menu; UI thread only.
#pragma once

#include <QDialog>
#include <QFont>
#include <QRect>
#include <QSize>
#include <QString>
#include <cstdint>

#include "app/user_prompts.h"
#include "scripts/script_list_rows.h"
#include "scripts/script_store.h"

class QLabel;
class QPushButton;
class QTableWidget;

namespace tavrin::app {

// A file dialog filter: the name as the operator sees it, followed by the pattern in
// parentheses ("URT Files (*.URT)"; "Download Script File (*.DSF) (*.dsf)"). The file
// dialogs show the name alone and match the pattern in either case.
QString FileFilter(const char* name, const char* pattern);

// Fixed texts of the script dialogs.
inline constexpr const char* kScriptListTitle = "Download Script";
inline constexpr const char* kScriptListLabel = "Download Script List";
inline constexpr const char* kSelectScriptToEdit = "Select the script to edit";
inline constexpr const char* kSelectScriptToDelete = "Select the script to delete";
inline constexpr const char* kScriptsCaption = "Tavrin 1.1";
inline constexpr const char* kDsfFilterName = "Download Script File (*.DSF)";
inline constexpr const char* kDsfPattern = "*.dsf";
inline constexpr const char* kDsfSuffix = "dsf";

// When Edit, Delete and Save As are enabled.
enum class ScriptListEvent {
  kOpened,      // the dialog opens on what the store already holds
  kInfoClosed,  // the script information dialog closed (OK or Cancel)
  kDeleted,     // a record was deleted
  kLoaded,      // a DSF file was loaded
};
bool RecordButtonsEnabled(ScriptListEvent event, std::uint32_t recordCount, bool enabledBefore);

class ScriptListDialog final : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kResourceId = 113;
  static constexpr int kColumnWidth = 112;  // pixels, each of the five columns
  static constexpr QSize kSizeUnits{480, 178};

  // Opens on the records the store already holds, shown as loaded rows.
  ScriptListDialog(scripts::ScriptStore& store, UserPrompts& prompts, QWidget* parent);

  // The buttons' commands.
  void Add();
  void Edit();
  void Delete();
  void SaveAs();
  void LoadFromFile();

  QTableWidget* List() const { return list_; }
  QPushButton* AddButton() const { return add_; }
  QPushButton* EditButton() const { return edit_; }
  QPushButton* DeleteButton() const { return delete_; }
  QPushButton* SaveAsButton() const { return saveAs_; }
  QPushButton* LoadButton() const { return load_; }
  // The five texts of `row`, in column order.
  scripts::ScriptListRow RowTexts(int row) const;
  // The row that holds the selection mark; -1 when none does.
  int SelectionMark() const;

 private:
  void BuildWidgets();
  void ShowStoredRecords();
  void AppendRow(const scripts::ScriptListRow& row);
  void SetRowTexts(int row, const scripts::ScriptListRow& texts);
  void SelectRow(int row);
  void SelectLastRecord();
  void EnableRecordButtons(ScriptListEvent event);
  void RunInfoDialog(std::uint32_t editRecord);
  void ShowFileError();
  FileDialogSpec DsfDialog(const char* title) const;

  scripts::ScriptStore& store_;
  UserPrompts& prompts_;
  QTableWidget* list_ = nullptr;
  QPushButton* add_ = nullptr;
  QPushButton* edit_ = nullptr;
  QPushButton* delete_ = nullptr;
  QPushButton* saveAs_ = nullptr;
  QPushButton* load_ = nullptr;
};

}  // namespace tavrin::app
