// Enter in the program's dialogs: on a focused push button it presses that button; on any
// other control it presses the dialog's default button, if it has one. Qt's buttons that
// are kept from becoming the default (so that Enter in a list presses nothing) would
// otherwise pass Enter on to the default button: Tab to Cancel, Enter, and OK ran.
// UI thread only.
#pragma once

class QDialog;

namespace tavrin::app {

// Makes Enter press the focused push button of `dialog`.
void PressFocusedButtonOnEnter(QDialog& dialog);

}  // namespace tavrin::app
