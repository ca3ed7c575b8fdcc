// Helpers of the window tests: prompts answered without a person, a bounded wait that
// sleeps in the UI thread's event loop, and QString in failure messages.
#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QString>
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
    return !yesNoAnswers.empty() && Take(yesNoAnswers);
  }
  std::optional<QString> OpenFile(QWidget*, const FileDialogSpec& spec) override {
    return Answer(spec);
  }
  std::optional<QString> SaveFile(QWidget*, const FileDialogSpec& spec) override {
    return Answer(spec);
  }
  QString LastText() const { return messages.empty() ? QString() : messages.back().text; }

  std::vector<ShownMessage> messages;
  std::vector<FileDialogSpec> dialogs;  // every file dialog shown, in order
  std::deque<bool> yesNoAnswers;        // Yes/No answers, in order
  std::deque<QString> fileAnswers;      // file dialog answers; a null QString: cancel

 private:
  template <typename T>
  static T Take(std::deque<T>& answers) {
    T answer = answers.front();
    answers.pop_front();
    return answer;
  }
  std::optional<QString> Answer(const FileDialogSpec& spec) {
    dialogs.push_back(spec);
    if (fileAnswers.empty()) return std::nullopt;
    QString answer = Take(fileAnswers);
    if (answer.isNull()) return std::nullopt;
    return answer;
  }
};

}  // namespace tavrin::app::testing
