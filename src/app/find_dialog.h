// The Find dialog over the output window: modeless, it stays open while the operator
// works in the main window. Each Find Next searches the output view forward from its
// selection (see find_text.h) and selects the match, or says "Cannot find "..." " in a
// box owned by the main window. Match case is on at every opening; the find text is
// kept between openings and offered again. Closing it gives the output view the focus.
// UI thread only.
#pragma once

#include <QDialog>

#include "app/user_prompts.h"

class QCheckBox;
class QLineEdit;
class QPushButton;

namespace tavrin::app {

class OutputView;

inline constexpr const char* kFindTitle = "Find";
inline constexpr const char* kFindWhatText = "Fi&nd what:";
inline constexpr const char* kMatchCaseText = "Match &case";
inline constexpr const char* kFindNextText = "&Find Next";
inline constexpr const char* kFindCancelText = "Cancel";
// The find text holds at most this many characters.
inline constexpr int kFindTextMaxLength = 79;

class FindDialog final : public QDialog {
  Q_OBJECT

 public:
  // `parent` is the main window: it owns the dialog and the not-found box.
  FindDialog(OutputView* output, UserPrompts& prompts, QWidget* parent);

  // The Find command: opens the dialog (match case on, the last text offered), or brings
  // an open one to the front unchanged.
  void ShowFind();
  // One Find Next request.
  void FindNext();

  QLineEdit* FindTextEdit() const { return findText_; }
  QCheckBox* MatchCaseBox() const { return matchCase_; }
  QPushButton* FindNextButton() const { return findNext_; }
  bool FindStarted() const { return findStarted_; }

  // Cancel, Escape and the close box end the dialog.
  void done(int result) override;

 private:
  OutputView* output_;
  UserPrompts& prompts_;
  bool findStarted_ = false;
  QLineEdit* findText_ = nullptr;
  QCheckBox* matchCase_ = nullptr;
  QPushButton* findNext_ = nullptr;
};

}  // namespace tavrin::app
