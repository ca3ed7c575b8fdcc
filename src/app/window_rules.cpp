#include "app/window_rules.h"

#include "app/command_ids.h"

namespace tavrin::app {

namespace {

void SetUploadStartOffered(ControlStates& s, bool on) {
  s.menu[cmd::kUpload] = on;
  s.panel[panel::kUpload] = on;
}

void SetCancelOffered(ControlStates& s, bool on) {
  s.menu[cmd::kCancel] = on;
  s.panel[panel::kCancel] = on;
  s.panel[panel::kPause] = on;
}

// The toolbar's Cancel and Pause are always set together.
void SetToolbarCancel(ControlStates& s, bool on) {
  s.toolbar[tb::kCancel] = on;
  s.toolbar[tb::kPause] = on;
}

void SetToolbarTransferStarts(ControlStates& s, bool on) {
  s.toolbar[tb::kUpload] = on;
  s.toolbar[tb::kDownload] = on;
}

// The panel's Download button issues the Download command, so it follows the menu item.
void SetDownloadMenu(ControlStates& s, bool on) {
  s.menu[cmd::kDownload] = on;
  s.panel[panel::kDownload] = on;
}

}  // namespace

TransferFlags ReadTransferFlags(bool connected, bool runningFlag, bool downloadMode,
                                bool transferActive) {
  return {connected, runningFlag || (downloadMode && transferActive), downloadMode};
}

ControlStates ResourceControlStates() {
  ControlStates s;
  for (int id :
       {cmd::kConnect, cmd::kDisconnect, cmd::kSave, cmd::kExit, cmd::kUpload, cmd::kDownload,
        cmd::kCreateDownloadScript, cmd::kConvertAdbToSdb, cmd::kPortSettings, cmd::kCancel,
        cmd::kComPortTesting, cmd::kCopy, cmd::kClear, cmd::kSelectAll, cmd::kFind, cmd::kAbout}) {
    s.menu[id] = true;
  }
  s.menu[cmd::kDownload] = false;
  s.menu[cmd::kComPortTesting] = false;
  for (int id = tb::kConnect; id <= tb::kPause; ++id) s.toolbar[id] = true;
  for (int id : {panel::kUpload, panel::kDownload, panel::kCancel, panel::kPause,
                 panel::kSaveLogFile, panel::kPacketsSentLabel}) {
    s.panel[id] = true;
  }
  s.panel[panel::kDownload] = false;  // follows the grayed Download menu item
  s.progressLabelShown = true;
  return s;
}

ControlStates StartUpControlStates() {
  ControlStates s = ResourceControlStates();
  UpdateConnectionState(s, false);
  RefreshTransferState(s, TransferFlags{});
  s.toolbar[tb::kDisconnect] = false;
  s.toolbar[tb::kUpload] = false;
  s.toolbar[tb::kDownload] = false;
  SetToolbarCancel(s, false);
  s.focus = FocusTarget::kTerminal;
  return s;
}

void UpdateConnectionState(ControlStates& s, bool connected) {
  s.menu[cmd::kConnect] = !connected;
  s.menu[cmd::kDisconnect] = connected;
  SetUploadStartOffered(s, connected);
  s.menu[cmd::kPortSettings] = !connected;
  s.focus = connected ? FocusTarget::kTerminal : FocusTarget::kMainWindow;
  s.menu[cmd::kSave] = true;
  s.menu[cmd::kExit] = true;
  s.panel[panel::kSaveLogFile] = true;
  SetCancelOffered(s, false);
}

void RefreshTransferState(ControlStates& s, const TransferFlags& flags) {
  UpdateConnectionState(s, flags.connected);
  if (flags.running) {
    if (!flags.download) {
      s.progressBarShown = true;
      s.countersShown = true;
      s.panel[panel::kPacketsSentLabel] = true;
    }
    if (flags.connected) {
      SetUploadStartOffered(s, false);
      SetCancelOffered(s, true);
      s.focus = FocusTarget::kMainWindow;
    }
    return;
  }
  s.progressBarShown = false;
  s.countersShown = false;
  s.panel[panel::kPacketsSentLabel] = false;
  if (flags.connected) {
    SetUploadStartOffered(s, true);
    SetCancelOffered(s, false);
    SetDownloadMenu(s, true);
    s.menu[cmd::kComPortTesting] = true;
    SetToolbarTransferStarts(s, true);
    s.toolbar[tb::kCancel] = false;
    s.toolbar[tb::kPause] = false;
    s.focus = FocusTarget::kMainWindow;
  }
}

void ApplyConnectSteps(ControlStates& s) {
  s.menu[cmd::kComPortTesting] = true;
  SetDownloadMenu(s, true);
  s.toolbar[tb::kConnect] = false;
  s.toolbar[tb::kDisconnect] = true;
  s.toolbar[tb::kPortSettings] = false;
  SetToolbarTransferStarts(s, true);
  s.focus = FocusTarget::kOutput;
}

void ApplyDisconnectDeclined(ControlStates& s, const TransferFlags& flags) {
  UpdateConnectionState(s, flags.connected);
  if (flags.running && flags.connected) {
    SetUploadStartOffered(s, false);
    SetCancelOffered(s, true);
  }
}

void ApplyDisconnectSteps(ControlStates& s) {
  RefreshTransferState(s, TransferFlags{true, false, false});
  s.menu[cmd::kComPortTesting] = false;
  SetDownloadMenu(s, false);
  s.toolbar[tb::kConnect] = true;
  s.toolbar[tb::kDisconnect] = false;
  s.toolbar[tb::kPortSettings] = true;
  SetToolbarTransferStarts(s, false);
  SetToolbarCancel(s, false);
  s.progressLabelText.clear();
  UpdateConnectionState(s, false);
}

void ApplyUploadStartSteps(ControlStates& s) {
  s.pauseShowsContinue = false;  // a transfer starts unpaused
  s.progressLabelText = kUploadingText;
  s.progressLabelShown = true;
  s.menu[cmd::kComPortTesting] = false;
  SetDownloadMenu(s, false);
  SetToolbarTransferStarts(s, false);
  SetToolbarCancel(s, true);
}

void ApplyDownloadStartSteps(ControlStates& s) {
  s.pauseShowsContinue = false;
  s.progressLabelText = kDownloadingText;
  s.progressLabelShown = true;
  SetUploadStartOffered(s, false);
  SetDownloadMenu(s, false);
  s.menu[cmd::kComPortTesting] = false;
  s.menu[cmd::kCancel] = true;
  SetToolbarTransferStarts(s, false);
  SetToolbarCancel(s, true);
}

void ApplyCancelSteps(ControlStates& s) {
  s.panel[panel::kCancel] = false;
  s.menu[cmd::kCancel] = false;
  s.progressLabelShown = false;
  s.menu[cmd::kComPortTesting] = true;
  SetDownloadMenu(s, true);
  s.menu[cmd::kUpload] = true;
  SetToolbarTransferStarts(s, true);
  SetToolbarCancel(s, false);
  s.pauseShowsContinue = false;
}

void ApplyPanelCancelSteps(ControlStates& s) {
  s.panel[panel::kCancel] = false;
  s.menu[cmd::kCancel] = false;
  s.menu[cmd::kComPortTesting] = true;
}

void ApplyTransferIdleSteps(ControlStates& s) {
  s.menu[cmd::kComPortTesting] = true;
  SetToolbarTransferStarts(s, true);
  SetToolbarCancel(s, false);
}

void ApplyComPortTestingOffered(ControlStates& s) {
  s.menu[cmd::kComPortTesting] = true;
}

void ApplyPauseToggled(ControlStates& s, bool paused) {
  s.pauseShowsContinue = paused;
}

const char* PauseTooltip(const ControlStates& s) {
  return s.pauseShowsContinue ? "Continue" : "Pause";
}

}  // namespace tavrin::app
