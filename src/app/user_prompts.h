// The system's message boxes and file dialogs, behind one interface so that the window's
// tests answer them without a person. Nothing else in the window calls QMessageBox or
// QFileDialog. UI thread only.
#pragma once

#include <QString>
#include <QStringList>
#include <optional>

class QWidget;

namespace tavrin::app {

enum class PromptIcon { kNone, kInformation, kExclamation, kStop, kQuestion };

// One file dialog: its title, its filters (name, then its pattern in parentheses: "URT
// Files (*.URT)", made by FileFilter), the name it starts with and the extension added to
// a name typed without one (empty: none). The dialog shows each filter by its name alone
// ("URT Files"). Patterns match names in either case, so that "sample.urt" shows under
// "*.URT".
struct FileDialogSpec {
  QString title;
  QStringList filters;
  QString initialName;
  QString defaultSuffix;
  bool mustExist = true;         // open dialogs: the file must exist
  bool confirmOverwrite = true;  // save dialogs: ask before replacing a file
};

class UserPrompts {
 public:
  virtual ~UserPrompts() = default;

  // A message box with an OK button.
  virtual void Message(QWidget* parent, const QString& caption, const QString& text,
                       PromptIcon icon) = 0;
  // A message box with Yes and No buttons; true for Yes.
  virtual bool AskYesNo(QWidget* parent, const QString& caption, const QString& text,
                        PromptIcon icon) = 0;
  // The open-file and save-file dialogs; nullopt when the operator cancels.
  virtual std::optional<QString> OpenFile(QWidget* parent, const FileDialogSpec& spec) = 0;
  virtual std::optional<QString> SaveFile(QWidget* parent, const FileDialogSpec& spec) = 0;
};

}  // namespace tavrin::app
