// PortSettings: the one record of COM port parameters, its defaults, the choice tables
// of the Port Settings dialog, and ApplyPortSettings, which hands the record to an open
// device. The record is owned by the application root; the UI thread changes it only
// while no connection is open, and the device receives it at every OpenPort.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace tavrin::serial {

class SerialDevice;
class ErrorReporter;

// Parity codes as the record stores them.
constexpr std::uint8_t kParityNone = 0;
constexpr std::uint8_t kParityOdd = 1;
constexpr std::uint8_t kParityEven = 2;
constexpr std::uint8_t kParityMark = 3;
constexpr std::uint8_t kParitySpace = 4;

// Stop-bit codes as the record stores them.
constexpr std::uint8_t kStopBitsOne = 0;
constexpr std::uint8_t kStopBitsOneAndHalf = 1;
constexpr std::uint8_t kStopBitsTwo = 2;

// Device events the reader/status thread watches (bits of the event word and mask).
constexpr std::uint32_t kEventRxChar = 0x0001;   // a character arrived
constexpr std::uint32_t kEventRxFlag = 0x0002;   // the event character arrived
constexpr std::uint32_t kEventTxEmpty = 0x0004;  // the output queue ran empty
constexpr std::uint32_t kEventCts = 0x0008;      // CTS changed
constexpr std::uint32_t kEventDsr = 0x0010;      // DSR changed
constexpr std::uint32_t kEventRlsd = 0x0020;     // carrier detect changed
constexpr std::uint32_t kEventBreak = 0x0040;    // a break was received
constexpr std::uint32_t kEventErr = 0x0080;      // a line error (frame, overrun, parity)
constexpr std::uint32_t kEventRing = 0x0100;     // ring indicator

// The port name as the dialog, the record and TAVRIN_PORT keep it: at most this many
// bytes. Linux names are longer than COM names ("ttyACM12",
// "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0"), and a by-id name is
// the only one that stays with an adapter across replugging, so the name is kept whole up
// to the length of one file name.
constexpr std::size_t kMaxPortNameLength = 255;
// LookupChoice compares at most this many characters of a control's text.
constexpr std::size_t kMaxChoiceTextLength = 19;

// The five time-outs, in milliseconds. Kept for the record; on Linux reads wait with
// poll() and return once the line is quiet, which is what the defaults ask for.
struct CommTimeouts {
  std::uint32_t readInterval = 1;
  std::uint32_t readTotalMultiplier = 0;
  std::uint32_t readTotalConstant = 0;
  std::uint32_t writeTotalMultiplier = 0;
  std::uint32_t writeTotalConstant = 0;
};

struct PortSettings {
  std::string portName = "COM1";  // bare name; DevicePath() turns it into a path
  std::uint32_t baudRate = 115200;
  std::uint8_t dataBits = 8;
  std::uint8_t parity = kParityNone;
  std::uint8_t stopBits = kStopBitsOne;
  std::uint32_t rtsControl = 0;  // 0: RTS held off; 1: held on ("Hardware Flow Control")
  std::uint32_t dtrControl = 1;  // 1: DTR held on while the port is open
  std::uint8_t eventChar = 10;   // given to the device only with the flag-character event
  std::uint8_t xonChar = 0x11;
  std::uint8_t xoffChar = 0x13;
  std::uint16_t xonLimit = 0;
  std::uint16_t xoffLimit = 0;
  bool outCtsFlow = false;
  bool outDsrFlow = false;
  bool dsrSensitivity = false;
  bool txContinueOnXoff = false;
  bool outXonXoff = false;
  bool inXonXoff = false;
  CommTimeouts timeouts;
  std::uint32_t eventMask =
      kEventCts | kEventDsr | kEventRlsd | kEventBreak | kEventErr | kEventRing;  // 0x1F8
  bool displayErrors = true;
};

// The defaults, with `portOverride` (the TAVRIN_PORT value, may be null or empty) in
// place of "COM1" when given, cut as ClampPortName cuts.
PortSettings DefaultPortSettings(const char* portOverride = nullptr);
// The defaults with TAVRIN_PORT taken from the environment.
PortSettings DefaultPortSettingsFromEnvironment();

// One entry of a choice list: the text shown and the value stored.
struct Choice {
  std::string_view text;
  std::uint32_t value;
};

// Choice tables, in list order.
std::span<const Choice> BaudRateChoices();  // 110 ... 115200, then 230400, 460800, 921600
std::span<const Choice> ParityChoices();    // "None" 0, "Even" 2, "Odd" 1, "Mark" 3, "Space" 4
std::span<const Choice> StopBitChoices();   // "1" 0, "1.5" 1, "2" 2
std::span<const Choice> DataBitChoices();   // 5, 6, 7, 8
std::span<const Choice> ComPortChoices();   // COM1 .. COM4

// The value of the first entry whose text equals the first 19 characters of `text`
// exactly (case counts); 0 when none does.
std::uint32_t LookupChoice(std::string_view text, std::span<const Choice> table);

// The port name as the dialog's OK takes it: the first kMaxPortNameLength bytes, less a
// UTF-8 character that the cut would split.
std::string ClampPortName(std::string_view text);

// The device path for a port name: "COMn" -> /dev/ttyS(n-1), a name starting with '/'
// is a path, any other name -> /dev/NAME.
std::string DevicePath(std::string_view portName);

// The connection summary Connect shows: "COM1  115200  8 N 1" for the defaults.
std::string ConnectionSummary(const PortSettings& settings);
// Bits one character takes on the line: start bit, data bits, parity bit if any, stop
// bits (1.5 counted as 2).
unsigned CharacterBits(const PortSettings& settings);

// Hands `settings` to the open device: line settings, then the RTS and DTR lines.
// Every failed step is reported ("GetCommState", "SetCommState") and the rest goes on.
void ApplyPortSettings(SerialDevice& device, const PortSettings& settings, ErrorReporter& reporter);

}  // namespace tavrin::serial
