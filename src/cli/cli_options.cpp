#include "cli/cli_options.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <map>
#include <set>

namespace tavrin::cli {
namespace {

using Parsed = std::variant<CliOptions, std::string>;

constexpr std::uint32_t kMaxRetries = 100;  // each retry is a whole exchange with the target

std::optional<std::uint32_t> ParseUnsigned(const std::string& text) {
  std::uint32_t value = 0;
  const auto* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (ec != std::errc{} || ptr != end || text.empty()) return std::nullopt;
  return value;
}

// Seconds given on the command line: a positive number.
std::optional<double> ParseSeconds(const std::string& text) {
  char* end = nullptr;
  const double seconds = std::strtod(text.c_str(), &end);
  if (end == text.c_str() || *end != '\0' || !(seconds > 0) || !std::isfinite(seconds)) {
    return std::nullopt;
  }
  return seconds;
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
    if (value.empty()) return "--port needs a port name";
    if (options.portNames.empty()) options.port.portName = value;
    options.portNames.push_back(value);
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
    const auto seconds = ParseSeconds(value);
    if (!seconds) return "--timeout needs a positive number of seconds";
    options.timeoutSeconds = *seconds;
  } else if (name == "--confirm") {
    const auto seconds = ParseSeconds(value);
    if (!seconds) return "--confirm needs a positive number of seconds";
    options.confirmSeconds = *seconds;
  } else if (name == "--retries") {
    const auto retries = ParseUnsigned(value);
    if (!retries || *retries > kMaxRetries) {
      return "--retries needs a number from 0 to " + std::to_string(kMaxRetries);
    }
    options.retries = *retries;
  } else if (name == "--units") {
    const auto units = ParseUnsigned(value);
    if (!units || *units == 0) return "--units needs a positive number";
    options.units = *units;
  } else if (name == "--gap") {
    const auto seconds = ParseSeconds(value);
    if (!seconds) return "--gap needs a positive number of seconds";
    options.gapSeconds = *seconds;
  } else if (name == "--journal") {
    if (value.empty()) return "--journal needs a file";
    options.journal = value;
  } else if (name == "--journal-to") {
    if (!value.starts_with("postgresql://") && !value.starts_with("postgres://")) {
      return "--journal-to needs a postgresql:// connection URI";
    }
    options.journalTo = value;
  } else if (name == "--since") {
    options.since = value;
  } else if (name == "--output") {
    options.output = value;
  } else if (name == "--log") {
    options.log = value;
  } else if (name == "--log-dir") {
    if (value.empty()) return "--log-dir needs a directory";
    options.logDir = value;
  } else {
    return "unknown option " + name;
  }
  return std::nullopt;
}

bool TakesValue(const std::string& name) {
  static const std::set<std::string> kNames = {
      "--port",   "--baud",    "--data-bits",  "--parity",  "--stop-bits", "--timeout",
      "--output", "--log",     "--log-dir",    "--retries", "--confirm",   "--units",
      "--gap",    "--journal", "--journal-to", "--since"};
  return kNames.contains(name);
}

std::optional<Command> CommandNamed(const std::string& name) {
  if (name == "upload") return Command::kUpload;
  if (name == "download") return Command::kDownload;
  if (name == "comtest") return Command::kComTest;
  if (name == "script") return Command::kScriptShow;
  if (name == "ports") return Command::kPorts;
  if (name == "station") return Command::kStation;
  if (name == "journal") return Command::kJournal;
  if (name == "help" || name == "--help" || name == "-h") return Command::kHelp;
  if (name == "--version") return Command::kVersion;
  return std::nullopt;
}

bool NamesEachPort(const std::string& path) {
  return path.find(kPortPlaceholder) != std::string::npos;
}

// Options that belong to one command only, and the files of several ports.
std::optional<std::string> CheckPortCommand(const CliOptions& options) {
  if (options.portNames.empty()) return "--port is required";
  if (options.command == Command::kDownload && options.output.empty()) {
    return "download needs --output FILE.DBF";
  }
  if (options.retries > 0 && options.command != Command::kDownload) {
    return "--retries is for download only";
  }
  if (options.confirmSeconds && options.command != Command::kUpload &&
      options.command != Command::kStation) {
    return "--confirm is for upload and station only";
  }
  const bool station = options.command == Command::kStation;
  if (!station && (options.units || options.gapSeconds || !options.journal.empty() ||
                   !options.journalTo.empty())) {
    return "--units, --gap, --journal and --journal-to are for station only";
  }
  if (station && (!options.log.empty() || options.timeoutSeconds || options.trace)) {
    return "station keeps each unit's capture with --log-dir; --log, --timeout and --trace "
           "are not for it";
  }
  if (options.portNames.size() > 1) {
    if (options.command == Command::kDownload && !NamesEachPort(options.output)) {
      return "with several ports, --output must contain {port}";
    }
    if (!options.log.empty() && !NamesEachPort(options.log)) {
      return "with several ports, --log must contain {port}";
    }
  }
  return std::nullopt;
}

std::optional<std::string> Check(const CliOptions& options, std::size_t positionals) {
  if (options.command == Command::kHelp || options.command == Command::kVersion) {
    return std::nullopt;
  }
  if (positionals != 1) return "expected exactly one file or text argument";
  if (options.command == Command::kScriptShow) {
    if (options.json) return std::string("--json is not for script show");
    return std::nullopt;
  }
  if (options.command == Command::kJournal) {
    if (options.json && options.csv) return std::string("journal takes --json or --csv, not both");
    return std::nullopt;
  }
  if (!options.since.empty() || options.csv)
    return std::string("--since and --csv are for journal");
  return CheckPortCommand(options);
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
      options.json = true;
    } else if (arg == "--csv") {
      options.csv = true;
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
         "  tavrin-cli upload   --port DEV... [LINE] [RUN] [--confirm S] FILE.URT\n"
         "  tavrin-cli download --port DEV... [LINE] [RUN] [--retries N] --output FILE.DBF "
         "SCRIPT.DSF\n"
         "  tavrin-cli comtest  --port DEV... [LINE] [RUN] TEXT\n"
         "  tavrin-cli script   show SCRIPT.DSF\n"
         "  tavrin-cli ports    [--json]   (the serial ports of this machine)\n"
         "  tavrin-cli station  --port DEV... [LINE] [--units N] [--gap S] [--confirm S]\n"
         "                      [--journal FILE] [--journal-to URL] [--log-dir DIR] [--json] "
         "FILE.URT\n"
         "  tavrin-cli journal  FILE [--since TIME] [--json|--csv]\n"
         "DEV: COM1.., ttyUSB0, a path, a /dev/serial/by-id name, or serial:NUMBER (USB serial)\n"
         "     --port again for more targets at once; then --output and --log need {port}\n"
         "LINE: --baud N (115200) --data-bits 5..8 (8) --parity none|odd|even|mark|space (none)\n"
         "      --stop-bits 1|1.5|2 (1) --rts (RTS on)\n"
         "RUN:  --timeout S (cancel a transfer after S s)  --log FILE (save the capture)\n"
         "      --log-dir DIR (each capture as DIR/<port>.log)  --json (events on stdout)\n"
         "      --trace (hex dump of the line on stderr)\n"
         "--confirm S: after Upload Success, listen S s for the target's refusal\n"
         "--retries N: fetch regions that fail their CRC check again, up to N times\n"
         "station: box after box on each port until --units N are recorded or Ctrl+C;\n"
         "         --gap S (2): a box has gone after S s without an answer to attention;\n"
         "         --journal FILE (tavrin-journal.db) records every unit (SQLite);\n"
         "         --journal-to postgresql://... sends each row to a plant's database too\n"
         "exit status: 0 success, 1 usage, 2 bad file, 3 port not available, 4 transfer ended\n"
         "             otherwise, 5 region failed its CRC check, 6 serial link failed;\n"
         "             with several ports the highest of them\n";
}

}  // namespace tavrin::cli
