#include "app/find_dialog.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/find_text.h"
#include "app/output_view.h"

namespace tavrin::app {

FindDialog::FindDialog(OutputView* output, UserPrompts& prompts, QWidget* parent)
    : QDialog(parent), output_(output), prompts_(prompts) {
  setWindowTitle(QLatin1String(kFindTitle));
  setModal(false);

  auto* label = new QLabel(QLatin1String(kFindWhatText), this);
  findText_ = new QLineEdit(this);
  findText_->setMaxLength(kFindTextMaxLength);
  label->setBuddy(findText_);
  matchCase_ = new QCheckBox(QLatin1String(kMatchCaseText), this);
  findNext_ = new QPushButton(QLatin1String(kFindNextText), this);
  findNext_->setDefault(true);
  findNext_->setEnabled(false);
  auto* cancel = new QPushButton(QLatin1String(kFindCancelText), this);

  auto* what = new QHBoxLayout;
  what->addWidget(label);
  what->addWidget(findText_, 1);
  auto* left = new QVBoxLayout;
  left->addLayout(what);
  left->addWidget(matchCase_);
  left->addStretch(1);
  auto* buttons = new QVBoxLayout;
  buttons->addWidget(findNext_);
  buttons->addWidget(cancel);
  buttons->addStretch(1);
  auto* layout = new QHBoxLayout(this);
  layout->addLayout(left, 1);
  layout->addLayout(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);

  connect(findText_, &QLineEdit::textChanged, this,
          [this](const QString& text) { findNext_->setEnabled(!text.isEmpty()); });
  connect(findNext_, &QPushButton::clicked, this, &FindDialog::FindNext);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

void FindDialog::ShowFind() {
  // While the dialog is open the command does nothing: it is not even brought forward.
  if (isVisible()) return;
  matchCase_->setChecked(true);
  findStarted_ = false;
  findText_->selectAll();
  findText_->setFocus();
  show();
  raise();
  activateWindow();
}

void FindDialog::FindNext() {
  if (output_ == nullptr) return;
  const FindRequest request{output_->Selection(), matchCase_->isChecked()};
  const std::optional<std::string> bytes = FindTextBytes(findText_->text());
  bool started = findStarted_;
  // The capture is searched where it lies, in the file; a search through much of a long
  // capture shows its progress and can be stopped (then nothing is selected or said).
  const OutputText& text = output_->Content();
  const std::string findBytes = bytes.value_or(std::string());
  FindOutcome outcome;
  const auto search = [&](const OutputView::WorkProgress& progress) {
    outcome = FindNextMatch(SourceOf(text), findBytes, request, started, progress);
  };
  const std::size_t from = std::min(request.selection.start, text.Size());
  bool finished = true;
  if (text.Size() - from <= kLongWorkBytes) {
    search({});
  } else {
    finished = output_->RunLong(tr("Searching..."), search);
  }
  findStarted_ = started;
  if (!finished || outcome.stopped) return;
  const std::optional<TextRange>& match = outcome.match;
  if (match) {
    output_->SetSelection(match->start, match->end);
  } else {
    prompts_.Message(parentWidget(), QLatin1String(kFindCaption), CannotFindText(findText_->text()),
                     PromptIcon::kInformation);
  }
  // The dialog keeps the focus for the next request.
  if (isVisible()) activateWindow();
}

void FindDialog::done(int result) {
  QDialog::done(result);
  findStarted_ = false;
  if (output_ != nullptr) output_->setFocus();
}

}  // namespace tavrin::app
