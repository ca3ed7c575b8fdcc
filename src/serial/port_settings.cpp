#include "serial/port_settings.h"

#include <array>
#include <charconv>
#include <cstdlib>

#include "serial/error_reporter.h"
#include "serial/serial_device.h"

namespace tavrin::serial {
namespace {

constexpr std::array kBaudRates{
    Choice{"110", 110},       Choice{"300", 300},       Choice{"600", 600},
    Choice{"1200", 1200},     Choice{"2400", 2400},     Choice{"4800", 4800},
    Choice{"9600", 9600},     Choice{"14400", 14400},   Choice{"19200", 19200},
    Choice{"38400", 38400},   Choice{"56000", 56000},   Choice{"57600", 57600},
    Choice{"115200", 115200}, Choice{"230400", 230400}, Choice{"460800", 460800},
    Choice{"921600", 921600},
};

constexpr std::array kParities{
    Choice{"None", kParityNone}, Choice{"Even", kParityEven},   Choice{"Odd", kParityOdd},
    Choice{"Mark", kParityMark}, Choice{"Space", kParitySpace},
};

constexpr std::array kStopBits{
    Choice{"1", kStopBitsOne},
    Choice{"1.5", kStopBitsOneAndHalf},
    Choice{"2", kStopBitsTwo},
};

constexpr std::array kDataBits{Choice{"5", 5}, Choice{"6", 6}, Choice{"7", 7}, Choice{"8", 8}};

constexpr std::array kComPorts{Choice{"COM1", 1}, Choice{"COM2", 2}, Choice{"COM3", 3},
                               Choice{"COM4", 4}};

constexpr std::string_view kComPrefix = "COM";

std::string ParityLetter(std::uint8_t parity) {
  if (parity == kParityEven) return " E";
  if (parity == kParityOdd) return " O";
  return " N";
}

std::string StopBitsText(std::uint8_t stopBits) {
  switch (stopBits) {
    case kStopBitsOne:
      return " 1";
    case kStopBitsOneAndHalf:
      return " 1.5";
    case kStopBitsTwo:
      return " 2";
    default:
      return "";
  }
}

}  // namespace

PortSettings DefaultPortSettings(const char* portOverride) {
  PortSettings settings;
  if (portOverride != nullptr && *portOverride != '\0') {
    settings.portName = ClampPortName(portOverride);
  }
  return settings;
}

PortSettings DefaultPortSettingsFromEnvironment() {
  return DefaultPortSettings(std::getenv("TAVRIN_PORT"));
}

std::span<const Choice> BaudRateChoices() {
  return kBaudRates;
}
std::span<const Choice> ParityChoices() {
  return kParities;
}
std::span<const Choice> StopBitChoices() {
  return kStopBits;
}
std::span<const Choice> DataBitChoices() {
  return kDataBits;
}
std::span<const Choice> ComPortChoices() {
  return kComPorts;
}

std::uint32_t LookupChoice(std::string_view text, std::span<const Choice> table) {
  const std::string_view compared = text.substr(0, kMaxChoiceTextLength);
  for (const Choice& choice : table) {
    if (choice.text == compared) return choice.value;
  }
  return 0;
}

std::string ClampPortName(std::string_view text) {
  if (text.size() <= kMaxPortNameLength) return std::string(text);
  std::size_t end = kMaxPortNameLength;
  // Back over the continuation bytes (10xxxxxx) of a character the cut would split.
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0u) == 0x80u) --end;
  return std::string(text.substr(0, end));
}

std::string DevicePath(std::string_view portName) {
  if (portName.starts_with('/')) return std::string(portName);
  if (portName.starts_with(kComPrefix)) {
    const std::string_view digits = portName.substr(kComPrefix.size());
    unsigned number = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
    if (!digits.empty() && error == std::errc{} && end == digits.data() + digits.size() &&
        number > 0) {
      return "/dev/ttyS" + std::to_string(number - 1);
    }
  }
  return "/dev/" + std::string(portName);
}

unsigned CharacterBits(const PortSettings& settings) {
  const unsigned parityBits = settings.parity == kParityNone ? 0 : 1;
  const unsigned stopBits = settings.stopBits == kStopBitsOne ? 1 : 2;
  return 1 + unsigned{settings.dataBits} + parityBits + stopBits;
}

std::string ConnectionSummary(const PortSettings& settings) {
  return settings.portName + "  " + std::to_string(settings.baudRate) + "  " +
         std::to_string(settings.dataBits) + ParityLetter(settings.parity) +
         StopBitsText(settings.stopBits);
}

void ApplyPortSettings(SerialDevice& device, const PortSettings& settings,
                       ErrorReporter& reporter) {
  for (const DeviceResult& failure : device.ApplySettings(settings)) {
    reporter.ReportError(failure.step, failure.error);
  }
  // The DTR and RTS states belong to the same control block as the frame, so a device
  // that will not take them is reported under the block's name.
  for (const DeviceResult& result :
       {device.SetDtr(settings.dtrControl == 1), device.SetRts(settings.rtsControl == 1)}) {
    if (!result.ok) reporter.ReportError("SetCommState", result.error);
  }
}

}  // namespace tavrin::serial
