#include "app/port_settings_dialog.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include "qt_test_support.h"

namespace tavrin::app {
namespace {

QStringList Texts(const QComboBox& list) {
  QStringList texts;
  for (int i = 0; i < list.count(); ++i) texts << list.itemText(i);
  return texts;
}

std::vector<std::uint32_t> Values(const QComboBox& list) {
  std::vector<std::uint32_t> values;
  for (int i = 0; i < list.count(); ++i) values.push_back(list.itemData(i).toUInt());
  return values;
}

class PortSettingsDialogTest : public ::testing::Test {
 protected:
  QString StorePath() const { return dir_.filePath(QStringLiteral("ZVQ/Tavrin.ini")); }
  QByteArray StoreText() const {
    QFile file(StorePath());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
  }

  QTemporaryDir dir_;
  SettingsStore store_{StorePath()};
  testing::FakePrompts prompts_;
};

TEST_F(PortSettingsDialogTest, ListsHoldTheTablesInOrderWithTheirValues) {
  PortSettingsDialog dialog(
      serial::PortSettings{},
      {QStringLiteral("ttyUSB0"), QStringLiteral("COM2"), QStringLiteral("ttyACM0")}, store_,
      prompts_);
  EXPECT_EQ(Texts(*dialog.PortNameList()),
            (QStringList{"COM1", "COM2", "COM3", "COM4", "ttyUSB0", "ttyACM0"}));
  EXPECT_EQ(Texts(*dialog.BaudRateList()),
            (QStringList{"110", "300", "600", "1200", "2400", "4800", "9600", "14400", "19200",
                         "38400", "56000", "57600", "115200", "230400", "460800", "921600"}));
  EXPECT_EQ(Values(*dialog.BaudRateList())[10], 56000u);
  EXPECT_EQ(Texts(*dialog.ParityList()), (QStringList{"None", "Even", "Odd", "Mark", "Space"}));
  EXPECT_EQ(Values(*dialog.ParityList()), (std::vector<std::uint32_t>{0, 2, 1, 3, 4}));
  EXPECT_EQ(Texts(*dialog.StopBitsList()), (QStringList{"1", "1.5", "2"}));
  EXPECT_EQ(Values(*dialog.StopBitsList()), (std::vector<std::uint32_t>{0, 1, 2}));
  EXPECT_EQ(Texts(*dialog.DataBitsList()), (QStringList{"5", "6", "7", "8"}));
  // The defaults are selected; the focus starts in the port name.
  EXPECT_EQ(dialog.PortNameList()->currentText(), "COM1");
  EXPECT_EQ(dialog.BaudRateList()->currentText(), "115200");
  EXPECT_EQ(dialog.ParityList()->currentText(), "None");
  EXPECT_EQ(dialog.DataBitsList()->currentText(), "8");
  EXPECT_EQ(dialog.StopBitsList()->currentText(), "1");
  EXPECT_FALSE(dialog.HardwareFlowBox()->isChecked());
  EXPECT_EQ(dialog.findChild<QComboBox*>(QStringLiteral("1000")), dialog.PortNameList());
  EXPECT_EQ(dialog.findChild<QCheckBox*>(QStringLiteral("1041"))->text(), "&Hardware Flow Control");
}

// Filling the dialog and reading it back gives the settings, and Connect's summary.
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
    ::testing::Values(SummaryRow{"COM1", "115200", "8", "None", "1", "COM1  115200  8 N 1"},
                      SummaryRow{"COM2", "19200", "7", "Even", "2", "COM2  19200  7 E 2"},
                      SummaryRow{"COM7", "300", "5", "Odd", "1.5", "COM7  300  5 O 1.5"},
                      SummaryRow{"ttyUSB0", "921600", "8", "None", "1", "ttyUSB0  921600  8 N 1"},
                      SummaryRow{"ttyUSB0123", "110", "6", "None", "1", "ttyUSB012  110  6 N 1"}));

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
  EXPECT_FALSE(QFile::exists(StorePath()));

  for (const bool ticked : {true, false}) {
    serial::PortSettings current;
    current.rtsControl = ticked ? 0 : 1;
    PortSettingsDialog dialog(current, {}, store_, prompts_);
    dialog.HardwareFlowBox()->setChecked(ticked);
    dialog.OkButton()->click();
    EXPECT_EQ(dialog.Result(), PortDialogResult::kAccepted);
    EXPECT_TRUE(StoreText().contains(ticked ? "RTSControl=1\n" : "RTSControl=0\n"));
    EXPECT_EQ(dialog.ReadSettings().rtsControl, ticked ? 1u : 0u);
  }
  EXPECT_TRUE(prompts_.messages.empty());
}

TEST_F(PortSettingsDialogTest, AStoreThatCannotBeOpenedIsReportedAndEndsTheRun) {
  QFile blocker(dir_.filePath(QStringLiteral("ZVQ")));  // a file where the folder goes
  ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  blocker.close();
  PortSettingsDialog dialog(serial::PortSettings{}, {}, store_, prompts_);
  dialog.PortNameList()->setEditText(QStringLiteral("COM3"));
  dialog.OkButton()->click();
  EXPECT_EQ(dialog.Result(), PortDialogResult::kStoreFailed);
  ASSERT_EQ(prompts_.messages.size(), 1u);
  EXPECT_EQ(prompts_.messages[0].text, "Registry handling problem");
  EXPECT_EQ(prompts_.messages[0].caption, "Tavrin 1.1");
  EXPECT_EQ(prompts_.messages[0].icon, PromptIcon::kStop);
  EXPECT_EQ(dialog.ReadSettings().portName, "COM3");  // taken before the store failed
}

}  // namespace
}  // namespace tavrin::app
