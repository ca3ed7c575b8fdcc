#include "app/script_list_dialog.h"
#include "app/dialog_keys.h"
#include "app/dialog_units.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QFile>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <vector>

#include "app/script_info_dialog.h"
#include "scripts/script_result.h"

namespace tavrin::app {
namespace {

QString Text(std::string_view text) {
  return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

std::filesystem::path LocalPath(const QString& path) {
  return std::filesystem::path(QFile::encodeName(path).toStdString());
}

}  // namespace

QString FileFilter(const char* name, const char* pattern) {
  // The dialog shows what comes before the last parentheses, so a name that holds a
  // pattern of its own ("Download Script File (*.DSF)") is shown whole.
  return QStringLiteral("%1 (%2)").arg(QString::fromLatin1(name), QString::fromLatin1(pattern));
}

bool RecordButtonsEnabled(ScriptListEvent event, std::uint32_t recordCount, bool enabledBefore) {
  switch (event) {
    case ScriptListEvent::kOpened:
      return recordCount != 0;
    case ScriptListEvent::kInfoClosed:
      return enabledBefore || recordCount != 0;
    case ScriptListEvent::kDeleted:
      return enabledBefore && recordCount != 0;
    case ScriptListEvent::kLoaded:
      return true;
  }
  return enabledBefore;
}

ScriptListDialog::ScriptListDialog(scripts::ScriptStore& store, UserPrompts& prompts,
                                   QWidget* parent)
    : QDialog(parent), store_(store), prompts_(prompts) {
  BuildWidgets();
  ShowStoredRecords();
  list_->setFocus();
}

void ScriptListDialog::BuildWidgets() {
  PressFocusedButtonOnEnter(*this);
  setWindowTitle(QString::fromLatin1(kScriptListTitle));
  setFont(DialogFont());

  list_ = new QTableWidget(0, static_cast<int>(scripts::kScriptListColumns.size()), this);
  QStringList captions;
  for (std::string_view caption : scripts::kScriptListColumns) {
    captions << QString::fromLatin1(caption.data(), static_cast<qsizetype>(caption.size()));
  }
  list_->setHorizontalHeaderLabels(captions);
  list_->setSelectionMode(QAbstractItemView::SingleSelection);
  list_->setSelectionBehavior(QAbstractItemView::SelectRows);
  list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  list_->setShowGrid(true);
  list_->setWordWrap(false);
  list_->verticalHeader()->hide();
  list_->verticalHeader()->setDefaultSectionSize(list_->fontMetrics().height() + 4);
  QHeaderView* header = list_->horizontalHeader();
  header->setSectionsClickable(false);
  header->setHighlightSections(false);
  header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  header->setStretchLastSection(false);
  for (int column = 0; column < list_->columnCount(); ++column) {
    list_->setColumnWidth(column, kColumnWidth);
  }
  // The selected row stays marked while the buttons have the focus.
  QPalette palette = list_->palette();
  palette.setColor(QPalette::Inactive, QPalette::Highlight,
                   palette.color(QPalette::Active, QPalette::Highlight));
  palette.setColor(QPalette::Inactive, QPalette::HighlightedText,
                   palette.color(QPalette::Active, QPalette::HighlightedText));
  list_->setPalette(palette);

  add_ = new QPushButton(QStringLiteral("&Add"), this);
  edit_ = new QPushButton(QStringLiteral("&Edit"), this);
  delete_ = new QPushButton(QStringLiteral("&Delete"), this);
  saveAs_ = new QPushButton(QStringLiteral("&Save As"), this);
  load_ = new QPushButton(QStringLiteral("&Load from file"), this);

  auto* buttons = new QVBoxLayout;
  for (QPushButton* button : {add_, edit_, delete_, saveAs_, load_}) {
    button->setAutoDefault(false);  // Enter in the list presses nothing
    buttons->addWidget(button);
  }
  buttons->addStretch();
  auto* left = new QVBoxLayout;
  left->addWidget(new QLabel(QString::fromLatin1(kScriptListLabel), this));
  left->addWidget(list_);
  auto* whole = new QHBoxLayout(this);
  whole->addLayout(left, 1);
  whole->addLayout(buttons);

  connect(add_, &QPushButton::clicked, this, &ScriptListDialog::Add);
  connect(edit_, &QPushButton::clicked, this, &ScriptListDialog::Edit);
  connect(delete_, &QPushButton::clicked, this, &ScriptListDialog::Delete);
  connect(saveAs_, &QPushButton::clicked, this, &ScriptListDialog::SaveAs);
  connect(load_, &QPushButton::clicked, this, &ScriptListDialog::LoadFromFile);

  resize(DialogUnitsToPixels(font(), kSizeUnits).expandedTo(minimumSizeHint()));
}

// Reopening shows what earlier openings left in the store, as loaded rows are shown.
void ScriptListDialog::ShowStoredRecords() {
  list_->setRowCount(0);
  for (std::uint32_t k = 1; k <= store_.RecordCount(); ++k) {
    scripts::Result<scripts::ScriptRecord> record = store_.ReadRecord(k);
    if (!record) {
      ShowFileError();
      break;
    }
    AppendRow(scripts::MakeScriptListRow(*record));
  }
  EnableRecordButtons(ScriptListEvent::kOpened);
}

void ScriptListDialog::Add() {
  RunInfoDialog(0);
  list_->setFocus();
  SelectLastRecord();
}

void ScriptListDialog::Edit() {
  const int row = SelectionMark();
  if (row < 0) {
    prompts_.Message(this, QString::fromLatin1(kScriptsCaption),
                     QString::fromLatin1(kSelectScriptToEdit), PromptIcon::kExclamation);
    return;
  }
  RunInfoDialog(static_cast<std::uint32_t>(row) + 1);
  list_->setFocus();
  SelectRow(row);
}

void ScriptListDialog::Delete() {
  const int row = SelectionMark();
  if (row < 0) {
    prompts_.Message(this, QString::fromLatin1(kScriptsCaption),
                     QString::fromLatin1(kSelectScriptToDelete), PromptIcon::kExclamation);
    return;
  }
  // The store first: when it fails, the record and its row both stay.
  if (!store_.DeleteRecord(static_cast<std::uint32_t>(row) + 1)) {
    ShowFileError();
    return;
  }
  list_->removeRow(row);
  EnableRecordButtons(ScriptListEvent::kDeleted);
  SelectLastRecord();
}

void ScriptListDialog::SaveAs() {
  FileDialogSpec spec = DsfDialog("Save");
  spec.confirmOverwrite = true;
  spec.mustExist = false;
  const std::optional<QString> path = prompts_.SaveFile(this, spec);
  if (!path) return;
  if (!store_.SaveDsf(LocalPath(*path))) ShowFileError();
}

void ScriptListDialog::LoadFromFile() {
  FileDialogSpec spec = DsfDialog("Open");
  spec.mustExist = true;
  const std::optional<QString> path = prompts_.OpenFile(this, spec);
  if (!path) return;
  std::vector<scripts::ScriptListRow> rows;
  const scripts::Result<scripts::DsfLoad> loaded =
      store_.LoadDsf(LocalPath(*path), [&rows](const scripts::ScriptRecord& record) {
        rows.push_back(scripts::MakeScriptListRow(record));
      });
  // A file that could not even be opened leaves the store as it was; a load that failed
  // part way leaves the records read until then, and the rows follow the store.
  const bool storeReplaced = store_.RecordCount() == rows.size();
  if (!loaded) ShowFileError();
  if (!storeReplaced) return;
  list_->setRowCount(0);
  for (const scripts::ScriptListRow& row : rows) AppendRow(row);
  if (loaded) {
    EnableRecordButtons(ScriptListEvent::kLoaded);
  } else {
    EnableRecordButtons(ScriptListEvent::kOpened);
  }
  list_->setFocus();
  SelectRow(0);
}

scripts::ScriptListRow ScriptListDialog::RowTexts(int row) const {
  auto text = [&](int column) {
    const QTableWidgetItem* item = list_->item(row, column);
    return item ? item->text().toStdString() : std::string{};
  };
  return {text(0), text(1), text(2), text(3), text(4)};
}

int ScriptListDialog::SelectionMark() const {
  const QModelIndexList selected = list_->selectionModel()->selectedRows();
  return selected.isEmpty() ? -1 : selected.front().row();
}

void ScriptListDialog::AppendRow(const scripts::ScriptListRow& row) {
  const int at = list_->rowCount();
  list_->insertRow(at);
  SetRowTexts(at, row);
}

void ScriptListDialog::SetRowTexts(int row, const scripts::ScriptListRow& texts) {
  const std::string* columns[] = {&texts.startAddress, &texts.endAddress, &texts.memoryType,
                                  &texts.imageType, &texts.deviceId};
  for (int column = 0; column < list_->columnCount(); ++column) {
    list_->setItem(row, column, new QTableWidgetItem(Text(*columns[column])));
  }
}

void ScriptListDialog::SelectRow(int row) {
  if (row < 0 || row >= list_->rowCount()) {
    list_->clearSelection();
    return;
  }
  list_->setCurrentCell(row, 0);
  list_->selectRow(row);
  list_->scrollToItem(list_->item(row, 0));
}

void ScriptListDialog::SelectLastRecord() {
  SelectRow(static_cast<int>(store_.RecordCount()) - 1);
}

void ScriptListDialog::EnableRecordButtons(ScriptListEvent event) {
  const bool enabled = RecordButtonsEnabled(event, store_.RecordCount(), edit_->isEnabled());
  for (QPushButton* button : {edit_, delete_, saveAs_}) button->setEnabled(enabled);
}

// Add (editRecord 0) or Edit of record `editRecord`; the row follows what was written.
void ScriptListDialog::RunInfoDialog(std::uint32_t editRecord) {
  std::optional<scripts::ScriptListRow> written;
  if (editRecord == 0) {
    ScriptInfoDialog info(store_, prompts_, this);
    info.exec();
    written = info.WrittenRow();
    if (written) AppendRow(*written);
  } else {
    scripts::Result<scripts::ScriptRecord> shown = store_.ReadRecord(editRecord);
    if (!shown) {
      ShowFileError();
      return;
    }
    ScriptInfoDialog info(store_, editRecord, *shown, prompts_, this);
    info.exec();
    written = info.WrittenRow();
    if (written) SetRowTexts(static_cast<int>(editRecord) - 1, *written);
  }
  EnableRecordButtons(ScriptListEvent::kInfoClosed);
}

void ScriptListDialog::ShowFileError() {
  // The box has its OK button only, no icon.
  prompts_.Message(this, Text(scripts::kFileAccessErrorCaption),
                   Text(scripts::kFileAccessErrorText), PromptIcon::kNone);
}

FileDialogSpec ScriptListDialog::DsfDialog(const char* title) const {
  FileDialogSpec spec;
  spec.title = QString::fromLatin1(title);
  spec.filters = QStringList{FileFilter(kDsfFilterName, kDsfPattern)};
  spec.defaultSuffix = QString::fromLatin1(kDsfSuffix);
  return spec;
}

}  // namespace tavrin::app
