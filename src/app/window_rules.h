// The state rules of the main window as plain functions over plain data: which menu items,
// toolbar buttons and panel controls are on, what the progress label shows and where the
// keyboard focus goes. The main window applies the result to its widgets; tests call the
// rules without a widget. UI thread (the data has no lock).
#pragma once

#include <map>
#include <string>

namespace tavrin::app {

// Where a rule puts the keyboard focus.
enum class FocusTarget { kUnchanged, kTerminal, kMainWindow, kOutput };

struct ControlStates {
  std::map<int, bool> menu;      // menu command id -> enabled (false: grayed)
  std::map<int, bool> toolbar;   // toolbar button id -> enabled
  std::map<int, bool> panel;     // panel control id -> enabled (buttons and label 1018)
  bool countersShown = true;     // the panel's sent (1013) and total (1014) fields
  bool progressBarShown = true;  // the panel's progress bar (1005)
  bool progressLabelShown = true;
  std::string progressLabelText;
  bool pauseShowsContinue = false;  // toolbar 6007 shows image 8 (Continue), else 7 (Pause)
  FocusTarget focus = FocusTarget::kUnchanged;  // the last focus a rule asked for

  bool Menu(int id) const { return menu.at(id); }
  bool Toolbar(int id) const { return toolbar.at(id); }
  bool Panel(int id) const { return panel.at(id); }
};

// What the rules read: the connected flag and the transfer's running flag and mode.
struct TransferFlags {
  bool connected = false;
  bool running = false;
  bool download = false;  // download mode (else upload)
};

// The flags as the rules read them from the transfer. A download goes on after its command
// image has been sent, with the transfer's running flag already clear, until its regions
// are in: for the menus and buttons it runs as long as its thread is active in download
// mode. The save question at its end comes after the mode is back to upload.
TransferFlags ReadTransferFlags(bool connected, bool runningFlag, bool downloadMode,
                                bool transferActive);

// Texts of the progress label.
inline constexpr const char* kUploadingText = "Uploading inprogress...";
inline constexpr const char* kDownloadingText = "Downloading inprogress...";

// The states as the resources define them: every item on except the menu's grayed
// Download (40015) and COM Port Testing (40014); every toolbar button and panel control on.
ControlStates ResourceControlStates();
// After the main window's creation: the resource states, rule U (not connected), rule R
// (no transfer) and Disconnect, Upload, Download and Cancel off on the toolbar.
ControlStates StartUpControlStates();

// Rule U, the connection-state update.
void UpdateConnectionState(ControlStates& states, bool connected);
// Rule R, the transfer-state refresh: rule U, then the running or idle part.
void RefreshTransferState(ControlStates& states, const TransferFlags& flags);

// Connect, after the port opened and the connected flag is set: COM Port Testing and
// Download on; toolbar Connect and Port Settings off, Disconnect, Upload, Download on.
void ApplyConnectSteps(ControlStates& states);
// Disconnect answered No: rule U with the connection still up; a running transfer keeps
// the states that rule R gives it.
void ApplyDisconnectDeclined(ControlStates& states, const TransferFlags& flags);
// Disconnect answered Yes (after the transfer was stopped and the port closed): rule R
// for "connected, no transfer", the Disconnect steps, rule U not connected.
void ApplyDisconnectSteps(ControlStates& states);
// The start of an upload (after the file was chosen) and of a download.
void ApplyUploadStartSteps(ControlStates& states);
void ApplyDownloadStartSteps(ControlStates& states);
// Cancel from the menu or the toolbar.
void ApplyCancelSteps(ControlStates& states);
// The panel's own Cancel button, which does less.
void ApplyPanelCancelSteps(ControlStates& states);
// The closing steps of a transfer that ends on its own.
void ApplyTransferIdleSteps(ControlStates& states);
// The image has gone (either mode): COM Port Testing on. A download's receive phase runs
// with it on and Upload, Download and Cancel as its start set them.
void ApplyComPortTestingOffered(ControlStates& states);
// Pause toggled: the toolbar button shows Continue while paused.
void ApplyPauseToggled(ControlStates& states, bool paused);

// The tooltip of toolbar button 6007 for its current picture.
const char* PauseTooltip(const ControlStates& states);

}  // namespace tavrin::app
