// Helpers of the window tests: prompts answered without a person, a bounded wait in the UI
// thread's event loop, QString in failure messages, and the widgets the tests reach into.
#pragma once

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <deque>
#include <optional>
#include <ostream>
#include <vector>

#include "app/user_prompts.h"

// GoogleTest prints a QString as its text.
inline void PrintTo(const QString& text, std::ostream* out) {
  *out << '"' << text.toStdString() << '"';
}

namespace tavrin::app::testing {

// Runs the event loop until `done()` holds or `limitMs` has passed. It sleeps until an
// event comes; a tick now and then also sees a state that another thread changed without
// posting one.
template <typename Predicate>
bool PumpUntil(Predicate done, int limitMs = 10000) {
  QElapsedTimer elapsed;
  elapsed.start();
  QTimer tick;
  tick.start(20);
  while (!done()) {
    if (elapsed.elapsed() > limitMs) return false;
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  }
  return true;
}

struct ShownMessage {
  QString caption;
  QString text;
  PromptIcon icon;
  bool question;  // Yes/No rather than OK
};

// Answers the window's message boxes and file dialogs and records what was shown. Tests
// queue the answers; a dialog with no answer queued is cancelled, a question answered No.
class FakePrompts final : public UserPrompts {
 public:
  void Message(QWidget*, const QString& caption, const QString& text, PromptIcon icon) override {
    messages.push_back({caption, text, icon, false});
  }
  bool AskYesNo(QWidget*, const QString& caption, const QString& text, PromptIcon icon) override {
    messages.push_back({caption, text, icon, true});
    if (yesNoAnswers.empty()) return false;
    const bool yes = yesNoAnswers.front();
    yesNoAnswers.pop_front();
    return yes;
  }
  std::optional<QString> OpenFile(QWidget*, const FileDialogSpec& spec) override {
    return Answer(spec);
  }
  std::optional<QString> SaveFile(QWidget*, const FileDialogSpec& spec) override {
    return Answer(spec);
  }
  QString LastText() const { return messages.empty() ? QString() : messages.back().text; }
  QStringList Texts() const {
    QStringList texts;
    for (const ShownMessage& message : messages) texts << message.text;
    return texts;
  }

  std::vector<ShownMessage> messages;
  std::vector<FileDialogSpec> dialogs;  // every file dialog shown, in order
  std::deque<bool> yesNoAnswers;        // Yes/No answers, in order
  std::deque<QString> fileAnswers;      // file dialog answers; a null QString: cancel

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
