#include "app/qt_prompts.h"

#include <QDir>
#include <QFileDialog>
#include <QHeaderView>
#include <QMessageBox>
#include <QTreeView>

namespace tavrin::app {
namespace {

QMessageBox::Icon BoxIcon(PromptIcon icon) {
  switch (icon) {
    case PromptIcon::kInformation:
      return QMessageBox::Information;
    case PromptIcon::kExclamation:
      return QMessageBox::Warning;
    case PromptIcon::kStop:
      return QMessageBox::Critical;
    case PromptIcon::kQuestion:
      return QMessageBox::Question;
    case PromptIcon::kNone:
      break;
  }
  return QMessageBox::NoIcon;
}

// The box's text is shown as written: plain text, so blanks and line breaks stay.
int RunBox(QWidget* parent, const QString& caption, const QString& text, PromptIcon icon,
           QMessageBox::StandardButtons buttons, QMessageBox::StandardButton defaultButton) {
  QMessageBox box(BoxIcon(icon), caption, text, buttons, parent);
  box.setTextFormat(Qt::PlainText);
  box.setDefaultButton(defaultButton);
  return box.exec();
}

std::optional<QString> RunFileDialog(QWidget* parent, const FileDialogSpec& spec, bool save) {
  QFileDialog dialog(parent);
  ConfigureFileDialog(dialog, spec, save);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  const QStringList chosen = dialog.selectedFiles();
  if (chosen.isEmpty()) return std::nullopt;
  return QDir::toNativeSeparators(chosen.first());
}

}  // namespace

void QtPrompts::Message(QWidget* parent, const QString& caption, const QString& text,
                        PromptIcon icon) {
  RunBox(parent, caption, text, icon, QMessageBox::Ok, QMessageBox::Ok);
}

bool QtPrompts::AskYesNo(QWidget* parent, const QString& caption, const QString& text,
                         PromptIcon icon) {
  return RunBox(parent, caption, text, icon, QMessageBox::Yes | QMessageBox::No,
                QMessageBox::Yes) == QMessageBox::Yes;
}

std::optional<QString> QtPrompts::OpenFile(QWidget* parent, const FileDialogSpec& spec) {
  return RunFileDialog(parent, spec, false);
}

std::optional<QString> QtPrompts::SaveFile(QWidget* parent, const FileDialogSpec& spec) {
  return RunFileDialog(parent, spec, true);
}

void ConfigureFileDialog(QFileDialog& dialog, const FileDialogSpec& spec, bool save) {
  // Qt's own dialog: the desktop's dialog would take the patterns case-sensitively.
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setWindowTitle(spec.title);
  dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  if (save) {
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, !spec.confirmOverwrite);
  } else {
    dialog.setFileMode(spec.mustExist ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
  }
  // Each filter shows its name alone ("URT Files"); the pattern after it still applies.
  dialog.setOption(QFileDialog::HideNameFilterDetails);
  dialog.setNameFilters(spec.filters);
  // Without the CaseSensitive flag the dialog's model matches "*.URT" against
  // "sample.urt" as well.
  dialog.setFilter(dialog.filter() & ~QDir::CaseSensitive);
  dialog.setDefaultSuffix(spec.defaultSuffix);
  if (!spec.initialName.isEmpty()) dialog.selectFile(spec.initialName);
  // The detail columns (size, type, date) fit their texts, so that "104 bytes" is not cut
  // to "104...tes"; the name column takes the rest of the width.
  if (auto* details = dialog.findChild<QTreeView*>()) {
    QHeaderView* header = details->header();
    header->setStretchLastSection(false);
    for (int column = 0; column < header->count(); ++column) {
      header->setSectionResizeMode(
          column, column == 0 ? QHeaderView::Stretch : QHeaderView::ResizeToContents);
    }
  }
}

}  // namespace tavrin::app
