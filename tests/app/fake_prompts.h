// Answers the window's message boxes and file dialogs without a person, and records what
// was shown. Tests queue the answers; a dialog with no answer queued is cancelled.
#pragma once

#include <deque>
#include <optional>
#include <vector>

#include "app/user_prompts.h"

namespace tavrin::app::testing {

struct ShownMessage {
  QString caption;
  QString text;
  PromptIcon icon;
  bool question;  // Yes/No rather than OK
};

class FakePrompts final : public UserPrompts {
 public:
  void Message(QWidget*, const QString& caption, const QString& text, PromptIcon icon) override {
    messages.push_back({caption, text, icon, false});
  }
  bool AskYesNo(QWidget*, const QString& caption, const QString& text, PromptIcon icon) override {
    messages.push_back({caption, text, icon, true});
    if (yesNoAnswers.empty()) return false;
    const bool answer = yesNoAnswers.front();
    yesNoAnswers.pop_front();
    return answer;
  }
  std::optional<QString> OpenFile(QWidget*, const FileDialogSpec& spec) override {
    return Answer(spec);
  }
  std::optional<QString> SaveFile(QWidget*, const FileDialogSpec& spec) override {
    return Answer(spec);
  }

  std::vector<ShownMessage> messages;
  std::vector<FileDialogSpec> dialogs;  // every file dialog shown, in order
  std::deque<bool> yesNoAnswers;        // Yes/No answers, in order; none: No
  std::deque<QString> fileAnswers;      // file dialog answers; none or a null QString: cancel

 private:
  std::optional<QString> Answer(const FileDialogSpec& spec) {
    dialogs.push_back(spec);
    if (fileAnswers.empty()) return std::nullopt;
    const QString answer = fileAnswers.front();
    fileAnswers.pop_front();
    if (answer.isNull()) return std::nullopt;
    return answer;
  }
};

}  // namespace tavrin::app::testing
