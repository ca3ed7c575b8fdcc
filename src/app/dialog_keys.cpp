#include "app/dialog_keys.h"

#include <QDialog>
#include <QKeyEvent>
#include <QPushButton>

namespace tavrin::app {
namespace {

// Sees the Enter that a focused button passed on to its dialog.
class FocusedButtonOnEnter final : public QObject {
 public:
  using QObject::QObject;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::KeyPress) return false;
    const auto* key = static_cast<QKeyEvent*>(event);
    const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
    if (!enter || (key->modifiers() & ~Qt::KeypadModifier)) return false;
    // The dialog's own focus widget: the control the key was typed into.
    auto* button = qobject_cast<QPushButton*>(static_cast<QWidget*>(watched)->focusWidget());
    if (button == nullptr || !button->isEnabled()) return false;
    button->click();
    return true;
  }
};

}  // namespace

void PressFocusedButtonOnEnter(QDialog& dialog) {
  dialog.installEventFilter(new FocusedButtonOnEnter(&dialog));
}

}  // namespace tavrin::app
