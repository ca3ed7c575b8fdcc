// The main window as the operator meets it: start-up and shut-down of its files, keys,
// Save and Clear, the Process menu's dialogs, and an upload, downloads and the COM port test
// against the simulated target (a separate process on a pseudo-terminal) through the
// window's own commands.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>

#include "app/adb_to_sdb_dialog.h"
#include "app/com_test_dialog.h"
#include "app/command_ids.h"
#include "app/line_input_box.h"
#include "app/main_toolbar.h"
#include "app/main_window.h"
#include "app/script_list_dialog.h"
#include "app/transfer_panel.h"
#include "e2e/processes.h"
#include "fake_prompts.h"
#include "pump.h"
#include "support/recorders.h"
#include "transfer/report_texts.h"

namespace tavrin::app {
namespace {

namespace fs = std::filesystem;
using testing::PumpUntil;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

QString Q(const fs::path& path) {
  return QString::fromStdString(path.string());
}

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device random;
    work_ = fs::temp_directory_path() / ("tavrin-window-" + std::to_string(random()));
    fs::create_directories(work_);
    store_ =
        std::make_unique<SettingsStore>(QString::fromStdString((work_ / "settings.ini").string()));
  }
  void TearDown() override {
    window_.reset();
    fs::remove_all(work_);
  }

  MainWindow& Open(const std::string& port = "COM9") {
    ::setenv("TAVRIN_PORT", port.c_str(), 1);
    window_ = std::make_unique<MainWindow>(
        MainWindowDeps{prompts_, *store_, errors_, work_, serial::PosixDeviceFactory(), {}, {}});
    ::unsetenv("TAVRIN_PORT");
    return *window_;
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
                             work_.string() + " >/dev/null";
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
  QString PanelText(int id) const {
    return static_cast<QLineEdit*>(window_->Panel()->Control(id))->text();
  }
  QString LastMessage() const {
    return prompts_.messages.empty() ? QString() : prompts_.messages.back().text;
  }

  fs::path work_;
  testing::FakePrompts prompts_;
  std::unique_ptr<SettingsStore> store_;  // in the test's own folder
  test::RecordingErrorSink errors_;
  std::unique_ptr<MainWindow> window_;
};

TEST_F(MainWindowTest, StartUpShowsTheNotConnectedStatesAndMakesTheCaptureFile) {
  fs::create_directories(TempDir());
  std::ofstream(TempDir() / "zvqScript.tvr") << "earlier run";
  std::ofstream(TempDir() / "CmdUrtFile.urt") << "earlier run";
  Open();
  EXPECT_TRUE(fs::exists(TempDir() / "test_1.log"));
  EXPECT_FALSE(fs::exists(TempDir() / "zvqScript.tvr"));
  EXPECT_FALSE(fs::exists(TempDir() / "CmdUrtFile.urt"));
  EXPECT_EQ(window_->windowTitle(), "Tavrin 1.1");
  EXPECT_EQ(window_->Settings().portName, "COM9");

  for (const ToolbarEntry& entry : ToolbarEntries()) {
    const int id = entry.id;
    if (id == 0) continue;
    const bool on = id == tb::kConnect || id == tb::kSave || id == tb::kPortSettings;
    EXPECT_EQ(ToolbarOn(id), on) << id;
  }
  for (int id :
       {cmd::kUpload, cmd::kDownload, cmd::kComPortTesting, cmd::kDisconnect, cmd::kCancel}) {
    EXPECT_FALSE(MenuOn(id)) << id;
  }
  EXPECT_TRUE(MenuOn(cmd::kConnect));
  EXPECT_FALSE(window_->Panel()->Control(panel::kUpload)->isEnabled());

  window_.reset();
  EXPECT_FALSE(fs::exists(TempDir()));
}

TEST_F(MainWindowTest, FilesLeftByACancelledDownloadKeepTheDirectoryButNotTheCapture) {
  Open();
  std::ofstream(TempDir() / "DumpBin.dbi") << "region data";
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
  EXPECT_EQ(prompts_.dialogs[0].filters, QStringList{"Log Files (*.Log)"});
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

TEST_F(MainWindowTest, SaveWhenNothingWasCapturedSaysBufferIsEmptyAndLeavesNoFile) {
  Open();
  const fs::path log = work_ / "empty.Log";
  prompts_.fileAnswers.push_back(QString::fromStdString(log.string()));
  window_->DispatchCommand(cmd::kSave);
  EXPECT_EQ(LastMessage(), "Buffer is Empty. ");
  EXPECT_EQ(prompts_.messages.back().caption, "Tavrin 1.1");
  EXPECT_EQ(prompts_.messages.back().icon, PromptIcon::kExclamation);
  EXPECT_FALSE(fs::exists(log));
}

TEST_F(MainWindowTest, DownloadScriptRecordsStayFromOneOpeningToTheNext) {
  Open();
  MakeSampleFiles();
  InDialog<ScriptListDialog>(cmd::kCreateDownloadScript, [&](ScriptListDialog& list) {
    EXPECT_EQ(list.List()->rowCount(), 0);
    EXPECT_FALSE(list.EditButton()->isEnabled());
    prompts_.fileAnswers.push_back(Q(work_ / "sample.dsf"));
    list.LoadFromFile();
    EXPECT_EQ(list.List()->rowCount(), 3);
  });
  InDialog<ScriptListDialog>(cmd::kCreateDownloadScript, [&](ScriptListDialog& list) {
    ASSERT_EQ(list.List()->rowCount(), 3);
    EXPECT_EQ(list.RowTexts(0).startAddress, "10000");
    EXPECT_TRUE(list.EditButton()->isEnabled());
    EXPECT_TRUE(list.SaveAsButton()->isEnabled());
  });
}

TEST_F(MainWindowTest, ConvertAdbToSdbShowsTheStoredParserAndAStoreFailureEndsTheProgram) {
  Open();
  ShowActive();
  ASSERT_TRUE(store_->WriteParserPath("/usr/bin/true"));
  InDialog<AdbToSdbDialog>(cmd::kConvertAdbToSdb, [](AdbToSdbDialog& dialog) {
    EXPECT_EQ(dialog.ParserEdit()->text(), "/usr/bin/true");
  });
  EXPECT_TRUE(prompts_.messages.empty());

  // A folder where the settings file goes: the store cannot be opened.
  fs::remove(work_ / "settings.ini");
  fs::create_directory(work_ / "settings.ini");
  window_->DispatchCommand(cmd::kConvertAdbToSdb);
  EXPECT_EQ(LastMessage(), "Registry handling problem");
  ASSERT_TRUE(PumpUntil([&] { return !window_->isVisible(); }));
  EXPECT_EQ(prompts_.messages.size(), 1u);  // closed without a question
}

TEST_F(MainWindowTest, DownloadOfAScriptThatCannotBeReadStartsNothing) {
  Open();
  prompts_.fileAnswers.push_back(Q(work_ / "missing.dsf"));
  window_->DispatchCommand(cmd::kDownload);
  EXPECT_EQ(LastMessage(), "Error No: -3 \n File Access Error!!!");
  EXPECT_FALSE(window_->Core().TransferActive());
  EXPECT_EQ(PanelText(panel::kFileName), "");
}

TEST_F(MainWindowTest, SaveWritesBlanksForNulXonAndEtb) {
  Open();
  const std::string captured("boot\0ok\x11 go\x17\r\n", 14);
  std::ofstream(window_->Core().CapturePath(), std::ios::binary | std::ios::app) << captured;
  const fs::path log = work_ / "boot.Log";
  prompts_.fileAnswers.push_back(QString::fromStdString(log.string()));
  window_->DispatchCommand(tb::kSave);
  EXPECT_EQ(LastMessage(), "Log file created successfully. ");
  EXPECT_EQ(ReadFile(log), "boot ok  go \r\n");
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
    MainWindowTest::TearDown();
  }
  void StartUpload() {
    prompts_.fileAnswers.push_back(QString::fromStdString((work_ / "sample.urt").string()));
    window_->DispatchCommand(cmd::kUpload);
  }
  QString OutputText() const { return QString::fromLatin1(window_->Output()->Content().Bytes()); }

  std::unique_ptr<test::SimProcess> sim_;
};

TEST_F(WindowOnTarget, UploadFillsThePanelAndEndsBlueAndConnectedIdle) {
  Start({});
  EXPECT_EQ(static_cast<QLabel*>(window_->Panel()->Control(panel::kConnectionSummary))->text(),
            QString::fromStdString(sim_->Device() + "  115200  8 N 1"));
  EXPECT_TRUE(MenuOn(cmd::kUpload));
  EXPECT_FALSE(ToolbarOn(tb::kConnect));

  std::vector<QString> sent, total, names, indicator;
  auto record = [&](int id, std::vector<QString>& into) {
    QObject::connect(static_cast<QLineEdit*>(window_->Panel()->Control(id)),
                     &QLineEdit::textChanged, [&into](const QString& t) { into.push_back(t); });
  };
  record(panel::kSentField, sent);
  record(panel::kTotalField, total);
  record(panel::kFileName, names);
  record(panel::kSendIndicator, indicator);

  StartUpload();
  ASSERT_EQ(prompts_.dialogs.size(), 1u);
  EXPECT_EQ(prompts_.dialogs[0].title, "Send File");
  EXPECT_EQ(prompts_.dialogs[0].filters, QStringList{"URT Files (*.URT)"});
  EXPECT_EQ(window_->Toolbar()->ProgressLabel()->text(), "Uploading inprogress...");
  EXPECT_FALSE(ToolbarOn(tb::kUpload));
  EXPECT_TRUE(ToolbarOn(tb::kCancel));

  ASSERT_TRUE(PumpUntil(
      [&] {
        return !window_->Core().TransferActive() && OutputText().contains("Upload Success") &&
               MenuOn(cmd::kUpload);
      },
      60000))
      << "output: " << OutputText().toStdString() << "\nsent: " << sent.size()
      << " transfer active: " << window_->Core().TransferActive();
  QCoreApplication::processEvents();

  ASSERT_GE(total.size(), 2u);
  const QString packets = total.front();
  EXPECT_GT(packets.toInt(), 0);
  EXPECT_TRUE(std::find(sent.begin(), sent.end(), packets) != sent.end());
  EXPECT_TRUE(std::find(names.begin(), names.end(),
                        QString::fromStdString((work_ / "sample.urt").string())) != names.end());
  EXPECT_TRUE(std::find(indicator.begin(), indicator.end(), "T") != indicator.end());
  EXPECT_EQ(PanelText(panel::kSentField), "");  // cleared at the finish

  const std::size_t found = window_->Output()->Content().Bytes().find("Upload Success");
  ASSERT_NE(found, std::string_view::npos);
  EXPECT_EQ(window_->Output()->ColourAt(found), QColor(0, 0, 255));

  // Back to "connected, no transfer".
  EXPECT_TRUE(MenuOn(cmd::kDownload));
  EXPECT_TRUE(MenuOn(cmd::kComPortTesting));
  EXPECT_FALSE(MenuOn(cmd::kCancel));
  EXPECT_TRUE(ToolbarOn(tb::kUpload));
  EXPECT_FALSE(ToolbarOn(tb::kCancel));
  EXPECT_FALSE(ToolbarOn(tb::kPause));
  EXPECT_FALSE(window_->Toolbar()->ProgressLabel()->isVisible());
  EXPECT_TRUE(errors_.Errors().empty());

  prompts_.yesNoAnswers.push_back(true);
  window_->DispatchCommand(cmd::kDisconnect);
  EXPECT_FALSE(window_->Core().Connected());
  EXPECT_TRUE(MenuOn(cmd::kConnect));
  EXPECT_EQ(static_cast<QLabel*>(window_->Panel()->Control(panel::kConnectionSummary))->text(),
            " ");

  // Clear, then Save: nothing is left to save. (Disconnected first: the target may still
  // send a control byte after the upload, which would land in the new capture.)
  window_->DispatchCommand(cmd::kClear);
  ASSERT_TRUE(PumpUntil([&] { return OutputText().isEmpty(); }));
  prompts_.fileAnswers.push_back(QString::fromStdString((work_ / "after-clear.Log").string()));
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
  EXPECT_FALSE(MenuOn(cmd::kUpload));
  EXPECT_FALSE(window_->Panel()->Control(panel::kUpload)->isEnabled());
  EXPECT_TRUE(MenuOn(cmd::kCancel));
  EXPECT_TRUE(window_->Panel()->Control(panel::kCancel)->isEnabled());
  EXPECT_TRUE(window_->Panel()->Control(panel::kPause)->isEnabled());
  EXPECT_TRUE(MenuOn(cmd::kDisconnect));

  // Yes: the upload is cancelled and waited for, then the port closes.
  prompts_.yesNoAnswers.push_back(true);
  window_->DispatchCommand(cmd::kDisconnect);
  EXPECT_FALSE(window_->Core().Connected());
  EXPECT_FALSE(window_->Core().TransferActive());
  ASSERT_TRUE(PumpUntil([&] { return OutputText().contains("Terminated by user"); }));
  EXPECT_TRUE(MenuOn(cmd::kConnect));
  EXPECT_FALSE(MenuOn(cmd::kUpload));
  EXPECT_FALSE(ToolbarOn(tb::kCancel));
}

// A download through the Download command: the script chosen in the open dialog, the DBF
// saved through the save dialog, both answered by the fake.
class WindowDownload : public WindowOnTarget {
 protected:
  fs::path Script() const { return work_ / "sample.dsf"; }
  void StartDownload(const fs::path& saveAs, int command = tb::kDownload) {
    prompts_.fileAnswers.push_back(Q(Script()));
    prompts_.fileAnswers.push_back(Q(saveAs));
    window_->DispatchCommand(command);
  }
  // Ended and shown: the thread is gone and its last message box came.
  bool EndedWith(const QString& textStart) {
    return !window_->Core().TransferActive() && LastMessage().startsWith(textStart);
  }
  QProgressBar* Bar() const {
    return static_cast<QProgressBar*>(window_->Panel()->Control(panel::kProgressBar));
  }
};

constexpr const char* kSavedText = "Downloading process successfully completed.\n And saved as ";

TEST_F(WindowDownload, SavesTheDbfThatTheCommandLineSavesForTheSameSeed) {
  Start({"--seed", "11"});
  int regionsAtFull = 0;  // the bar at 100 of 100 while shown: one region in
  QObject::connect(Bar(), &QProgressBar::valueChanged, [&](int value) {
    if (!Bar()->isHidden() && Bar()->maximum() == 100 && value == 100) ++regionsAtFull;
  });
  const fs::path saved = work_ / "window.dbf";
  StartDownload(saved);
  ASSERT_EQ(prompts_.dialogs.size(), 1u);
  EXPECT_EQ(prompts_.dialogs[0].title, "Open");
  EXPECT_EQ(prompts_.dialogs[0].filters, QStringList{"Download Script Files (*.DSF)"});
  EXPECT_EQ(PanelText(panel::kFileName), Q(Script()));
  EXPECT_EQ(window_->Toolbar()->ProgressLabel()->text(), "Downloading inprogress...");
  EXPECT_FALSE(MenuOn(cmd::kUpload));
  EXPECT_FALSE(ToolbarOn(tb::kDownload));
  EXPECT_TRUE(ToolbarOn(tb::kCancel));

  ASSERT_TRUE(PumpUntil([&] { return EndedWith(kSavedText); }, 60000))
      << "output: " << OutputText().toStdString();
  EXPECT_EQ(LastMessage(), kSavedText + Q(saved));
  EXPECT_EQ(prompts_.messages.back().caption, "Tavrin 1.1");
  ASSERT_EQ(prompts_.dialogs.size(), 2u);
  EXPECT_EQ(prompts_.dialogs[1].title, "Save Downloaded File");
  EXPECT_EQ(prompts_.dialogs[1].filters, QStringList{"Downloaded BIN File (*.DBF)"});
  EXPECT_EQ(prompts_.dialogs[1].defaultSuffix, "dbf");
  EXPECT_TRUE(prompts_.dialogs[1].confirmOverwrite);
  EXPECT_EQ(regionsAtFull, 3);
  QCoreApplication::processEvents();
  EXPECT_TRUE(Bar()->isHidden());
  EXPECT_TRUE(window_->Toolbar()->ProgressLabel()->isHidden());
  EXPECT_EQ(PanelText(panel::kFileName), "");
  EXPECT_TRUE(MenuOn(cmd::kUpload));
  EXPECT_TRUE(OutputText().contains("Download Success"));

  // The command line, against a second target with the same seed.
  test::SimProcess second({"--pty", "--seed", "11"});
  const fs::path fromCli = work_ / "cli.dbf";
  const test::CliRun run = test::RunCli(
      {"download", "--port", second.Device(), "--output", fromCli.string(), Script().string()});
  ASSERT_EQ(run.status, 0) << run.err;
  const std::string bytes = ReadFile(saved);
  EXPECT_GT(bytes.size(), 3u * 16u);
  EXPECT_TRUE(bytes == ReadFile(fromCli)) << "the window's DBF differs from the command line's";
}

TEST_F(WindowDownload, ARegionFailingItsCrcIsWarnedInRedAndTheSaveIsStillOffered) {
  Start({"--fault", "wrong-crc"});
  const fs::path saved = work_ / "crc.dbf";
  StartDownload(saved, panel::kDownload);
  const std::string warning = transfer::CrcWarningBlock(1).text;
  ASSERT_TRUE(PumpUntil(
      [&] {
        return EndedWith(kSavedText) &&
               window_->Output()->Content().Bytes().find(warning) != std::string_view::npos;
      },
      60000))
      << "output: " << OutputText().toStdString();
  EXPECT_EQ(prompts_.dialogs.back().title, "Save Downloaded File");
  EXPECT_TRUE(fs::exists(saved));
  const std::string_view output = window_->Output()->Content().Bytes();
  const std::size_t at = output.find(warning);
  EXPECT_EQ(window_->Output()->ColourAt(at + warning.size() / 2), QColor(255, 0, 0));
  EXPECT_NE(output.find("Download Success", at), std::string_view::npos);
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
  EXPECT_TRUE(window_->Toolbar()->ProgressLabel()->isHidden());
  EXPECT_FALSE(fs::exists(work_ / "never.dbf"));
}

TEST_F(WindowOnTarget, ComPortTestingShowsTheTargetsEchoInsteadOfTheOutput) {
  Start({});
  QString received;
  InDialog<ComTestDialog>(cmd::kComPortTesting, [&](ComTestDialog& dialog) {
    dialog.Transmitter()->setPlainText(QStringLiteral("abc"));
    dialog.Send();
    EXPECT_TRUE(PumpUntil([&] { return !dialog.Receiver()->toPlainText().isEmpty(); }));
    received = dialog.Receiver()->toPlainText();
    dialog.CloseButton()->click();
  });
  EXPECT_EQ(received, "abc");
  QCoreApplication::processEvents();
  EXPECT_FALSE(OutputText().contains("abc"));
}

}  // namespace
}  // namespace tavrin::app
