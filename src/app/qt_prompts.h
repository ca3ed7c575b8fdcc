// QtPrompts: the real message boxes and file dialogs behind UserPrompts. The file dialogs
// are Qt's own (not the desktop's), because only they can be told to match the patterns
// in either case: "sample.urt" shows under "*.URT", as operators of the program expect.
// UI thread only.
#pragma once

#include "app/user_prompts.h"

class QFileDialog;

namespace tavrin::app {

class QtPrompts final : public UserPrompts {
 public:
  QtPrompts() = default;

  void Message(QWidget* parent, const QString& caption, const QString& text,
               PromptIcon icon) override;
  bool AskYesNo(QWidget* parent, const QString& caption, const QString& text,
                PromptIcon icon) override;
  std::optional<QString> OpenFile(QWidget* parent, const FileDialogSpec& spec) override;
  std::optional<QString> SaveFile(QWidget* parent, const FileDialogSpec& spec) override;
};

// Sets up `dialog` from `spec` for opening (`save` false) or saving; the patterns match
// names in either case. Exposed so that a test can look at the dialog without running it.
void ConfigureFileDialog(QFileDialog& dialog, const FileDialogSpec& spec, bool save);

}  // namespace tavrin::app
