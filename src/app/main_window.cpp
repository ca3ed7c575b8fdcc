#include "app/main_window.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFile>
#include <QMenuBar>
#include <QStyle>
#include <algorithm>
#include <system_error>

#include "app/adb_to_sdb_dialog.h"
#include "app/command_ids.h"
#include "app/line_input_box.h"
#include "app/main_menu.h"
#include "app/main_toolbar.h"
#include "app/script_list_dialog.h"
#include "app/transfer_panel.h"
#include "scripts/temporary_paths.h"
#include "serial/port_list.h"
#include "serial/posix_serial_device.h"
#include "serial/serial_link.h"
#include "transfer/transfer.h"

namespace tavrin::app {

namespace {

std::filesystem::path ToPath(const QString& name) {
  return std::filesystem::path(QFile::encodeName(name).toStdString());
}

QString FromPath(const std::filesystem::path& path) {
  return QFile::decodeName(QByteArray::fromStdString(path.string()));
}

PromptIcon ToPromptIcon(transfer::MessageIcon icon) {
  switch (icon) {
    case transfer::MessageIcon::kInformation:
      return PromptIcon::kInformation;
    case transfer::MessageIcon::kExclamation:
      return PromptIcon::kExclamation;
    case transfer::MessageIcon::kStop:
      return PromptIcon::kStop;
    case transfer::MessageIcon::kNone:
      break;
  }
  return PromptIcon::kNone;
}

PromptIcon ToPromptIcon(terminal::MessageIcon icon) {
  switch (icon) {
    case terminal::MessageIcon::kInformation:
      return PromptIcon::kInformation;
    case terminal::MessageIcon::kExclamation:
      return PromptIcon::kExclamation;
    case terminal::MessageIcon::kNone:
      break;
  }
  return PromptIcon::kNone;
}

}  // namespace

MainWindow::MainWindow(MainWindowDeps deps) : deps_(std::move(deps)), queuedView_(*this) {
  // Creation steps, in order: caption, toolbar, port settings at their defaults, panel,
  // child windows, rule U, temporary directory and capture file, rule R, working files of
  // earlier runs, toolbar states, focus, stored settings.
  setWindowTitle(QString::fromLatin1(kWindowTitle));
  BuildMenu();
  client_ = new QWidget(this);
  setCentralWidget(client_);
  toolbar_ = new MainToolbar(client_);
  connect(toolbar_, &MainToolbar::Command, this, [this](int id) { DispatchCommand(id); });
  settings_ = serial::DefaultPortSettingsFromEnvironment();
  BuildChildren();
  states_ = ResourceControlStates();
  app::UpdateConnectionState(states_, false);

  CreateTemporaryDirectory();
  outputSink_ = std::make_unique<OutputViewSink>(*output_);
  core::CoreConfig config;
  config.tempDir = tempDir_;
  config.deviceFactory = deps_.deviceFactory;
  if (!config.deviceFactory) {
    config.deviceFactory =
        [this](std::string_view portName) -> std::unique_ptr<serial::SerialDevice> {
      auto opened = serial::PosixSerialDevice::Open(portName);
      openError_ = opened.device ? 0 : opened.error;
      return std::move(opened.device);
    };
  }
  config.linkTimings = deps_.linkTimings;
  core_ = std::make_unique<core::PortCore>(
      core::CoreHost{*outputSink_, queuedView_, deps_.errors, comTestRelay_}, config);
  terminal_->SetCharSink([this](std::uint8_t c) { return core_->QueueCharWrite(c); });

  states_ = StartUpControlStates();
  (void)scripts::DeleteTemporaryFiles(scripts::TemporaryPaths::In(tempDir_));
  scriptStore_ = std::make_unique<scripts::ScriptStore>(tempDir_);
  ApplyStates();
  deps_.settingsStore.LoadSettings(settings_);

  // The smallest height: menu bar + 2 frames + 10 base units + 4 captions, less the
  // caption and frames that the window system adds around the window itself.
  const int frame = style()->pixelMetric(QStyle::PM_MdiSubWindowFrameWidth);
  const int caption = style()->pixelMetric(QStyle::PM_TitleBarHeight);
  setMinimumHeight(
      MinimumWindowHeight(menuBar()->sizeHint().height(), frame, baseUnitHeight_, caption) -
      caption - 2 * frame);
  LayOut();
}

MainWindow::~MainWindow() {
  // The shut-down sequence. The connection was closed by the close steps (or is left to
  // the end of the process after a settings store failure).
  find_.reset();
  core_->DeleteCapture();
  core_.reset();
  (void)scripts::DeleteTemporaryFiles(scripts::TemporaryPaths::In(tempDir_));
  std::error_code ignored;
  std::filesystem::remove(tempDir_, ignored);  // stays while files remain in it
}

void MainWindow::BuildMenu() {
  for (const MenuDefinition& definition : MainMenu()) {
    QMenu* menu = menuBar()->addMenu(QString::fromLatin1(definition.title));
    for (const MenuItem& item : definition.items) {
      if (item.id == 0) {
        menu->addSeparator();
        continue;
      }
      QAction* action = menu->addAction(QString::fromLatin1(item.text));
      const int id = item.id;
      connect(action, &QAction::triggered, this, [this, id] { DispatchCommand(id); });
      menuActions_[id] = action;
    }
  }
  // The accelerator table lives beside the menu, not on its items: an item shows only the
  // key text of its own text (Cancel shows none, although Alt+C issues it). A key whose
  // menu item is grayed issues nothing, and no control sees it either.
  std::map<int, QList<QKeySequence>> keys;
  for (const Accelerator& accelerator : Accelerators()) {
    keys[accelerator.command].append(QKeySequence(QString::fromLatin1(accelerator.key)));
  }
  for (auto& [id, sequences] : keys) {
    auto* accelerator = new QAction(this);
    accelerator->setShortcuts(sequences);
    accelerator->setShortcutContext(Qt::WindowShortcut);
    addAction(accelerator);
    const int command = id;
    connect(accelerator, &QAction::triggered, this, [this, command] {
      if (menuActions_.at(command)->isEnabled()) DispatchCommand(command);
    });
  }
}

void MainWindow::BuildChildren() {
  panel_ = new TransferPanel(client_);
  connect(panel_, &TransferPanel::ButtonPressed, this, [this](int id) { DispatchCommand(id); });
  baseUnitHeight_ = BaseUnitHeightForPanel(kPanelTemplateHeight, panel_->BaseUnits());

  terminal_ = new TerminalScreenWidget(client_);
  terminal_->setWindowTitle(QStringLiteral("Status Window"));
  output_ = new OutputView(client_);
  lineInput_ = new LineInputBox(
      client_, [this] { return core_ && core_->Connected(); },
      [this](std::span<const std::uint8_t> bytes) { return core_->SendLine(bytes); });
  client_->installEventFilter(this);
}

void MainWindow::CreateTemporaryDirectory() {
  tempDir_ = deps_.workDir / kTemporaryDirectoryName;
  std::error_code ignored;  // it may exist already
  std::filesystem::create_directory(tempDir_, ignored);
}

TransferFlags MainWindow::Flags() const {
  const transfer::TransferState& state = core_->State();
  return ReadTransferFlags(core_->Connected(), state.running.load(),
                           state.mode.load() == transfer::TransferMode::kDownload,
                           core_->TransferActive());
}

void MainWindow::ApplyStates() {
  for (auto& [id, action] : menuActions_) action->setEnabled(states_.Menu(id));
  toolbar_->Apply(states_);
  panel_->Apply(states_);
  switch (states_.focus) {
    case FocusTarget::kTerminal:
      terminal_->setFocus();
      break;
    case FocusTarget::kMainWindow:
      setFocus();
      break;
    case FocusTarget::kOutput:
      output_->setFocus();
      break;
    case FocusTarget::kUnchanged:
      break;
  }
  states_.focus = FocusTarget::kUnchanged;
}

void MainWindow::LayOut() {
  const QSize size = client_->size();
  const MainLayout layout =
      LayOutMainWindow(size.width(), size.height(), baseUnitHeight_, lineInputShown_);
  auto place = [](QWidget* widget, const PixelRect& r) {
    widget->setGeometry(r.x, r.y, r.width, r.height);
  };
  place(panel_, layout.panel);
  toolbar_->setGeometry(0, 0, size.width(), std::min(toolbar_->sizeHint().height(), kOutputTop));
  place(terminal_, layout.terminal);
  place(output_, layout.output);
  place(lineInput_, layout.lineInput);
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched == client_ && event->type() == QEvent::Resize) LayOut();
  return QMainWindow::eventFilter(watched, event);
}

void MainWindow::keyPressEvent(QKeyEvent* event) {
  // A character typed into the main window goes to the terminal screen window.
  if (!event->text().isEmpty()) {
    terminal_->setFocus();
    QCoreApplication::sendEvent(terminal_, event);
    return;
  }
  QMainWindow::keyPressEvent(event);
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (closeWithoutQuestion_) {
    event->accept();
    return;
  }
  if (!ConfirmDisconnect()) {
    event->ignore();
    return;
  }
  if (core_->Connected()) StopAndDisconnect();
  event->accept();
}

bool MainWindow::ConfirmDisconnect() {
  if (!core_->Connected()) return true;
  return deps_.prompts.AskYesNo(this, QString::fromLatin1(kDisconnectCaption),
                                QString::fromLatin1(kDisconnectQuestion), PromptIcon::kQuestion);
}

void MainWindow::DispatchCommand(int id) {
  switch (id) {
    case cmd::kConnect:
    case tb::kConnect:
      return Connect();
    case cmd::kDisconnect:
    case tb::kDisconnect:
      return Disconnect();
    case cmd::kSave:
    case tb::kSave:
    case panel::kSaveLogFile:
      return Save();
    case cmd::kExit:
      QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
      return;
    case cmd::kUpload:
    case tb::kUpload:
    case panel::kUpload:
      return Upload();
    case cmd::kDownload:
    case tb::kDownload:
    case panel::kDownload:
      return Download();
    case cmd::kCreateDownloadScript:
      return ShowScriptList();
    case cmd::kConvertAdbToSdb:
      return ShowAdbToSdb();
    case cmd::kComPortTesting:
      return ShowComTest();
    case cmd::kPortSettings:
    case tb::kPortSettings:
      return ShowPortSettings();
    case cmd::kCancel:
    case tb::kCancel:
      return Cancel();
    case panel::kCancel:
      return PanelCancel();
    case tb::kPause:
    case panel::kPause:
      return TogglePause();
    case cmd::kCopy:
      return output_->Copy();
    case cmd::kClear:
      return Clear();
    case cmd::kSelectAll:
      output_->setFocus();
      output_->SelectAll();
      return;
    case cmd::kFind:
      return ShowFind();
    case cmd::kAbout:
      return ShowAboutBox(this);
    case panel::kLineInputToggle:
      return ToggleLineInput();
    default:
      return;
  }
}

void MainWindow::UpdateConnectionState() {
  app::UpdateConnectionState(states_, core_->Connected());
  ApplyStates();
}

void MainWindow::RefreshTransferState() {
  app::RefreshTransferState(states_, Flags());
  ApplyStates();
}

void MainWindow::Connect() {
  openError_ = 0;
  const serial::OpenOutcome outcome = core_->Connect(settings_);
  if (outcome == serial::OpenOutcome::kNotAvailable) {
    deps_.prompts.Message(this, QString::fromLatin1(serial::kPortOpenCaption.data()),
                          QString::fromLatin1(serial::kPortNotAvailable.data()), PromptIcon::kStop);
    ShowPortSettings(OpenFailureCause());
  } else {
    UpdateConnectionState();
  }
  const bool connected = core_->Connected();
  terminal_->SetConnected(connected);
  if (!connected) {
    output_->setFocus();
    return;
  }
  panel_->SetConnectionSummary(QString::fromStdString(serial::ConnectionSummary(settings_)));
  ApplyConnectSteps(states_);
  ApplyStates();
}

void MainWindow::Disconnect() {
  if (!ConfirmDisconnect()) {
    ApplyDisconnectDeclined(states_, Flags());
    ApplyStates();
    return;
  }
  if (core_->Connected()) StopAndDisconnect();
  terminal_->SetConnected(false);
  ApplyDisconnectSteps(states_);
  panel_->BlankConnectionFields();
  ApplyStates();
}

void MainWindow::Save() {
  FileDialogSpec dialog;
  dialog.title = QStringLiteral("Save Log File As");
  dialog.filters = QStringList{FileFilter("Log Files", "*.Log")};
  dialog.defaultSuffix = QStringLiteral("LOG");
  dialog.mustExist = false;
  dialog.confirmOverwrite = true;
  const std::optional<QString> chosen = deps_.prompts.SaveFile(this, dialog);
  if (!chosen) return;
  const terminal::SaveResult result = core_->SaveLog(ToPath(*chosen));
  // None of the Save boxes has an owner window.
  deps_.prompts.Message(nullptr, QString::fromStdString(result.caption),
                        QString::fromStdString(result.text), ToPromptIcon(result.icon));
}

void MainWindow::Clear() {
  terminal_->ClearScreen();
  core_->ClearLog();
}

void MainWindow::Upload() {
  FileDialogSpec dialog;
  dialog.title = QStringLiteral("Send File");
  dialog.filters = QStringList{FileFilter("URT Files", "*.URT")};
  dialog.mustExist = true;
  dialog.confirmOverwrite = false;
  const std::optional<QString> chosen = deps_.prompts.OpenFile(this, dialog);
  if (!chosen) return;
  ApplyUploadStartSteps(states_);
  ApplyStates();
  if (!core_->StartUpload(ToPath(*chosen))) RefreshTransferState();
}

void MainWindow::Download() {
  FileDialogSpec dialog;
  dialog.title = QString::fromLatin1(kDownloadOpenTitle);
  dialog.filters = QStringList{FileFilter(kDownloadScriptFilterName, kDsfPattern)};
  dialog.mustExist = true;
  dialog.confirmOverwrite = false;
  const std::optional<QString> chosen = deps_.prompts.OpenFile(this, dialog);
  if (!chosen) return;
  panel_->SetFileName(*chosen);
  // The core reads the script and writes the command image before the transfer starts.
  switch (core_->StartDownload(ToPath(*chosen))) {
    case core::DownloadStart::kStarted:
      ApplyDownloadStartSteps(states_);
      ApplyStates();
      return;
    case core::DownloadStart::kScriptUnreadable:
      deps_.prompts.Message(this, QString::fromLatin1(transfer::kProgramCaption),
                            QString::fromLatin1(transfer::kFileAccessError), PromptIcon::kNone);
      break;
    case core::DownloadStart::kBusy:  // the last transfer's thread has not ended yet
      break;
  }
  panel_->SetFileName(QString());
}

void MainWindow::Cancel() {
  ApplyCancelSteps(states_);
  ApplyStates();
  core_->Cancel();
}

void MainWindow::PanelCancel() {
  ApplyPanelCancelSteps(states_);
  ApplyStates();
  core_->Cancel();
}

void MainWindow::TogglePause() {
  if (!core_->TransferActive()) return;
  core_->TogglePause();
  ApplyPauseToggled(states_, core_->State().pause.load());
  ApplyStates();
}

serial::PortList MainWindow::ListPorts() const {
  return deps_.listPorts ? deps_.listPorts() : serial::ListPorts();
}

QString MainWindow::OpenFailureCause() const {
  const serial::PortDiagnosis diagnosis =
      deps_.diagnose ? deps_.diagnose(settings_.portName, openError_)
                     : serial::DiagnoseOpenFailure(settings_.portName, openError_,
                                                   serial::SystemDiagnosisEnvironment());
  // A missing port's line names the ports that are there.
  const serial::PortList ports =
      diagnosis.cause == serial::OpenFailure::kNoSuchDevice ? ListPorts() : serial::PortList{};
  return QString::fromStdString(serial::DescribeOpenFailure(diagnosis, ports.ports));
}

void MainWindow::ShowPortSettings(const QString& cause) {
  const PortDialogOutcome outcome =
      deps_.portSettingsDialog
          ? deps_.portSettingsDialog(this, settings_)
          : RunPortSettingsDialog(this, settings_, PortEntries(ListPorts().ports),
                                  deps_.settingsStore, deps_.prompts, cause);
  if (outcome.result == PortDialogResult::kCancelled) return;
  // The choices are taken also when they could not be stored; the program then ends.
  settings_ = outcome.settings;
  if (outcome.result == PortDialogResult::kStoreFailed) ShutDownWithoutQuestion();
}

void MainWindow::ShowFind() {
  if (!find_) find_ = std::make_unique<FindDialog>(output_, deps_.prompts, this);
  find_->ShowFind();
}

void MainWindow::ToggleLineInput() {
  lineInputShown_ = !lineInputShown_;
  panel_->SetLineInputShown(lineInputShown_);
  LayOut();
  lineInput_->setFocus();
}

void MainWindow::ShowScriptList() {
  ScriptListDialog dialog(*scriptStore_, deps_.prompts, this);
  dialog.exec();
}

void MainWindow::ShowAdbToSdb() {
  SettingsStore& store = deps_.settingsStore;
  AdbToSdbDialog dialog([&store] { return store.ReadParserPath(); },
                        [&store](const QString& path) { return store.WriteParserPath(path); },
                        deps_.prompts, this);
  connect(&dialog, &AdbToSdbDialog::ShutdownRequested, this, [this] { ShutDownWithoutQuestion(); });
  dialog.exec();
}

void MainWindow::ShowComTest() {
  // While the dialog is open every received block goes to it (through the relay the core
  // was built with) instead of the output window.
  ComTestDialog dialog(*core_, comTestRelay_, deps_.prompts, this);
  dialog.exec();
}

void MainWindow::StopAndDisconnect() {
  // A running transfer is cancelled and waited for (at most 5 s) before the port closes; a
  // download waiting for its save question ends on that cancel like any other wait.
  core_->Disconnect();
}

void MainWindow::ShutDownWithoutQuestion() {
  closeWithoutQuestion_ = true;
  QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
}

// TransferView on the UI thread.

void MainWindow::SetSendIndicator(bool shown) {
  panel_->SetSendIndicator(shown);
}

void MainWindow::SetReceiveIndicator(bool shown) {
  panel_->SetReceiveIndicator(shown);
}

void MainWindow::SetTotal(std::optional<std::uint32_t> total) {
  panel_->SetTotal(total);
}

void MainWindow::SetSent(std::optional<std::uint32_t> sent) {
  panel_->SetSent(sent);
}

void MainWindow::SetFileName(std::filesystem::path path) {
  panel_->SetFileName(FromPath(path));
}

void MainWindow::SetProgressRange(std::uint32_t max) {
  panel_->SetProgressRange(max);
}

void MainWindow::SetProgressPosition(std::uint32_t position) {
  panel_->SetProgressPosition(position);
}

void MainWindow::StepProgress() {
  panel_->StepProgress();
}

void MainWindow::ShowProgressBar(bool shown) {
  states_.progressBarShown = shown;
  ApplyStates();
}

void MainWindow::HideProgressLabel() {
  states_.progressLabelShown = false;
  ApplyStates();
}

void MainWindow::TransferControlsIdle() {
  // A transfer that ended after a Disconnect leaves the toolbar as Disconnect set it.
  if (!core_->Connected()) return;
  ApplyTransferIdleSteps(states_);
  ApplyStates();
}

void MainWindow::OfferComPortTesting() {
  // Disconnect grays COM Port Testing; a transfer that ends after it leaves it gray.
  if (!core_->Connected()) return;
  ApplyComPortTestingOffered(states_);
  ApplyStates();
}

void MainWindow::ShowMessage(std::string caption, std::string text, transfer::MessageIcon icon) {
  // A transfer's boxes have no owner window.
  deps_.prompts.Message(nullptr, QString::fromStdString(caption), QString::fromStdString(text),
                        ToPromptIcon(icon));
}

void MainWindow::AskDownloadSavePath(transfer::DownloadSaveQuestion question) {
  // A transfer cancelled while the question was queued no longer waits for it.
  if (!question.Awaited()) return;
  FileDialogSpec dialog;
  dialog.title = QString::fromLatin1(kDownloadSaveTitle);
  dialog.filters = QStringList{FileFilter(kDbfFilterName, kDbfPattern)};
  dialog.defaultSuffix = QStringLiteral("dbf");
  dialog.mustExist = false;
  dialog.confirmOverwrite = true;
  const std::optional<QString> chosen = deps_.prompts.SaveFile(nullptr, dialog);
  question.Answer(chosen ? std::optional(ToPath(*chosen)) : std::nullopt);
}

}  // namespace tavrin::app
