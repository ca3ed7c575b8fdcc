// The Port Settings dialog (template 124): the port name, the line parameters and the
// Hardware Flow Control box (the RTS line), edited on a copy of PortSettings. OK takes
// the choices and stores the RTS choice at once as RTSControl ("1" or "0"); the other
// fields reach the device at the next Connect. Opened by the Port Settings command (only
// while no connection is open) and when a Connect fails. UI thread only.
#pragma once

#include <QDialog>
#include <QStringList>
#include <span>
#include <vector>

#include "app/settings_store.h"
#include "app/user_prompts.h"
#include "serial/port_list.h"
#include "serial/port_settings.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;

namespace tavrin::app {

// Template and control ids.
inline constexpr int kPortSettingsDialogId = 124;
inline constexpr int kComPortListId = 1000;   // editable: a name may be typed
inline constexpr int kBaudRateListId = 1001;  // "Bits Per Second"
inline constexpr int kParityListId = 1002;
inline constexpr int kDataBitsListId = 1003;
inline constexpr int kStopBitsListId = 1004;
inline constexpr int kHardwareFlowBoxId = 1041;

// One entry of the COM Port list after COM1..COM4: the name it puts into the field, and
// what the port is (product, serial number, by-id name), shown as the entry's tooltip.
struct PortEntry {
  QString name;
  QString description;

  bool operator==(const PortEntry&) const = default;
};

// The entries for the serial ports of this machine, less those that COM1..COM4 already
// name: first each port by its short name ("ttyUSB0"), then each adapter that has one by
// its by-id path ("/dev/serial/by-id/usb-FTDI_..."), the name that stays with the adapter
// across replugging.
std::vector<PortEntry> PortEntries(std::span<const serial::PortInfo> ports);
// What a port is, in one line: "FT232R USB UART (FTDI), serial A50285BI,
// /dev/serial/by-id/usb-FTDI_...". Just the device path when nothing more is known.
QString PortDescription(const serial::PortInfo& port);

// Fixed texts.
inline constexpr const char* kPortSettingsTitle = "Port Settings";
inline constexpr const char* kHardwareFlowText = "&Hardware Flow Control";
inline constexpr const char* kPortOkText = "&OK";
inline constexpr const char* kPortCancelText = "&Cancel";
inline constexpr const char* kRegistryProblemText = "Registry handling problem";
inline constexpr const char* kProgramCaptionText = "Tavrin 1.1";

enum class PortDialogResult {
  kAccepted,    // OK: the settings are the dialog's and RTSControl is stored
  kCancelled,   // nothing changed
  kStoreFailed  // OK, but the store could not be opened: the program shuts down
};

struct PortDialogOutcome {
  PortDialogResult result;
  serial::PortSettings settings;  // the dialog's choices; `current` when cancelled
};

class PortSettingsDialog final : public QDialog {
  Q_OBJECT

 public:
  // Fills the lists: COM1..COM4 then `extraPorts`, the rates, the parities, the data bits
  // and the stop bits, each selected from `current`. `cause`, when not empty, is why the
  // last Connect could not open the port and what to do about it: one line under the
  // controls, which keep their places (the dialog grows to hold it).
  PortSettingsDialog(const serial::PortSettings& current, const std::vector<PortEntry>& extraPorts,
                     SettingsStore& store, UserPrompts& prompts, QWidget* parent = nullptr,
                     const QString& cause = QString());

  // The dialog's choices read as OK reads them, over the fields of `current` that the
  // dialog does not show: the name kept whole up to 255 bytes, a list text that matches
  // no entry giving 0, the data bits read as a number (0 when not one).
  serial::PortSettings ReadSettings() const;

  PortDialogResult Result() const { return result_; }

  QComboBox* PortNameList() const { return portName_; }
  QComboBox* BaudRateList() const { return baudRate_; }
  QComboBox* ParityList() const { return parity_; }
  QComboBox* DataBitsList() const { return dataBits_; }
  QComboBox* StopBitsList() const { return stopBits_; }
  QCheckBox* HardwareFlowBox() const { return hardwareFlow_; }
  QPushButton* OkButton() const { return ok_; }
  QPushButton* CancelButton() const { return cancel_; }
  // The cause line; null when the dialog was opened without a cause.
  QLabel* CauseLine() const { return cause_; }

 private:
  void CreateControls();
  void Fill(const std::vector<PortEntry>& extraPorts);
  void AddCauseLine(const QString& cause);
  void PressOk();

  serial::PortSettings current_;
  SettingsStore& store_;
  UserPrompts& prompts_;
  PortDialogResult result_ = PortDialogResult::kCancelled;
  QComboBox* portName_ = nullptr;
  QComboBox* baudRate_ = nullptr;
  QComboBox* parity_ = nullptr;
  QComboBox* dataBits_ = nullptr;
  QComboBox* stopBits_ = nullptr;
  QCheckBox* hardwareFlow_ = nullptr;
  QPushButton* ok_ = nullptr;
  QPushButton* cancel_ = nullptr;
  QLabel* cause_ = nullptr;
};

// Runs the dialog modally over `parent`. On kStoreFailed the "Registry handling problem"
// box has been shown; the caller shuts the program down.
PortDialogOutcome RunPortSettingsDialog(QWidget* parent, const serial::PortSettings& current,
                                        const std::vector<PortEntry>& extraPorts,
                                        SettingsStore& store, UserPrompts& prompts,
                                        const QString& cause = QString());

}  // namespace tavrin::app
