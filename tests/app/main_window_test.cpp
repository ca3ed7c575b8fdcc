// The main window through its own commands, alone and against the simulated target (a
// separate process on a pseudo-terminal).
#include <gtest/gtest.h>

#include <QAction>
#include <QProgressBar>
#include <QTableWidget>
#include <cstdlib>
#include <map>

#include "app/adb_to_sdb_dialog.h"
#include "app/com_test_dialog.h"
#include "app/command_ids.h"
#include "app/line_input_box.h"
#include "app/main_toolbar.h"
#include "app/main_window.h"
#include "app/script_list_dialog.h"
#include "app/transfer_panel.h"
#include "e2e/processes.h"
#include "qt_test_support.h"
#include "support/recorders.h"
#include "support/temp_files.h"
#include "transfer/report_texts.h"

namespace tavrin::app {
namespace {

namespace fs = std::filesystem;
using tavrin::test::ReadFile;
using testing::PumpUntil;

QString Q(const fs::path& path) {
  return QString::fromStdString(path.string());
}

class MainWindowTest : public ::testing::Test {
 protected:
  void Open(const std::string& port = "COM9") {
    ::setenv("TAVRIN_PORT", port.c_str(), 1);
    window_ = std::make_unique<MainWindow>(MainWindowDeps{
        prompts_, store_, errors_, work_.Path(), serial::PosixDeviceFactory(), {}, {}, {}, {}});
    ::unsetenv("TAVRIN_PORT");
  }
  void ShowActive() {
    window_->resize(1024, 700);
    window_->show();
    window_->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window_.get()));
  }
  // sample.urt and sample.dsf (three FLASH regions) in the test's folder.
  void MakeSampleFiles() {
    const std::string make = std::string(TAVRIN_BINARY_DIR) + "/sim/tavrin-sample-files " +
                             work_.Path().string() + " >/dev/null";
    ASSERT_EQ(std::system(make.c_str()), 0);
  }
  // Runs `command`, and `act` on the modal dialog of type D it opens, from inside its loop.
  template <typename D>
  void InDialog(int command, const std::function<void(D&)>& act) {
    bool acted = false;
    QTimer::singleShot(0, window_.get(), [&] {
      D* dialog = window_->findChild<D*>();
      ASSERT_NE(dialog, nullptr);
      acted = true;
      act(*dialog);
      if (dialog->isVisible()) dialog->reject();
    });
    window_->DispatchCommand(command);
    EXPECT_TRUE(acted);
  }

  fs::path TempDir() const { return work_ / "~zvqTemp"; }
  bool MenuOn(int id) const { return window_->MenuAction(id)->isEnabled(); }
  bool ToolbarOn(int id) const { return window_->Toolbar()->Button(id)->isEnabled(); }
  bool PanelOn(int id) const { return window_->Panel()->Control(id)->isEnabled(); }
  QString PanelText(int id) const {
    return static_cast<QLineEdit*>(window_->Panel()->Control(id))->text();
  }
  QString LastMessage() const { return prompts_.LastText(); }

  tavrin::test::TempDir work_;
  testing::FakePrompts prompts_;
  SettingsStore store_{Q(work_ / "settings.ini")};  // in the test's own folder
  test::RecordingErrorSink errors_;
  std::unique_ptr<MainWindow> window_;
};

TEST_F(MainWindowTest, StartUpShowsTheNotConnectedStatesAndShutDownRemovesItsFiles) {
  fs::create_directories(TempDir());
  for (const char* earlier : {"zvqScript.tvr", "CmdUrtFile.urt"}) {
    tavrin::test::WriteFile(TempDir() / earlier, "earlier run");
  }
  Open();
  EXPECT_TRUE(fs::exists(TempDir() / "test_1.log"));
  EXPECT_FALSE(fs::exists(TempDir() / "zvqScript.tvr"));
  EXPECT_FALSE(fs::exists(TempDir() / "CmdUrtFile.urt"));
  EXPECT_EQ(window_->windowTitle(), "Tavrin 1.1");
  EXPECT_EQ(window_->Settings().portName, "COM9");
  // The state rules reach the menu, the toolbar and the panel.
  EXPECT_TRUE(ToolbarOn(tb::kConnect));
  EXPECT_FALSE(MenuOn(cmd::kUpload));
  EXPECT_FALSE(PanelOn(panel::kUpload));

  window_.reset();
  EXPECT_FALSE(fs::exists(TempDir()));

  // Files left by a cancelled download keep the directory, but not the capture.
  Open();
  tavrin::test::WriteFile(TempDir() / "DumpBin.dbi", "region data");
  window_.reset();
  EXPECT_TRUE(fs::exists(TempDir() / "DumpBin.dbi"));
  EXPECT_FALSE(fs::exists(TempDir() / "test_1.log"));
}

TEST_F(MainWindowTest, F3WhileNotConnectedDoesNothing) {
  Open();
  ShowActive();
  EXPECT_EQ(QApplication::focusWidget(), static_cast<QWidget*>(window_->Terminal()));
  QTest::keyClick(window_.get(), Qt::Key_F3);
  QTest::keyClick(window_.get(), Qt::Key_U, Qt::AltModifier);
  EXPECT_TRUE(prompts_.dialogs.empty());
  // Ctrl+S is on whatever the connection: the keys do reach the menu commands.
  QTest::keyClick(window_.get(), Qt::Key_S, Qt::ControlModifier);
  ASSERT_EQ(prompts_.dialogs.size(), 1u);
  EXPECT_EQ(prompts_.dialogs[0].title, "Save Log File As");
}

TEST_F(MainWindowTest, LineInputToggleShowsTheBoxFullWidthAndHidesItAgain) {
  Open();
  ShowActive();
  const QRect hiddenOutput = window_->Output()->geometry();
  window_->DispatchCommand(panel::kLineInputToggle);
  const QRect shown = window_->LineInput()->geometry();
  EXPECT_EQ(shown.width(), window_->centralWidget()->width());
  EXPECT_EQ(shown.height(), 70);
  EXPECT_LT(window_->Output()->geometry().height(), hiddenOutput.height());
  EXPECT_EQ(QApplication::focusWidget(), static_cast<QWidget*>(window_->LineInput()));
  window_->DispatchCommand(panel::kLineInputToggle);
  EXPECT_EQ(window_->LineInput()->geometry().size(), QSize(0, 0));
  EXPECT_EQ(window_->Output()->geometry(), hiddenOutput);
  EXPECT_EQ(QApplication::focusWidget(), static_cast<QWidget*>(window_->LineInput()));
}

TEST_F(MainWindowTest, SaveOfNothingSaysBufferIsEmptyAndOfACaptureWritesNulXonAndEtbAsBlanks) {
  Open();
  prompts_.fileAnswers = {Q(work_ / "empty.Log"), Q(work_ / "boot.Log")};
  window_->DispatchCommand(cmd::kSave);
  EXPECT_EQ(LastMessage(), "Buffer is Empty. ");
  EXPECT_EQ(prompts_.messages.back().icon, PromptIcon::kExclamation);
  EXPECT_FALSE(fs::exists(work_ / "empty.Log"));

  std::ofstream(window_->Core().CapturePath(), std::ios::binary | std::ios::app)
      << std::string("boot\0ok\x11 go\x17\r\n", 14);
  window_->DispatchCommand(tb::kSave);
  EXPECT_EQ(LastMessage(), "Log file created successfully. ");
  EXPECT_EQ(ReadFile(work_ / "boot.Log"), "boot ok  go \r\n");
}

// The script list keeps its records from one opening to the next; a settings store that
// cannot be opened closes the window without a question.
TEST_F(MainWindowTest, TheProcessMenusDialogsShowWhatTheWindowKeeps) {
  Open();
  ShowActive();
  MakeSampleFiles();
  InDialog<ScriptListDialog>(cmd::kCreateDownloadScript, [&](ScriptListDialog& list) {
    EXPECT_EQ(list.List()->rowCount(), 0);
    prompts_.fileAnswers.push_back(Q(work_ / "sample.dsf"));
    list.LoadFromFile();
    EXPECT_EQ(list.SelectionMark(), 0);
    ASSERT_EQ(prompts_.dialogs.size(), 1u);
    EXPECT_EQ(prompts_.dialogs[0].title, "Open");
    EXPECT_EQ(prompts_.dialogs[0].filters, QStringList{"Download Script File (*.DSF) (*.dsf)"});
    EXPECT_TRUE(prompts_.dialogs[0].mustExist);
  });
  InDialog<ScriptListDialog>(cmd::kCreateDownloadScript, [&](ScriptListDialog& list) {
    ASSERT_EQ(list.List()->rowCount(), 3);
    EXPECT_EQ(list.RowTexts(0).startAddress, "10000");  // made from the records: no zeros
  });

  ASSERT_TRUE(store_.WriteParserPath("/usr/bin/true"));
  InDialog<AdbToSdbDialog>(cmd::kConvertAdbToSdb, [](AdbToSdbDialog& dialog) {
    EXPECT_EQ(dialog.ParserEdit()->text(), "/usr/bin/true");
  });
  fs::remove(work_ / "settings.ini");
  fs::create_directory(work_ / "settings.ini");  // a folder where the settings file goes
  window_->DispatchCommand(cmd::kConvertAdbToSdb);
  ASSERT_TRUE(PumpUntil([&] { return !window_->isVisible(); }));
  ASSERT_EQ(prompts_.messages.size(), 1u);
  EXPECT_EQ(LastMessage(), "Registry handling problem");
}

TEST_F(MainWindowTest, DownloadOfAScriptThatCannotBeReadStartsNothing) {
  Open();
  prompts_.fileAnswers.push_back(Q(work_ / "missing.dsf"));
  window_->DispatchCommand(cmd::kDownload);
  EXPECT_EQ(LastMessage(), "Error No: -3 \n File Access Error!!!");
  EXPECT_FALSE(window_->Core().TransferActive());
}

// The window connected to the simulated target.
class WindowOnTarget : public MainWindowTest {
 protected:
  void Start(std::vector<std::string> simArgs) {
    simArgs.insert(simArgs.begin(), "--pty");
    sim_ = std::make_unique<test::SimProcess>(simArgs);
    ASSERT_FALSE(sim_->Device().empty());
    MakeSampleFiles();
    Open(sim_->Device());
    window_->DispatchCommand(cmd::kConnect);
    ASSERT_TRUE(window_->Core().Connected());
  }
  void TearDown() override {
    window_.reset();
    if (sim_) sim_->Stop();
  }
  void StartUpload() {
    prompts_.fileAnswers.push_back(Q(work_ / "sample.urt"));
    window_->DispatchCommand(cmd::kUpload);
  }
  std::string Output() const { return window_->Output()->Content().ReadAll(); }
  bool OutputHas(std::string_view text) const { return Output().find(text) != Output().npos; }

  std::unique_ptr<test::SimProcess> sim_;
};

TEST_F(WindowOnTarget, UploadFillsThePanelAndEndsBlueAndConnectedIdleThenClearLeavesNothingToSave) {
  Start({});
  const auto* summary = static_cast<QLabel*>(window_->Panel()->Control(panel::kConnectionSummary));
  EXPECT_EQ(summary->text(), QString::fromStdString(sim_->Device() + "  115200  8 N 1"));
  std::map<int, QStringList> shown;  // every text each panel field showed
  for (int id : {panel::kSentField, panel::kTotalField, panel::kFileName, panel::kSendIndicator}) {
    QObject::connect(static_cast<QLineEdit*>(window_->Panel()->Control(id)),
                     &QLineEdit::textChanged, [&shown, id](const QString& t) { shown[id] << t; });
  }

  StartUpload();
  ASSERT_EQ(prompts_.dialogs.size(), 1u);
  EXPECT_EQ(prompts_.dialogs[0].title, "Send File");
  EXPECT_EQ(prompts_.dialogs[0].filters, QStringList{"URT Files (*.URT)"});
  EXPECT_EQ(window_->Toolbar()->ProgressLabel()->text(), "Uploading inprogress...");
  EXPECT_TRUE(ToolbarOn(tb::kCancel));
  ASSERT_TRUE(PumpUntil(
      [&] {
        return !window_->Core().TransferActive() && OutputHas("Upload Success") &&
               MenuOn(cmd::kUpload);
      },
      60000))
      << "output: " << Output();
  QCoreApplication::processEvents();

  const QStringList& total = shown[panel::kTotalField];
  ASSERT_GE(total.size(), 2);
  EXPECT_GT(total.front().toInt(), 0);
  EXPECT_TRUE(shown[panel::kSentField].contains(total.front()));
  EXPECT_TRUE(shown[panel::kFileName].contains(Q(work_ / "sample.urt")));
  EXPECT_TRUE(shown[panel::kSendIndicator].contains("T"));
  EXPECT_EQ(PanelText(panel::kSentField), "");  // cleared at the finish
  EXPECT_EQ(window_->Output()->ColourAt(Output().find("Upload Success")), QColor(0, 0, 255));
  // Back to "connected, no transfer".
  EXPECT_FALSE(MenuOn(cmd::kCancel));
  EXPECT_TRUE(ToolbarOn(tb::kUpload));
  EXPECT_FALSE(window_->Toolbar()->ProgressLabel()->isVisible());
  EXPECT_TRUE(errors_.Errors().empty());

  prompts_.yesNoAnswers.push_back(true);
  window_->DispatchCommand(cmd::kDisconnect);
  EXPECT_FALSE(window_->Core().Connected());
  EXPECT_EQ(summary->text(), " ");

  // Clear, then Save: nothing is left to save (disconnected first, so that no late control
  // byte of the target lands in the new capture).
  window_->DispatchCommand(cmd::kClear);
  ASSERT_TRUE(PumpUntil([&] { return Output().empty(); }));
  prompts_.fileAnswers.push_back(Q(work_ / "after-clear.Log"));
  window_->DispatchCommand(cmd::kSave);
  EXPECT_EQ(LastMessage(), "Buffer is Empty. ");
}

TEST_F(WindowOnTarget, DisconnectAnsweredNoDuringAnUploadKeepsItsStates) {
  Start({"--baud", "9600"});  // slow enough that the upload is still running
  StartUpload();
  ASSERT_TRUE(PumpUntil([&] { return MenuOn(cmd::kCancel); }));

  prompts_.yesNoAnswers.push_back(false);
  window_->DispatchCommand(tb::kDisconnect);
  ASSERT_EQ(prompts_.messages.size(), 1u);
  EXPECT_EQ(prompts_.messages[0].text, " Do you want to Disconnect ?");
  EXPECT_EQ(prompts_.messages[0].caption, "Tavrin");
  EXPECT_TRUE(window_->Core().Connected());
  EXPECT_TRUE(window_->Core().TransferActive());
  EXPECT_FALSE(PanelOn(panel::kUpload));
  EXPECT_TRUE(PanelOn(panel::kPause));
  EXPECT_TRUE(MenuOn(cmd::kDisconnect));

  // Yes: the upload is stopped (the core's part), then the port closes.
  prompts_.yesNoAnswers.push_back(true);
  window_->DispatchCommand(cmd::kDisconnect);
  EXPECT_FALSE(window_->Core().Connected());
  EXPECT_TRUE(MenuOn(cmd::kConnect));
  EXPECT_FALSE(ToolbarOn(tb::kCancel));
}

// A download: the script and the DBF's name are the fake's answers to the file dialogs.
class WindowDownload : public WindowOnTarget {
 protected:
  fs::path Script() const { return work_ / "sample.dsf"; }
  void StartDownload(const fs::path& saveAs, int command = tb::kDownload) {
    prompts_.fileAnswers = {Q(Script()), Q(saveAs)};
    window_->DispatchCommand(command);
  }
  // Ended and shown: the thread is gone and its last message box came.
  bool EndedWith(const QString& textStart) {
    return !window_->Core().TransferActive() && LastMessage().startsWith(textStart);
  }
};

constexpr const char* kSavedText = "Downloading process successfully completed.\n And saved as ";

TEST_F(WindowDownload, SavesTheDbfThatTheCommandLineSavesForTheSameSeed) {
  Start({"--seed", "11"});
  auto* bar = static_cast<QProgressBar*>(window_->Panel()->Control(panel::kProgressBar));
  int regionsAtFull = 0;  // the bar at 100 of 100 while shown: one region in
  QObject::connect(bar, &QProgressBar::valueChanged, [&](int value) {
    if (!bar->isHidden() && bar->maximum() == 100 && value == 100) ++regionsAtFull;
  });
  const fs::path saved = work_ / "window.dbf";
  StartDownload(saved);
  ASSERT_EQ(prompts_.dialogs.size(), 1u);
  EXPECT_EQ(prompts_.dialogs[0].title, "Open");
  EXPECT_EQ(prompts_.dialogs[0].filters, QStringList{"Download Script Files (*.DSF) (*.dsf)"});
  EXPECT_EQ(PanelText(panel::kFileName), Q(Script()));
  EXPECT_EQ(window_->Toolbar()->ProgressLabel()->text(), "Downloading inprogress...");

  ASSERT_TRUE(PumpUntil([&] { return EndedWith(kSavedText); }, 60000)) << "output: " << Output();
  EXPECT_EQ(LastMessage(), kSavedText + Q(saved));
  ASSERT_EQ(prompts_.dialogs.size(), 2u);
  EXPECT_EQ(prompts_.dialogs[1].title, "Save Downloaded File");
  EXPECT_EQ(prompts_.dialogs[1].filters, QStringList{"Downloaded BIN File (*.DBF) (*.dbf)"});
  EXPECT_EQ(prompts_.dialogs[1].defaultSuffix, "dbf");
  EXPECT_TRUE(prompts_.dialogs[1].confirmOverwrite);
  EXPECT_EQ(regionsAtFull, 3);
  QCoreApplication::processEvents();
  EXPECT_TRUE(bar->isHidden());
  EXPECT_EQ(PanelText(panel::kFileName), "");
  EXPECT_TRUE(MenuOn(cmd::kUpload));

  // The command line, against a second target with the same seed.
  test::SimProcess second({"--pty", "--seed", "11"});
  const fs::path fromCli = work_ / "cli.dbf";
  const test::CliRun run = test::RunCli(
      {"download", "--port", second.Device(), "--output", fromCli.string(), Script().string()});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_GT(ReadFile(saved).size(), 3u * 16u);
  EXPECT_TRUE(ReadFile(saved) == ReadFile(fromCli)) << "the window's DBF differs from the CLI's";
}

TEST_F(WindowDownload, ARegionFailingItsCrcIsWarnedInRedAndTheSaveIsStillOffered) {
  Start({"--fault", "wrong-crc"});
  StartDownload(work_ / "crc.dbf", panel::kDownload);
  const std::string warning = transfer::CrcWarningBlock(1).text;
  ASSERT_TRUE(PumpUntil([&] { return EndedWith(kSavedText) && OutputHas(warning); }, 60000))
      << "output: " << Output();
  EXPECT_EQ(prompts_.dialogs.back().title, "Save Downloaded File");
  EXPECT_TRUE(fs::exists(work_ / "crc.dbf"));
  const std::size_t at = Output().find(warning);
  EXPECT_EQ(window_->Output()->ColourAt(at + warning.size() / 2), QColor(255, 0, 0));
  EXPECT_NE(Output().find("Download Success", at), std::string_view::npos);
}

TEST_F(WindowDownload, ARegionFileThatCannotBeMadeEndsWithTheStaticDatabaseBoxAndNoSave) {
  Start({});
  fs::create_directories(TempDir() / "DumpBin.dbi");  // a folder where the region's file goes
  StartDownload(work_ / "never.dbf", cmd::kDownload);
  ASSERT_TRUE(PumpUntil([&] { return EndedWith("Terminated Receiving."); }, 60000));
  const testing::ShownMessage& box = prompts_.messages.back();
  EXPECT_EQ(box.caption, "StaticDatabase");
  EXPECT_EQ(box.text,
            "Terminated Receiving. Unable to continue \n Cancel and close the Application and "
            "Retry !!!");
  EXPECT_EQ(box.icon, PromptIcon::kStop);
  EXPECT_EQ(prompts_.dialogs.size(), 1u);  // no save question
  QCoreApplication::processEvents();
  EXPECT_TRUE(MenuOn(cmd::kDownload));
}

// The dialog and the core share the window's one relay (where each echo goes is the
// dialog's own test).
TEST_F(WindowOnTarget, ComPortTestingShowsTheTargetsEchoInsteadOfTheOutput) {
  Start({});
  InDialog<ComTestDialog>(cmd::kComPortTesting, [&](ComTestDialog& dialog) {
    dialog.Transmitter()->setPlainText(QStringLiteral("abc"));
    dialog.Send();
    EXPECT_TRUE(PumpUntil([&] { return dialog.Receiver()->toPlainText() == "abc"; }));
  });
}

}  // namespace
}  // namespace tavrin::app
