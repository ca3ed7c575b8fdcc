#include "cli/cli_options.h"

#include <cstdlib>
#include <map>

#include "cli/cli_commands.h"
#include "cli/cli_session.h"
#include "options/program_options.h"

namespace tavrin::cli {
namespace {

using options::AddValue;

constexpr const char* kProgram = "tavrin-cli";
constexpr const char* kLineGroup = "LINE";
constexpr const char* kRunGroup = "RUN";
constexpr const char* kPortOption = "--port";

constexpr const char* kPortFooter =
    "DEV: COM1.., ttyUSB0, a path, a /dev/serial/by-id name, or serial:NUMBER (USB serial).\n"
    "--port again for more targets at once; then --output and --log need {port}.\n"
    "Without --port, the port is $TAVRIN_PORT when it is set.";
constexpr const char* kExitFooter =
    "Exit status: 0 success, 1 usage, 2 bad file, 3 port not available, 4 transfer ended\n"
    "otherwise, 5 region failed its CRC check, 6 serial link failed; with several ports the\n"
    "highest of them; 128 + the signal when a signal ended the program (130 for Ctrl+C).\n"
    "tavrin-cli COMMAND --help lists a command's options.";

std::optional<std::uint32_t> ReadBaud(const std::string& text) {
  const auto baud = options::ReadUnsigned(text);
  if (!baud || *baud == 0) return std::nullopt;
  return *baud;
}

std::optional<std::uint8_t> ReadDataBits(const std::string& text) {
  const auto bits = options::ReadUnsigned(text);
  if (!bits || *bits < 5 || *bits > 8) return std::nullopt;
  return static_cast<std::uint8_t>(*bits);
}

std::optional<std::uint8_t> ReadParity(const std::string& text) {
  static const std::map<std::string, std::uint8_t> kNames = {{"none", serial::kParityNone},
                                                             {"odd", serial::kParityOdd},
                                                             {"even", serial::kParityEven},
                                                             {"mark", serial::kParityMark},
                                                             {"space", serial::kParitySpace}};
  const auto it = kNames.find(text);
  if (it == kNames.end()) return std::nullopt;
  return it->second;
}

std::optional<std::uint8_t> ReadStopBits(const std::string& text) {
  if (text == "1") return serial::kStopBitsOne;
  if (text == "1.5") return serial::kStopBitsOneAndHalf;
  if (text == "2") return serial::kStopBitsTwo;
  return std::nullopt;
}

std::optional<std::string> ReadDirectory(const std::string& text) {
  if (text.empty()) return std::nullopt;
  return text;
}

std::optional<std::string> ReadAny(const std::string& text) {
  return text;
}

std::optional<double> ReadSeconds(const std::string& text) {
  return options::ReadPositiveSeconds(text);
}

// The program: a subcommand a row of kCommands, each registered by its row.
void AddCommands(CLI::App& app, CliOptions& options) {
  for (const CommandRow& row : Commands()) {
    row.add(*app.add_subcommand(row.name, row.help), options);
  }
}

}  // namespace

std::variant<CliOptions, CliExit> ParseCliOptions(const std::vector<std::string>& args) {
  CliOptions options;
  options.port = serial::DefaultPortSettings();
  CLI::App app("Uploads firmware to a set-top box over a serial line, and downloads its memory.");
  options::SetUpProgram(app, kProgram);
  app.require_subcommand(1);
  AddCommands(app, options);
  app.footer(std::string(kPortFooter) + "\n" + kExitFooter);
  std::vector<std::string> given = args;
  if (!given.empty() && given.front() == "help") given.front() = "--help";  // as it always was
  if (auto end = options::Parse(app, given, exit_status::kUsage)) {
    return CliExit{end->status, std::move(end->out), std::move(end->err)};
  }
  for (const CommandRow& row : Commands()) {
    if (app.got_subcommand(row.name)) options.command = row.command;
  }
  // A command with --port that was given none: TAVRIN_PORT, when it is set, as the window.
  const CLI::App& chosen = options::Chosen(app);
  if (chosen.get_option_no_throw(kPortOption) && options.portNames.empty()) {
    const char* port = std::getenv(kPortEnvironment);
    if (!port || !*port) {
      const auto end = options::UsageError(chosen, "--port is required", exit_status::kUsage);
      return CliExit{end.status, end.out, end.err};
    }
    options.portNames.push_back(port);
  }
  if (!options.portNames.empty()) options.port.portName = options.portNames.front();
  return options;
}

void AddPortOption(CLI::App& command, CliOptions& options) {
  command.footer(kPortFooter);
  command
      .add_option(kPortOption, options.portNames,
                  "the target's serial port; again for more targets at once (default: "
                  "$TAVRIN_PORT)")
      ->type_name("DEV")
      ->allow_extra_args(false)
      ->take_all()
      ->check(CLI::Validator(
          [](std::string& name) { return name.empty() ? std::string("needs a port name") : ""; },
          ""));
}

void AddLineOptions(CLI::App& command, CliOptions& options) {
  const serial::PortSettings defaults = serial::DefaultPortSettings();
  auto& port = options.port;
  AddValue(command, "--baud", port.baudRate, ReadBaud, "a positive number",
           "line speed in bits per second")
      ->type_name("N")
      ->default_str(std::to_string(defaults.baudRate))
      ->group(kLineGroup);
  AddValue(command, "--data-bits", port.dataBits, ReadDataBits, "5, 6, 7 or 8",
           "data bits of a character, 5..8")
      ->type_name("N")
      ->default_str(std::to_string(defaults.dataBits))
      ->group(kLineGroup);
  AddValue(command, "--parity", port.parity, ReadParity, "none, odd, even, mark or space",
           "parity bit")
      ->type_name("none|odd|even|mark|space")
      ->default_str("none")
      ->group(kLineGroup);
  AddValue(command, "--stop-bits", port.stopBits, ReadStopBits, "1, 1.5 or 2", "stop bits")
      ->type_name("1|1.5|2")
      ->default_str("1")
      ->group(kLineGroup);
  command
      .add_flag_callback(
          "--rts", [&port] { port.rtsControl = 1; }, "hold RTS on")
      ->group(kLineGroup);
  command.add_flag("--trace", options.trace, "hex dump of every byte on the line, on stderr")
      ->group(kLineGroup);
}

void AddRunOptions(CLI::App& command, CliOptions& options) {
  AddValue(command, "--timeout", options.timeoutSeconds, ReadSeconds,
           "a positive number of seconds", "cancel a transfer that has not ended after S seconds")
      ->type_name("S")
      ->group(kRunGroup);
  AddValue(command, "--log", options.log, ReadAny, "a file name",
           "save the capture in FILE at the end")
      ->type_name("FILE")
      ->group(kRunGroup);
  AddValue(command, "--log-dir", options.logDir, ReadDirectory, "a directory",
           "keep each port's capture as DIR/<port>.log")
      ->type_name("DIR")
      ->group(kRunGroup);
  command.add_flag("--json", options.json, "events, one JSON object a line, on stdout")
      ->group(kRunGroup);
}

void AddJsonOption(CLI::App& command, CliOptions& options) {
  command.add_flag("--json", options.json, "as one JSON object on stdout");
}

}  // namespace tavrin::cli
