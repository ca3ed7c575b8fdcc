// The port settings dialog and the settings store it writes RTS control to.
#include "app/port_settings_dialog.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include "app/settings_store.h"
#include "qt_test_support.h"

namespace tavrin::app {
namespace {

QStringList Texts(const QComboBox& list) {
  QStringList texts;
  for (int i = 0; i < list.count(); ++i) texts << list.itemText(i);
  return texts;
}

class SettingsStoreTest : public ::testing::Test {
 protected:
  QString Path() const { return dir_.filePath(QStringLiteral("ZVQ/Tavrin.ini")); }
  QByteArray ReadFile() const {
    QFile file(Path());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
  }
  // A file where the store's folder goes: the store cannot be opened.
  void BlockStore() {
    QFile blocker(dir_.filePath(QStringLiteral("ZVQ")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  }

  QTemporaryDir dir_;
};

class PortSettingsDialogTest : public SettingsStoreTest {
 protected:
  SettingsStore store_{Path()};
  testing::FakePrompts prompts_;
};

TEST_F(PortSettingsDialogTest, ListsHoldTheTablesInOrderWithTheirValues) {
  PortSettingsDialog dialog(serial::PortSettings{},
                            {{QStringLiteral("ttyUSB0"), {}},
                             {QStringLiteral("COM2"), {}},
                             {QStringLiteral("ttyACM0"), {}}},
                            store_, prompts_);
  EXPECT_EQ(Texts(*dialog.PortNameList()),
            (QStringList{"COM1", "COM2", "COM3", "COM4", "ttyUSB0", "ttyACM0"}));
  EXPECT_EQ(Texts(*dialog.BaudRateList()),
            (QStringList{"110", "300", "600", "1200", "2400", "4800", "9600", "14400", "19200",
                         "38400", "56000", "57600", "115200", "230400", "460800", "921600"}));
  EXPECT_EQ(Texts(*dialog.ParityList()), (QStringList{"None", "Even", "Odd", "Mark", "Space"}));
  EXPECT_EQ(Texts(*dialog.StopBitsList()), (QStringList{"1", "1.5", "2"}));
  EXPECT_EQ(Texts(*dialog.DataBitsList()), (QStringList{"5", "6", "7", "8"}));
  // The defaults are selected.
  EXPECT_EQ(serial::ConnectionSummary(dialog.ReadSettings()), "COM1  115200  8 N 1");
  EXPECT_FALSE(dialog.HardwareFlowBox()->isChecked());
  EXPECT_EQ(dialog.findChild<QComboBox*>(QStringLiteral("1000")), dialog.PortNameList());
}

// Filling the dialog and reading it back gives the settings, and Connect's summary: each
// list's entries carry their values.
struct SummaryRow {
  const char* port;
  const char* baud;
  const char* dataBits;
  const char* parity;
  const char* stopBits;
  const char* summary;
};

class ConnectionSummaryTest : public PortSettingsDialogTest,
                              public ::testing::WithParamInterface<SummaryRow> {};

TEST_P(ConnectionSummaryTest, ReadBackGivesTheSummary) {
  const SummaryRow& row = GetParam();
  PortSettingsDialog dialog(serial::PortSettings{}, {}, store_, prompts_);
  dialog.PortNameList()->setEditText(QLatin1String(row.port));
  dialog.BaudRateList()->setCurrentText(QLatin1String(row.baud));
  dialog.DataBitsList()->setCurrentText(QLatin1String(row.dataBits));
  dialog.ParityList()->setCurrentText(QLatin1String(row.parity));
  dialog.StopBitsList()->setCurrentText(QLatin1String(row.stopBits));
  EXPECT_EQ(serial::ConnectionSummary(dialog.ReadSettings()), row.summary);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ConnectionSummaryTest,
    ::testing::Values(SummaryRow{"COM2", "19200", "7", "Even", "2", "COM2  19200  7 E 2"},
                      SummaryRow{"ttyUSB0123", "110", "6", "None", "1", "ttyUSB0123  110  6 N 1"},
                      SummaryRow{"/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0",
                                 "921600", "8", "None", "1.5",
                                 "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0  "
                                 "921600  8 N 1.5"}));

TEST_F(PortSettingsDialogTest, CurrentSettingsAreShownAndReadBackUnchanged) {
  serial::PortSettings current;
  current.portName = "pts/12";  // not one of the list's names
  current.baudRate = 57600;
  current.parity = serial::kParitySpace;
  current.dataBits = 5;
  current.stopBits = serial::kStopBitsTwo;
  current.rtsControl = 1;
  PortSettingsDialog dialog(current, {}, store_, prompts_);
  EXPECT_EQ(dialog.PortNameList()->currentText(), "pts/12");
  EXPECT_TRUE(dialog.HardwareFlowBox()->isChecked());
  const auto shown = [](const serial::PortSettings& s) {
    return std::tuple(s.portName, s.baudRate, s.parity, s.dataBits, s.stopBits, s.rtsControl);
  };
  EXPECT_EQ(shown(dialog.ReadSettings()), shown(current));

  current.baudRate = 12345;  // not in the list: nothing selected, read as 0
  PortSettingsDialog odd(current, {}, store_, prompts_);
  EXPECT_EQ(odd.BaudRateList()->currentIndex(), -1);
  EXPECT_EQ(odd.ReadSettings().baudRate, 0u);
}

// OK stores the single byte of the box's state at once; Cancel stores nothing.
TEST_F(PortSettingsDialogTest, OkStoresTheBoxAsOneByteAndCancelStoresNothing) {
  PortSettingsDialog cancelled(serial::PortSettings{}, {}, store_, prompts_);
  cancelled.HardwareFlowBox()->setChecked(true);
  cancelled.CancelButton()->click();
  EXPECT_EQ(cancelled.Result(), PortDialogResult::kCancelled);
  EXPECT_FALSE(QFile::exists(Path()));

  for (const bool ticked : {true, false}) {
    serial::PortSettings current;
    current.rtsControl = ticked ? 0 : 1;
    PortSettingsDialog dialog(current, {}, store_, prompts_);
    dialog.HardwareFlowBox()->setChecked(ticked);
    dialog.OkButton()->click();
    EXPECT_EQ(dialog.Result(), PortDialogResult::kAccepted);
    EXPECT_TRUE(ReadFile().contains(ticked ? "RTSControl=1\n" : "RTSControl=0\n"));
    EXPECT_EQ(dialog.ReadSettings().rtsControl, ticked ? 1u : 0u);
  }
  EXPECT_TRUE(prompts_.messages.empty());
}

TEST_F(PortSettingsDialogTest, AStoreThatCannotBeOpenedIsReportedAndEndsTheRun) {
  BlockStore();
  PortSettingsDialog dialog(serial::PortSettings{}, {}, store_, prompts_);
  dialog.PortNameList()->setEditText(QStringLiteral("COM3"));
  dialog.OkButton()->click();
  EXPECT_EQ(dialog.Result(), PortDialogResult::kStoreFailed);
  EXPECT_EQ(prompts_.Texts(), QStringList{"Registry handling problem"});
  EXPECT_EQ(prompts_.messages[0].caption, "Tavrin 1.1");
  EXPECT_EQ(prompts_.messages[0].icon, PromptIcon::kStop);
  EXPECT_EQ(dialog.ReadSettings().portName, "COM3");  // taken before the store failed
}

struct RtsRow {
  const char* name;
  std::optional<QByteArray> data;  // the text after "RTSControl="; none: no value yet
  std::uint32_t rts;               // RTS control after LoadSettings
  QByteArray rewritten;            // the value's text afterwards
};

class RtsControlRoundTrip : public SettingsStoreTest,
                            public ::testing::WithParamInterface<RtsRow> {};

// The value lives under the product's key path; only the exact text "0" turns RTS off, a
// value that cannot be read is written as "0", and the first start writes it too.
TEST_P(RtsControlRoundTrip, OnlyTheExactTextZeroTurnsRtsOff) {
  const QByteArray key = "ZVQ\\Tavrin\\TVR-STB-001\\Version1.1.0c\\RTSControl=";
  if (GetParam().data) {  // the store file as another program (or an older run) left it
    ASSERT_TRUE(QDir().mkpath(QFileInfo(Path()).absolutePath()));
    QFile file(Path());
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("[Software]\n" + key + *GetParam().data + "\n");
  }
  serial::PortSettings settings;
  settings.rtsControl = 0;
  SettingsStore(Path()).LoadSettings(settings);
  EXPECT_EQ(settings.rtsControl, GetParam().rts);
  EXPECT_TRUE(ReadFile().contains(key + GetParam().rewritten + "\n")) << ReadFile().toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Values, RtsControlRoundTrip,
    ::testing::Values(RtsRow{"NoneYet", std::nullopt, 0, "0"}, RtsRow{"Zero", "0", 0, "0"},
                      RtsRow{"One", "1", 1, "1"}, RtsRow{"Yes", "yes", 1, "yes"},
                      RtsRow{"DoubleZero", "00", 1, "00"}, RtsRow{"Empty", "", 1, ""},
                      RtsRow{"TenBytes", "0123456789", 1, "0123456789"},
                      RtsRow{"ElevenBytes", "01234567890", 0, "0"}),
    [](const ::testing::TestParamInfo<RtsRow>& row) { return std::string(row.param.name); });

TEST_F(SettingsStoreTest, AStoreThatCannotBeOpenedChangesNothing) {
  BlockStore();
  SettingsStore store(Path());
  serial::PortSettings settings;
  settings.rtsControl = 5;
  store.LoadSettings(settings);
  EXPECT_EQ(settings.rtsControl, 5u);
  EXPECT_FALSE(store.StoreRtsControl(true));
  EXPECT_FALSE(store.WriteParserPath(QStringLiteral("/usr/bin/parser")));
  EXPECT_EQ(store.ReadParserPath(), std::nullopt);
}

TEST_F(SettingsStoreTest, ParserPathLivesUnderItsOwnKeyAndIsCut) {
  SettingsStore store(Path());
  EXPECT_EQ(store.ReadParserPath(), std::nullopt);
  ASSERT_TRUE(store.WriteParserPath(QStringLiteral("/opt/parser, v2/run")));
  EXPECT_EQ(store.ReadParserPath(), QStringLiteral("/opt/parser, v2/run"));
  EXPECT_TRUE(ReadFile().contains("ZVQ\\Tavrin\\TVR-STB-001\\Version1.1.0c\\ADBtoSDB\\FileName="));
  ASSERT_TRUE(store.WriteParserPath(QString(300, QLatin1Char('p'))));
  EXPECT_EQ(store.ReadParserPath()->size(), kParserPathMaxLength);
}

}  // namespace
}  // namespace tavrin::app
