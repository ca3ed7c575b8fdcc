// The state rules and the layout arithmetic, without a widget.
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "app/command_ids.h"
#include "app/window_layout.h"
#include "app/window_rules.h"

namespace tavrin::app {
namespace {

// The rows of the main window's state table: the menu item, toolbar button and panel
// control of each (0: none); the last row is the counters.
struct Control {
  int menu, toolbar, panel;
};
constexpr Control kControls[] = {{cmd::kConnect, tb::kConnect, 0},
                                 {cmd::kDisconnect, tb::kDisconnect, 0},
                                 {cmd::kPortSettings, tb::kPortSettings, 0},
                                 {cmd::kUpload, tb::kUpload, panel::kUpload},
                                 {cmd::kDownload, tb::kDownload, 0},
                                 {cmd::kComPortTesting, 0, 0},
                                 {cmd::kCancel, tb::kCancel, panel::kCancel},
                                 {0, tb::kPause, panel::kPause},
                                 {0, 0, panel::kPacketsSentLabel}};
// One column of the table: '1' where the row of kControls is on.
constexpr const char* kNotConnected = "101000000";
constexpr const char* kConnectedIdle = "010111000";
constexpr const char* kUploadRunning = "010000111";
constexpr const char* kDownloadRunning = "010000110";
constexpr const char* kDownloadReceiving = "010001110";

void ExpectColumn(const char* situation, const ControlStates& s, std::string_view column) {
  SCOPED_TRACE(situation);
  for (std::size_t row = 0; row < std::size(kControls); ++row) {
    SCOPED_TRACE(row);
    const Control& c = kControls[row];
    const bool on = column[row] == '1';
    if (c.menu != 0) {
      EXPECT_EQ(s.Menu(c.menu), on);
    }
    if (c.toolbar != 0) {
      EXPECT_EQ(s.Toolbar(c.toolbar), on);
    }
    if (c.panel != 0) {
      EXPECT_EQ(s.Panel(c.panel), on);
    }
  }
  EXPECT_EQ(s.countersShown, column[8] == '1');
  // Never changed by any rule.
  for (int id : {cmd::kSave, cmd::kExit, cmd::kCreateDownloadScript, cmd::kConvertAdbToSdb,
                 cmd::kCopy, cmd::kClear, cmd::kSelectAll, cmd::kFind, cmd::kAbout}) {
    EXPECT_TRUE(s.Menu(id)) << id;
  }
  EXPECT_TRUE(s.Toolbar(tb::kSave));
  EXPECT_TRUE(s.Panel(panel::kSaveLogFile));
}

ControlStates Connected() {
  ControlStates s = StartUpControlStates();
  UpdateConnectionState(s, true);
  ApplyConnectSteps(s);
  return s;
}

ControlStates UploadStarted() {
  ControlStates s = Connected();
  ApplyUploadStartSteps(s);
  RefreshTransferState(s, {true, true, false});  // the transfer thread's first refresh
  return s;
}

ControlStates DownloadStarted() {
  ControlStates s = Connected();
  ApplyDownloadStartSteps(s);
  RefreshTransferState(s, {true, true, true});
  return s;
}

TEST(StateTable, EachSituationSetsItsColumn) {
  ExpectColumn("StartUp", StartUpControlStates(), kNotConnected);
  ExpectColumn("Connect", Connected(), kConnectedIdle);
  ExpectColumn("Upload", UploadStarted(), kUploadRunning);
  ExpectColumn("DownloadStart", DownloadStarted(), kDownloadRunning);

  ControlStates s = UploadStarted();
  RefreshTransferState(s, {true, false, false});
  ApplyTransferIdleSteps(s);
  ExpectColumn("UploadEndsOnItsOwn", s, kConnectedIdle);

  s = UploadStarted();
  ApplyCancelSteps(s);
  RefreshTransferState(s, {true, false, false});
  ExpectColumn("CancelThenTransferRefresh", s, kConnectedIdle);

  s = UploadStarted();
  ApplyDisconnectSteps(s);
  ExpectColumn("DisconnectDuringUpload", s, kNotConnected);

  s = UploadStarted();
  ApplyDisconnectDeclined(s, {true, true, false});
  ExpectColumn("DisconnectAnsweredNoDuringUpload", s, kUploadRunning);

  s = DownloadStarted();
  ApplyDisconnectDeclined(s, {true, true, true});
  ExpectColumn("DisconnectAnsweredNoDuringDownload", s, kDownloadRunning);

  // After the command image the running flag is clear, yet regions still arrive: the
  // download still runs for every control, with COM Port Testing on.
  s = DownloadStarted();
  ApplyComPortTestingOffered(s);
  ExpectColumn("DownloadInItsReceivePhase", s, kDownloadReceiving);
  ApplyDisconnectDeclined(s, ReadTransferFlags(true, false, true, true));
  ExpectColumn("DisconnectAnsweredNoWhileRegionsArrive", s, kDownloadReceiving);

  // Its end: download mode left, the thread still asking where to save.
  s = DownloadStarted();
  ApplyComPortTestingOffered(s);
  ApplyTransferIdleSteps(s);
  RefreshTransferState(s, ReadTransferFlags(true, false, false, true));
  ExpectColumn("DownloadEndsBeforeItsSaveQuestion", s, kConnectedIdle);
}

// Pause shows "Continue" until Cancel; the panel's Cancel greys only the panel's and the
// menu's Cancel, and leaves the progress label and the toolbar to the transfer's end.
TEST(StateRules, PauseAndTheTwoCancels) {
  ControlStates s = UploadStarted();
  ApplyPauseToggled(s, true);
  EXPECT_STREQ(PauseTooltip(s), "Continue");
  ApplyPanelCancelSteps(s);
  EXPECT_FALSE(s.Panel(panel::kCancel));
  EXPECT_FALSE(s.Menu(cmd::kCancel));
  EXPECT_TRUE(s.progressLabelShown);
  EXPECT_EQ(s.progressLabelText, kUploadingText);
  EXPECT_TRUE(s.Toolbar(tb::kCancel));
  ApplyCancelSteps(s);
  EXPECT_STREQ(PauseTooltip(s), "Pause");
  EXPECT_FALSE(s.progressLabelShown);
}

struct LayoutRow {
  int width, height, baseUnit;
  bool shown;
  PixelRect panel, output, lineInput;
  int usable;
};

void PrintTo(const LayoutRow& row, std::ostream* os) {
  *os << row.width << "x" << row.height << " u" << row.baseUnit
      << (row.shown ? " line input shown" : " line input hidden");
}

class Layout : public ::testing::TestWithParam<LayoutRow> {};

TEST_P(Layout, PlacesEveryChild) {
  const LayoutRow& r = GetParam();
  const MainLayout layout = LayOutMainWindow(r.width, r.height, r.baseUnit, r.shown);
  EXPECT_EQ(layout.panel, r.panel);
  EXPECT_EQ(layout.output, r.output);
  EXPECT_EQ(layout.lineInput, r.lineInput);
  EXPECT_EQ(layout.usableHeight, r.usable);
  EXPECT_EQ(layout.terminal, (PixelRect{0, 49, 0, 0}));
}

INSTANTIATE_TEST_SUITE_P(
    MainWindow, Layout,
    ::testing::Values(
        // 1280 x 700, u 16: B = 620.
        LayoutRow{
            1280, 700, 16, false, {0, 610, 1280, 90}, {0, 36, 1280, 576}, {0, 521, 0, 0}, 561},
        LayoutRow{
            1280, 700, 16, true, {0, 610, 1280, 90}, {0, 36, 1280, 508}, {0, 541, 1280, 70}, 501},
        // u 26 (a panel that holds template 106 whole): B = 1024 - 130 = 894.
        LayoutRow{
            1920, 1024, 26, true, {0, 884, 1920, 140}, {0, 36, 1920, 782}, {0, 815, 1920, 70}, 775},
        // B is a 16-bit value: 66000 - 80 wraps to 384.
        LayoutRow{
            800, 66000, 16, false, {0, 374, 800, 90}, {0, 36, 800, 340}, {0, 285, 0, 0}, 325}));

TEST(DialogUnits, ConvertWithTheFontsBaseUnits) {
  // The line input toggle (505, 3, 16, 14) with a 6 x 13 font.
  EXPECT_EQ(DialogUnitsToPixels({505, 3, 16, 14}, {6, 13}), (PixelRect{758, 5, 24, 23}));
}

TEST(DialogUnits, PanelHeightHoldsTheWholeTemplate) {
  for (int charHeight : {11, 13, 15, 16, 19, 24}) {
    const DialogBaseUnits base{6, charHeight};
    const int u = BaseUnitHeightForPanel(86, base);
    const int templatePixels = DialogUnitsToPixels({0, 0, 0, 86}, base).height;
    EXPECT_GE(PanelHeight(u), templatePixels) << charHeight;
    EXPECT_LT(PanelHeight(u) - 5, templatePixels) << charHeight;
  }
}

}  // namespace
}  // namespace tavrin::app
