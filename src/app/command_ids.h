// Resource and command ids of the main window: menu items, toolbar buttons, the transfer
// panel's controls and the child windows. Tests and readers find "button 1011" here.
#pragma once

namespace tavrin::app {

// Resources.
inline constexpr int kMainMenuId = 102;          // the menu bar
inline constexpr int kAcceleratorTableId = 103;  // the keys of the menu commands
inline constexpr int kTransferPanelTemplate = 106;
inline constexpr int kToolbarId = 112;
// The output window (130) has its id, kOutputWindowId, next to OutputView.
inline constexpr int kLineInputId = 131;            // the line input box below it
inline constexpr int kBitmapLineInputShown = 199;   // toggle picture while the line is shown
inline constexpr int kBitmapLineInputHidden = 200;  // toggle picture while it is hidden

// Menu commands (menu 102).
namespace cmd {
inline constexpr int kConnect = 40001;
inline constexpr int kExit = 40002;
inline constexpr int kAbout = 40003;
inline constexpr int kDisconnect = 40005;
inline constexpr int kUpload = 40006;
inline constexpr int kPortSettings = 40007;
inline constexpr int kSave = 40008;
inline constexpr int kCancel = 40011;
inline constexpr int kClear = 40013;
inline constexpr int kComPortTesting = 40014;
inline constexpr int kDownload = 40015;
inline constexpr int kCreateDownloadScript = 40016;
inline constexpr int kConvertAdbToSdb = 40018;
inline constexpr int kCopy = 40022;
inline constexpr int kSelectAll = 40024;
inline constexpr int kFind = 40025;
}  // namespace cmd

// Toolbar buttons (toolbar 112), each issuing the command of the same name.
namespace tb {
inline constexpr int kConnect = 6000;
inline constexpr int kDisconnect = 6001;
inline constexpr int kSave = 6002;
inline constexpr int kPortSettings = 6003;
inline constexpr int kUpload = 6004;
inline constexpr int kDownload = 6005;
inline constexpr int kCancel = 6006;
inline constexpr int kPause = 6007;  // toggles the transfer's pause
}  // namespace tb

// Controls of the transfer panel (template 106).
namespace panel {
inline constexpr int kProgressBar = 1005;
inline constexpr int kReceiveIndicator = 1010;  // "R"
inline constexpr int kUpload = 1011;
inline constexpr int kFileNameLabel = 1012;
inline constexpr int kSentField = 1013;
inline constexpr int kTotalField = 1014;
inline constexpr int kFileName = 1015;
inline constexpr int kConnectionSummary = 1016;
inline constexpr int kDownload = 1017;
inline constexpr int kPacketsSentLabel = 1018;
inline constexpr int kSendIndicator = 1019;  // "T"
inline constexpr int kPause = 1020;
inline constexpr int kSaveLogFile = 1024;
inline constexpr int kCancel = 1025;
inline constexpr int kLineInputToggle = 1034;
}  // namespace panel

}  // namespace tavrin::app
