#include "cli/cli_options.h"

#include <charconv>
#include <cstdlib>
#include <map>

namespace tavrin::cli {
namespace {

using Parsed = std::variant<CliOptions, std::string>;

std::optional<std::uint32_t> ParseUnsigned(const std::string& text) {
  std::uint32_t value = 0;
  const auto* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (ec != std::errc{} || ptr != end || text.empty()) return std::nullopt;
  return value;
}

std::optional<std::uint8_t> ParseParity(const std::string& text) {
  static const std::map<std::string, std::uint8_t> kNames = {{"none", serial::kParityNone},
                                                             {"odd", serial::kParityOdd},
                                                             {"even", serial::kParityEven},
                                                             {"mark", serial::kParityMark},
                                                             {"space", serial::kParitySpace}};
  const auto it = kNames.find(text);
  if (it == kNames.end()) return std::nullopt;
  return it->second;
}

std::optional<std::uint8_t> ParseStopBits(const std::string& text) {
  if (text == "1") return serial::kStopBitsOne;
  if (text == "1.5") return serial::kStopBitsOneAndHalf;
  if (text == "2") return serial::kStopBitsTwo;
  return std::nullopt;
}

// Applies one option that takes a value; an error text when the value is wrong.
std::optional<std::string> ApplyValue(CliOptions& options, const std::string& name,
                                      const std::string& value) {
  if (name == "--port") {
    options.port.portName = value;
    options.portGiven = true;
  } else if (name == "--baud") {
    const auto baud = ParseUnsigned(value);
    if (!baud || *baud == 0) return "--baud needs a positive number";
    options.port.baudRate = *baud;
  } else if (name == "--data-bits") {
    const auto bits = ParseUnsigned(value);
    if (!bits || *bits < 5 || *bits > 8) return "--data-bits must be 5, 6, 7 or 8";
    options.port.dataBits = static_cast<std::uint8_t>(*bits);
  } else if (name == "--parity") {
    const auto parity = ParseParity(value);
    if (!parity) return "--parity must be none, odd, even, mark or space";
    options.port.parity = *parity;
  } else if (name == "--stop-bits") {
    const auto stop = ParseStopBits(value);
    if (!stop) return "--stop-bits must be 1, 1.5 or 2";
    options.port.stopBits = *stop;
  } else if (name == "--timeout") {
    char* end = nullptr;
    const double seconds = std::strtod(value.c_str(), &end);
    if (end == value.c_str() || *end != '\0' || !(seconds > 0)) {
      return "--timeout needs a positive number of seconds";
    }
    options.timeoutSeconds = seconds;
  } else if (name == "--output") {
    options.output = value;
  } else if (name == "--log") {
    options.log = value;
  } else {
    return "unknown option " + name;
  }
  return std::nullopt;
}

bool TakesValue(const std::string& name) {
  return name == "--port" || name == "--baud" || name == "--data-bits" || name == "--parity" ||
         name == "--stop-bits" || name == "--timeout" || name == "--output" || name == "--log";
}

std::optional<Command> CommandNamed(const std::string& name) {
  if (name == "upload") return Command::kUpload;
  if (name == "download") return Command::kDownload;
  if (name == "comtest") return Command::kComTest;
  if (name == "script") return Command::kScriptShow;
  if (name == "ports") return Command::kPorts;
  if (name == "help" || name == "--help" || name == "-h") return Command::kHelp;
  if (name == "--version") return Command::kVersion;
  return std::nullopt;
}

std::optional<std::string> Check(const CliOptions& options, std::size_t positionals) {
  if (options.command == Command::kHelp || options.command == Command::kVersion) {
    return std::nullopt;
  }
  if (positionals != 1) return "expected exactly one file or text argument";
  if (options.command == Command::kScriptShow) return std::nullopt;
  if (!options.portGiven) return "--port is required";
  if (options.command == Command::kDownload && options.output.empty()) {
    return "download needs --output FILE.DBF";
  }
  return std::nullopt;
}

}  // namespace

Parsed ParseCliOptions(const std::vector<std::string>& args) {
  CliOptions options;
  options.port = serial::DefaultPortSettings();
  if (args.empty()) return std::string("no command given");
  const auto command = CommandNamed(args[0]);
  if (!command) return "unknown command " + args[0];
  options.command = *command;
  std::size_t i = 1;
  if (options.command == Command::kPorts) {
    for (; i < args.size(); ++i) {
      if (args[i] != "--json") return "ports takes no option but --json, not " + args[i];
      options.json = true;
    }
    return options;
  }
  if (options.command == Command::kScriptShow) {
    if (args.size() < 2 || args[1] != "show") return std::string("script needs 'show SCRIPT.DSF'");
    i = 2;
  }
  std::size_t positionals = 0;
  for (; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--rts") {
      options.port.rtsControl = 1;
    } else if (arg == "--trace") {
      options.trace = true;
    } else if (arg == "--json") {
      return std::string("--json is for ports only");
    } else if (arg.starts_with("--") && arg.size() > 2) {
      if (!TakesValue(arg)) return "unknown option " + arg;
      if (i + 1 >= args.size()) return arg + " needs a value";
      if (auto error = ApplyValue(options, arg, args[++i])) return *error;
    } else {
      options.argument = arg;
      ++positionals;
    }
  }
  if (auto error = Check(options, positionals)) return *error;
  return options;
}

std::string UsageText() {
  return "usage:\n"
         "  tavrin-cli upload   --port DEV [LINE] [--timeout S] [--log FILE] FILE.URT\n"
         "  tavrin-cli download --port DEV [LINE] [--timeout S] [--log FILE] --output FILE.DBF "
         "SCRIPT.DSF\n"
         "  tavrin-cli comtest  --port DEV [LINE] [--timeout S] TEXT\n"
         "  tavrin-cli script   show SCRIPT.DSF\n"
         "  tavrin-cli ports    [--json]   (the serial ports of this machine)\n"
         "DEV: COM1.., ttyUSB0, a path, a /dev/serial/by-id name, or serial:NUMBER (USB serial)\n"
         "LINE: --baud N (115200) --data-bits 5..8 (8) --parity none|odd|even|mark|space (none)\n"
         "      --stop-bits 1|1.5|2 (1) --rts (RTS on)\n"
         "      --trace (hex dump of the line on stderr)\n"
         "exit status: 0 success, 1 usage, 2 bad file, 3 port not available, 4 transfer ended\n"
         "             otherwise, 5 region failed its CRC check, 6 serial link failed\n";
}

}  // namespace tavrin::cli
