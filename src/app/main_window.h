// The main window: menu 102 with accelerator table 103, the toolbar with its progress
// label, the output window, the line input box, the terminal screen window that holds the
// focus, and the transfer panel along the bottom. Every menu item, key, toolbar button and
// panel button reaches DispatchCommand. The window builds the one PortCore of the program
// and shows what it reports: its TransferView calls arrive from the engine's threads and
// are queued to the UI thread. Creating the window makes the temporary directory ~zvqTemp
// with the capture file in it; destroying it runs the shut-down sequence that removes them.
// UI thread only.
#pragma once

#include <QMainWindow>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>

#include "app/about_box.h"
#include "app/com_test_dialog.h"
#include "app/find_dialog.h"
#include "app/output_view.h"
#include "app/port_settings_dialog.h"
#include "app/queued_views.h"
#include "app/settings_store.h"
#include "app/terminal_screen_widget.h"
#include "app/user_prompts.h"
#include "app/window_layout.h"
#include "app/window_rules.h"
#include "core/port_core.h"
#include "scripts/script_store.h"
#include "serial/port_diagnosis.h"
#include "serial/port_list.h"
#include "serial/port_settings.h"
#include "transfer/transfer_view.h"

class QAction;

namespace tavrin::app {

class LineInputBox;
class MainToolbar;
class TransferPanel;

// The window's caption and the name of its temporary directory.
inline constexpr const char* kWindowTitle = "Tavrin 1.1";
inline constexpr const char* kTemporaryDirectoryName = "~zvqTemp";
// The question before a connection is dropped (the leading blank belongs to it).
inline constexpr const char* kDisconnectQuestion = " Do you want to Disconnect ?";
inline constexpr const char* kDisconnectCaption = "Tavrin";
// The Download command's open dialog and the downloaded file's save dialog.
inline constexpr const char* kDownloadOpenTitle = "Open";
inline constexpr const char* kDownloadScriptFilterName = "Download Script Files (*.DSF)";
inline constexpr const char* kDownloadSaveTitle = "Save Downloaded File";

// What the window is built from; every reference outlives the window.
struct MainWindowDeps {
  UserPrompts& prompts;
  SettingsStore& settingsStore;
  serial::ErrorSink& errors;
  // The current directory at start-up: ~zvqTemp is made in it.
  std::filesystem::path workDir;
  // Opens the port at Connect; empty: the system's serial ports, the failed open's errno
  // kept for the diagnosis below.
  serial::DeviceFactory deviceFactory;
  serial::LinkTimings linkTimings{};
  // The Port Settings dialog; empty: the program's own dialog.
  std::function<PortDialogOutcome(QWidget*, const serial::PortSettings&)> portSettingsDialog;
  // The serial ports of this machine (the Port Settings list, and those a missing port's
  // diagnosis names); empty: the device manager's.
  std::function<serial::PortList()> listPorts;
  // Why the port named could not be opened, given the open's errno (0: unknown); empty:
  // the system's view (/proc, /dev, the user's groups).
  std::function<serial::PortDiagnosis(std::string_view portName, int error)> diagnose;
};

class MainWindow final : public QMainWindow, private transfer::TransferView {
 public:
  explicit MainWindow(MainWindowDeps deps);
  // The shut-down sequence: capture file closed and deleted, the engine released, the
  // working files deleted, ~zvqTemp removed unless files remain in it.
  ~MainWindow() override;

  // Runs one command: a menu id (40001..40025), a toolbar id (6000..6007) or one of the
  // panel's buttons (1011, 1017, 1020, 1024, 1025, 1034). Other ids are ignored.
  void DispatchCommand(int id);

  // The connection-state update and the transfer-state refresh, applied to the widgets.
  void UpdateConnectionState();
  void RefreshTransferState() override;

  const ControlStates& States() const { return states_; }
  const serial::PortSettings& Settings() const { return settings_; }
  core::PortCore& Core() { return *core_; }
  const std::filesystem::path& TempDir() const { return tempDir_; }
  bool LineInputShown() const { return lineInputShown_; }

  QAction* MenuAction(int id) const { return menuActions_.at(id); }
  MainToolbar* Toolbar() const { return toolbar_; }
  TransferPanel* Panel() const { return panel_; }
  OutputView* Output() const { return output_; }
  LineInputBox* LineInput() const { return lineInput_; }
  TerminalScreenWidget* Terminal() const { return terminal_; }
  int BaseUnitHeight() const { return baseUnitHeight_; }

 protected:
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildMenu();
  void BuildChildren();
  void CreateTemporaryDirectory();
  void ApplyStates();
  void LayOut();
  TransferFlags Flags() const;

  // Commands.
  void Connect();
  void Disconnect();
  void Save();
  void Clear();
  void Upload();
  void Download();
  void Cancel();
  void PanelCancel();
  void TogglePause();
  // `cause`: why the last Connect could not open the port, shown under the controls.
  void ShowPortSettings(const QString& cause = QString());
  // The failed Connect's cause and what to do, in one line.
  QString OpenFailureCause() const;
  serial::PortList ListPorts() const;
  void ShowFind();
  void ToggleLineInput();
  // The Process menu's dialogs, modal.
  void ShowScriptList();
  void ShowAdbToSdb();
  void ShowComTest();
  bool ConfirmDisconnect();
  // Disconnect and close, after the question: the transfer is stopped, then the port closed.
  void StopAndDisconnect();
  // The save question of a download that ended while the window waited for it.
  // The shut-down without a question, after the settings store failed.
  void ShutDownWithoutQuestion();

  // TransferView, on the UI thread (the queued view calls these).
  void SetSendIndicator(bool shown) override;
  void SetReceiveIndicator(bool shown) override;
  void SetTotal(std::optional<std::uint32_t> total) override;
  void SetSent(std::optional<std::uint32_t> sent) override;
  void SetFileName(std::filesystem::path path) override;
  void SetProgressRange(std::uint32_t max) override;
  void SetProgressPosition(std::uint32_t position) override;
  void StepProgress() override;
  void ShowProgressBar(bool shown) override;
  void HideProgressLabel() override;
  void TransferControlsIdle() override;
  void OfferComPortTesting() override;
  void ShowMessage(std::string caption, std::string text, transfer::MessageIcon icon) override;
  void AskDownloadSavePath(transfer::DownloadSaveQuestion question) override;

  MainWindowDeps deps_;
  serial::PortSettings settings_;
  ControlStates states_;
  std::filesystem::path tempDir_;
  bool lineInputShown_ = false;
  bool closeWithoutQuestion_ = false;
  int baseUnitHeight_ = 16;
  int openError_ = 0;  // errno of the last open that failed (UI thread: Connect opens)

  std::map<int, QAction*> menuActions_;
  QWidget* client_ = nullptr;
  MainToolbar* toolbar_ = nullptr;
  TransferPanel* panel_ = nullptr;
  TerminalScreenWidget* terminal_ = nullptr;
  OutputView* output_ = nullptr;
  LineInputBox* lineInput_ = nullptr;
  std::unique_ptr<FindDialog> find_;

  // The records of the Download Script dialog, kept from one opening to the next.
  std::unique_ptr<scripts::ScriptStore> scriptStore_;
  // The engine's threads call these; they outlive the core.
  ComTestRelay comTestRelay_;
  QueuedTransferView queuedView_;
  std::unique_ptr<OutputViewSink> outputSink_;
  std::unique_ptr<core::PortCore> core_;
};

}  // namespace tavrin::app
