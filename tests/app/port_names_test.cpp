// Linux port names in the window: kept whole through the dialog, the store and a restart;
// the connection summary shown whole or with its name elided; the Port Settings list
// naming each adapter; and the cause of a failed Connect under the dialog's controls.
#include <gtest/gtest.h>

#include <QAbstractItemView>

#include "app/command_ids.h"
#include "app/main_window.h"
#include "app/port_settings_dialog.h"
#include "app/transfer_panel.h"
#include "qt_test_support.h"
#include "support/recorders.h"
#include "support/temp_files.h"

namespace tavrin::app {
namespace {

const std::string kByIdName = "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0";
const std::string kByIdPath = "/dev/serial/by-id/" + kByIdName;

serial::PortInfo Adapter(const char* name, const char* serialNumber) {
  serial::PortInfo port;
  port.name = name;
  port.devicePath = std::string("/dev/") + name;
  port.byIdName = std::string("usb-FTDI_FT232R_USB_UART_") + serialNumber + "-if00-port0";
  port.manufacturer = "FTDI";
  port.product = "FT232R USB UART";
  port.serialNumber = serialNumber;
  return port;
}

// Two adapters of one kind, a port with nothing known but its path, and ttyS0, which
// COM1 already names.
std::vector<serial::PortInfo> MachinePorts() {
  serial::PortInfo acm;
  acm.name = "ttyACM0";
  acm.devicePath = "/dev/ttyACM0";
  serial::PortInfo uart;
  uart.name = "ttyS0";
  uart.devicePath = "/dev/ttyS0";
  return {uart, Adapter("ttyUSB0", "A50285BI"), Adapter("ttyUSB1", "B7731XQZ"), acm};
}

class PortNamesTest : public ::testing::Test {
 protected:
  void Open(const std::string& port, serial::DeviceFactory factory = {}) {
    ::setenv("TAVRIN_PORT", port.c_str(), 1);
    MainWindowDeps deps{prompts_, store_, errors_, work_.Path(), std::move(factory), {},
                        {},       {},     {}};
    deps.listPorts = [] { return serial::PortList{MachinePorts(), {}}; };
    deps.diagnose = [this](std::string_view portName, int error) {
      diagnosedName_ = std::string(portName);
      diagnosedError_ = error;
      return diagnosis_;
    };
    window_ = std::make_unique<MainWindow>(std::move(deps));
    ::unsetenv("TAVRIN_PORT");
  }
  // Runs `command` and `act` on the Port Settings dialog it opens, from inside its loop.
  void InPortSettings(int command, const std::function<void(PortSettingsDialog&)>& act) {
    bool acted = false;
    QTimer::singleShot(0, window_.get(), [&] {
      auto* dialog = window_->findChild<PortSettingsDialog*>();
      ASSERT_NE(dialog, nullptr);
      acted = true;
      act(*dialog);
      if (dialog->isVisible()) dialog->reject();
    });
    window_->DispatchCommand(command);
    EXPECT_TRUE(acted);
  }

  tavrin::test::TempDir work_;
  testing::FakePrompts prompts_;
  SettingsStore store_{QString::fromStdString((work_ / "settings.ini").string())};
  test::RecordingErrorSink errors_;
  serial::PortDiagnosis diagnosis_;
  std::string diagnosedName_;
  int diagnosedError_ = -1;
  std::unique_ptr<MainWindow> window_;
};

// A name far longer than a COM name survives TAVRIN_PORT, the dialog's OK (and the RTS
// value it stores) and a restart; only a name beyond 255 bytes is cut, at 255.
TEST_F(PortNamesTest, ALongNameSurvivesOkTheStoreAndARestart) {
  Open(kByIdPath);
  EXPECT_EQ(window_->Settings().portName, kByIdPath);
  const std::string longest = "/dev/" + std::string(250, 'n') + "-port0";
  InPortSettings(cmd::kPortSettings, [&](PortSettingsDialog& dialog) {
    EXPECT_EQ(dialog.PortNameList()->currentText().toStdString(), kByIdPath);
    dialog.PortNameList()->setEditText(QString::fromStdString(longest));
    dialog.HardwareFlowBox()->setChecked(true);
    dialog.OkButton()->click();
  });
  EXPECT_EQ(window_->Settings().portName, longest.substr(0, 255));
  EXPECT_EQ(window_->Settings().rtsControl, 1u);

  InPortSettings(cmd::kPortSettings, [&](PortSettingsDialog& dialog) {
    dialog.PortNameList()->setEditText(QString::fromStdString(kByIdPath));
    dialog.OkButton()->click();
  });
  EXPECT_EQ(window_->Settings().portName, kByIdPath);
  window_.reset();

  Open(kByIdPath);  // the restart reads the store: RTS on, the name whole
  EXPECT_EQ(window_->Settings().portName, kByIdPath);
  EXPECT_EQ(window_->Settings().rtsControl, 1u);
}

struct SummaryLabelRow {
  const char* name;
  std::string summary;
  bool whole;
};

class SummaryLabelTest : public ::testing::TestWithParam<SummaryLabelRow> {};

// The label widens for its text up to the "Packets Sent" label; a summary that cannot fit
// keeps its line parameters and loses the middle of its name. Its tooltip is whole.
TEST_P(SummaryLabelTest, IsShownWholeOrWithItsNameElided) {
  const SummaryLabelRow& row = GetParam();
  QWidget parent;
  TransferPanel panel(&parent);
  const QString summary = QString::fromStdString(row.summary);
  panel.SetConnectionSummary(summary);
  auto* label = static_cast<QLabel*>(panel.Control(panel::kConnectionSummary));
  const QWidget* packetsSent = panel.Control(panel::kPacketsSentLabel);
  EXPECT_LE(label->fontMetrics().horizontalAdvance(label->text()), label->width());
  EXPECT_LT(label->geometry().right(), packetsSent->geometry().left());
  EXPECT_EQ(label->toolTip(), summary);
  if (row.whole) {
    EXPECT_EQ(label->text(), summary);
  } else {
    const QString parameters = summary.mid(summary.indexOf(QStringLiteral("  ")));
    EXPECT_TRUE(label->text().endsWith(parameters)) << label->text().toStdString();
    EXPECT_TRUE(label->text().startsWith(QStringLiteral("/d"))) << label->text().toStdString();
    EXPECT_TRUE(label->text().contains(QChar(0x2026)));  // the ellipsis
    EXPECT_EQ(label->width(), label->geometry().width());
  }
  panel.BlankConnectionFields();
  EXPECT_EQ(label->text(), " ");
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SummaryLabelTest,
    ::testing::Values(SummaryLabelRow{"ByIdName", kByIdPath + "  921600  8 N 1.5", false},
                      SummaryLabelRow{"UsbName", "ttyUSB0  115200  8 N 1", true},
                      SummaryLabelRow{"PseudoTerminal", "/dev/pts/12  115200  8 N 1", true},
                      SummaryLabelRow{"ComName", "COM1  115200  8 N 1", true}),
    [](const ::testing::TestParamInfo<SummaryLabelRow>& row) {
      return std::string(row.param.name);
    });

// Two adapters of one kind are told apart by product, serial number and by-id name, and
// each can be picked by the by-id name that stays with it.
TEST(PortEntries, NameEachAdapterAndOfferItsByIdName) {
  const std::vector<serial::PortInfo> ports = MachinePorts();
  const std::vector<PortEntry> entries = PortEntries(ports);
  const std::vector<PortEntry> expected{
      {"ttyUSB0", "FT232R USB UART (FTDI), serial A50285BI, " + QString::fromStdString(kByIdPath)},
      {"ttyUSB1",
       "FT232R USB UART (FTDI), serial B7731XQZ, /dev/serial/by-id/"
       "usb-FTDI_FT232R_USB_UART_B7731XQZ-if00-port0"},
      {"ttyACM0", "/dev/ttyACM0"},
      {QString::fromStdString(kByIdPath), "ttyUSB0, FT232R USB UART (FTDI), serial A50285BI"},
      {"/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_B7731XQZ-if00-port0",
       "ttyUSB1, FT232R USB UART (FTDI), serial B7731XQZ"},
  };
  EXPECT_EQ(entries, expected);

  SettingsStore store(
      QString::fromStdString((tavrin::test::TempDir().Path() / "settings.ini").string()));
  testing::FakePrompts prompts;
  PortSettingsDialog dialog(serial::PortSettings{}, entries, store, prompts);
  QComboBox* list = dialog.PortNameList();
  ASSERT_EQ(list->count(), 4 + 5);
  EXPECT_EQ(list->itemText(4), "ttyUSB0");
  EXPECT_EQ(list->itemData(5, Qt::ToolTipRole).toString(), expected[1].description);
  // The drop-down is wide enough to read a by-id name.
  EXPECT_GE(list->view()->minimumWidth(),
            list->fontMetrics().horizontalAdvance(QString::fromStdString(kByIdPath)));
  list->setCurrentIndex(7);
  EXPECT_EQ(list->toolTip(), expected[3].description);
  EXPECT_EQ(dialog.ReadSettings().portName, kByIdPath);
}

struct CauseRow {
  const char* name;
  serial::PortDiagnosis diagnosis;
  std::vector<QString> said;  // parts of the cause line
};

serial::PortDiagnosis Missing() {
  serial::PortDiagnosis d;
  d.cause = serial::OpenFailure::kNoSuchDevice;
  d.devicePath = "/dev/ttyUSB9";
  d.error = ENOENT;
  return d;
}

serial::PortDiagnosis NotInGroup() {
  serial::PortDiagnosis d;
  d.cause = serial::OpenFailure::kPermissionDenied;
  d.devicePath = "/dev/ttyUSB9";
  d.error = EACCES;
  d.nodeExists = true;
  d.userName = "alice";
  serial::NodeAccess access;
  access.owner = "root";
  access.group = "dialout";
  access.mode = 020660;
  access.groupMayOpen = true;
  d.access = access;
  return d;
}

serial::PortDiagnosis HeldByMinicom() {
  serial::PortDiagnosis d;
  d.cause = serial::OpenFailure::kBusy;
  d.devicePath = "/dev/ttyUSB9";
  d.error = EBUSY;
  d.nodeExists = true;
  d.holders = {{4242, "minicom"}};
  return d;
}

class FailedConnectCause : public PortNamesTest, public ::testing::WithParamInterface<CauseRow> {};

// "Port is not available." first, then Port Settings with the cause and what to do in
// one line under its controls, which stay where the template puts them.
TEST_P(FailedConnectCause, IsShownUnderTheDialogsControls) {
  diagnosis_ = GetParam().diagnosis;
  Open("/dev/ttyUSB9", [](std::string_view) -> std::unique_ptr<serial::SerialDevice> {
    return nullptr;  // the port does not open
  });
  SettingsStore store(QString::fromStdString((work_ / "plain.ini").string()));
  PortSettingsDialog plain(window_->Settings(), {}, store, prompts_);

  InPortSettings(cmd::kConnect, [&](PortSettingsDialog& dialog) {
    ASSERT_EQ(prompts_.Texts(), QStringList{"Port is not available."});
    EXPECT_EQ(prompts_.messages[0].caption, "COM Port Open");
    QLabel* cause = dialog.CauseLine();
    ASSERT_NE(cause, nullptr);
    for (const QString& part : GetParam().said) {
      EXPECT_TRUE(cause->text().contains(part)) << cause->text().toStdString();
    }
    EXPECT_FALSE(cause->text().contains(QLatin1Char('\n')));
    EXPECT_EQ(dialog.OkButton()->geometry(), plain.OkButton()->geometry());
    EXPECT_EQ(dialog.CancelButton()->geometry(), plain.CancelButton()->geometry());
    EXPECT_EQ(dialog.PortNameList()->geometry(), plain.PortNameList()->geometry());
    EXPECT_GT(cause->geometry().top(), dialog.OkButton()->geometry().bottom());
    EXPECT_LE(cause->geometry().bottom(), dialog.height());
    if (!cause->wordWrap()) {
      EXPECT_LE(cause->fontMetrics().horizontalAdvance(cause->text()), cause->width());
    }
  });
  EXPECT_EQ(diagnosedName_, "/dev/ttyUSB9");
  EXPECT_FALSE(window_->Core().Connected());
  // The Port Settings command itself opens the dialog without a cause.
  InPortSettings(cmd::kPortSettings,
                 [](PortSettingsDialog& dialog) { EXPECT_EQ(dialog.CauseLine(), nullptr); });
}

INSTANTIATE_TEST_SUITE_P(
    Causes, FailedConnectCause,
    ::testing::Values(CauseRow{"Missing", Missing(), {"/dev/ttyUSB9 does not exist", "ttyUSB0"}},
                      CauseRow{"Permission",
                               NotInGroup(),
                               {"Permission denied", "dialout", "sudo usermod -aG dialout alice"}},
                      CauseRow{"Busy", HeldByMinicom(), {"Busy", "minicom", "kill 4242"}}),
    [](const ::testing::TestParamInfo<CauseRow>& row) { return std::string(row.param.name); });

}  // namespace
}  // namespace tavrin::app
