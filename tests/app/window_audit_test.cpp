// Keys, dialogs and file filters read against the window's own rules, one row each: the
// Cancel item's key text, the accelerators ahead of the line input box, Ctrl+F with Find
// open, Enter on a focused button, Script Information's Tab order, Alt+letter in the
// terminal window and the file dialogs' filter names.
#include <gtest/gtest.h>

#include <QAction>
#include <QClipboard>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QMenu>
#include <QRadioButton>
#include <QStyleOptionMenuItem>
#include <functional>

#include "app/command_ids.h"
#include "app/find_dialog.h"
#include "app/line_input_box.h"
#include "app/main_window.h"
#include "app/qt_prompts.h"
#include "app/script_info_dialog.h"
#include "app/script_list_dialog.h"
#include "qt_test_support.h"
#include "scripts/script_store.h"
#include "support/recorders.h"
#include "support/temp_files.h"

namespace tavrin::app {
namespace {

namespace fs = std::filesystem;

// A main window on its own, shown and active, with its prompts answered by the test.
class AuditRig {
 public:
  AuditRig() {
    window = std::make_unique<MainWindow>(MainWindowDeps{
        prompts, store, errors, work.Path(), serial::PosixDeviceFactory(), {}, {}, {}, {}});
    window->resize(1024, 700);
    window->show();
    window->activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(window.get()));
  }

  tavrin::test::TempDir work;
  testing::FakePrompts prompts;
  SettingsStore store{QString::fromStdString((work / "settings.ini").string())};
  test::RecordingErrorSink errors;
  std::unique_ptr<MainWindow> window;
};

// The text a menu draws for `action`: its own text, and the key Qt adds after a tab.
struct MenuProbe final : QMenu {
  QString Shown(QAction* action) {
    QStyleOptionMenuItem option;
    initStyleOption(&option, action);
    return option.text;
  }
};

// Process > Cancel shows no key text, yet Alt+C issues it while the item is on.
void CancelItemHasNoKeyText(AuditRig& rig) {
  MenuProbe probe;
  EXPECT_EQ(probe.Shown(rig.window->MenuAction(cmd::kCancel)), "&Cancel");
  EXPECT_EQ(probe.Shown(rig.window->MenuAction(cmd::kSave)), "&Save\tCtrl+S");
  QAction* cancel = rig.window->MenuAction(cmd::kCancel);
  cancel->setEnabled(true);  // as while a transfer runs
  QTest::keyClick(rig.window.get(), Qt::Key_C, Qt::AltModifier);
  EXPECT_FALSE(cancel->isEnabled());  // the Cancel steps ran and grayed it
}

// With the focus in the line input box, Ctrl+A and Ctrl+C are the window's: select all
// moves to the output window, copy takes the output window's (empty) selection.
void AcceleratorsComeBeforeTheLineInputBox(AuditRig& rig) {
  rig.window->DispatchCommand(panel::kLineInputToggle);
  LineInputBox* box = rig.window->LineInput();
  ASSERT_EQ(QApplication::focusWidget(), static_cast<QWidget*>(box));
  box->setPlainText(QStringLiteral("typed line"));
  box->selectAll();
  QApplication::clipboard()->setText(QStringLiteral("before"));
  QTest::keyClick(box, Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(QApplication::clipboard()->text(), "before");
  box->moveCursor(QTextCursor::End);
  QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
  EXPECT_FALSE(box->textCursor().hasSelection());
  EXPECT_EQ(QApplication::focusWidget(), static_cast<QWidget*>(rig.window->Output()));
}

// Ctrl+F while Find is open neither brings it forward nor changes its text.
void FindOpensOnlyOnce(AuditRig& rig) {
  QTest::keyClick(rig.window.get(), Qt::Key_F, Qt::ControlModifier);
  auto* find = rig.window->findChild<FindDialog*>();
  ASSERT_NE(find, nullptr);
  ASSERT_TRUE(find->isVisible());
  auto* text = find->findChild<QLineEdit*>();
  text->setText(QStringLiteral("boot"));
  rig.window->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(rig.window.get()));
  QTest::keyClick(rig.window.get(), Qt::Key_F, Qt::ControlModifier);
  QCoreApplication::processEvents();
  EXPECT_EQ(QApplication::activeWindow(), static_cast<QWidget*>(rig.window.get()));
  EXPECT_EQ(text->text(), "boot");
  find->reject();
}

QPushButton* ButtonNamed(QWidget& dialog, const char* text) {
  for (auto* button : dialog.findChildren<QPushButton*>()) {
    if (button->text() == QLatin1String(text)) return button;
  }
  return nullptr;
}

// Tab to Cancel in Script Information and press Enter: Cancel, not OK's validation.
void EnterPressesTheFocusedButton(AuditRig& rig) {
  scripts::ScriptStore scripts(rig.work.Path());
  for (const auto key : {Qt::Key_Return, Qt::Key_Enter}) {
    ScriptInfoDialog dialog(scripts, rig.prompts, rig.window.get());
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
    QPushButton* cancel = ButtonNamed(dialog, "&Cancel");
    ASSERT_NE(cancel, nullptr);
    cancel->setFocus();
    QTest::keyClick(cancel, key);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(scripts.RecordCount(), 0u);  // nothing written
  }
  EXPECT_TRUE(rig.prompts.messages.empty());
  // On a field, Enter still presses the default button: OK, whose validation speaks.
  ScriptInfoDialog dialog(scripts, rig.prompts, rig.window.get());
  dialog.show();
  dialog.Edit(ScriptInfoField::kStartAddress)->setFocus();
  QTest::keyClick(dialog.Edit(ScriptInfoField::kStartAddress), Qt::Key_Return);
  EXPECT_EQ(rig.prompts.LastText(), "StartAddress should be entered");
}

// Script Information's Tab order is the screen's: Command Data top to bottom, then
// Header Data, then the buttons.
void ScriptInformationTabOrderFollowsTheScreen(AuditRig& rig) {
  scripts::ScriptStore scripts(rig.work.Path());
  ScriptInfoDialog dialog(scripts, rig.prompts, rig.window.get());
  using F = ScriptInfoField;
  const std::vector<QWidget*> screenOrder{
      dialog.Edit(F::kStartAddress),  dialog.Edit(F::kEndAddress),
      dialog.ImageTypeList(),         dialog.Edit(F::kDeviceId),
      dialog.PartitionIdList(),       dialog.PartitionTypeList(),
      dialog.Edit(F::kBlockSize),     dialog.Edit(F::kTotalBlocks),
      dialog.Edit(F::kMaxLnbRecords), dialog.OkButton(),
      ButtonNamed(dialog, "&Cancel")};
  std::vector<QWidget*> tabOrder;
  QWidget* widget = dialog.FlashButton();
  do {
    if (std::find(screenOrder.begin(), screenOrder.end(), widget) != screenOrder.end()) {
      tabOrder.push_back(widget);
    }
    widget = widget->nextInFocusChain();
  } while (widget != dialog.FlashButton());
  EXPECT_EQ(tabOrder, screenOrder);
}

// Alt+letter is no character: nothing goes to the target. Plain and Ctrl letters do.
void AltLetterInTheTerminalSendsNothing(AuditRig& rig) {
  TerminalScreenWidget* terminal = rig.window->Terminal();
  std::vector<std::uint8_t> sent;
  terminal->SetCharSink([&sent](std::uint8_t byte) {
    sent.push_back(byte);
    return true;
  });
  terminal->SetConnected(true);
  terminal->setFocus();
  QTest::keyClick(terminal, Qt::Key_Q, Qt::AltModifier);
  QTest::keyClick(terminal, Qt::Key_K, Qt::AltModifier | Qt::ShiftModifier);
  QTest::keyClick(terminal, Qt::Key_Q);
  EXPECT_EQ(sent, std::vector<std::uint8_t>{'q'});
  terminal->SetConnected(false);
}

// The filter list shows each name alone; the dialog still lists by the pattern.
void FileFiltersShowTheNameAlone(AuditRig&) {
  FileDialogSpec spec;
  spec.filters =
      QStringList{FileFilter("URT Files", "*.URT"), FileFilter(kDsfFilterName, kDsfPattern)};
  QFileDialog dialog;
  ConfigureFileDialog(dialog, spec, false);
  auto* types = dialog.findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
  ASSERT_NE(types, nullptr);
  QStringList shown;
  for (int i = 0; i < types->count(); ++i) shown << types->itemText(i);
  EXPECT_EQ(shown, (QStringList{"URT Files", "Download Script File (*.DSF)"}));
  auto* files = dialog.findChild<QFileSystemModel*>();
  ASSERT_NE(files, nullptr);
  EXPECT_EQ(files->nameFilters(), QStringList{"*.URT"});
  dialog.selectNameFilter(spec.filters[1]);
  EXPECT_EQ(files->nameFilters(), QStringList{"*.dsf"});
}

struct AuditRow {
  const char* name;
  void (*check)(AuditRig&);
};

class WindowAudit : public ::testing::TestWithParam<AuditRow> {};

TEST_P(WindowAudit, BehavesAsTheWindowRulesSay) {
  AuditRig rig;
  GetParam().check(rig);
}

INSTANTIATE_TEST_SUITE_P(
    Items, WindowAudit,
    ::testing::Values(
        AuditRow{"CancelItemHasNoKeyText", CancelItemHasNoKeyText},
        AuditRow{"AcceleratorsComeBeforeTheLineInputBox", AcceleratorsComeBeforeTheLineInputBox},
        AuditRow{"FindOpensOnlyOnce", FindOpensOnlyOnce},
        AuditRow{"EnterPressesTheFocusedButton", EnterPressesTheFocusedButton},
        AuditRow{"ScriptInformationTabOrderFollowsTheScreen",
                 ScriptInformationTabOrderFollowsTheScreen},
        AuditRow{"AltLetterInTheTerminalSendsNothing", AltLetterInTheTerminalSendsNothing},
        AuditRow{"FileFiltersShowTheNameAlone", FileFiltersShowTheNameAlone}),
    [](const ::testing::TestParamInfo<AuditRow>& row) { return std::string(row.param.name); });

}  // namespace
}  // namespace tavrin::app
