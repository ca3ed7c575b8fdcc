// The command line of tavrin-cli:
//   tavrin-cli upload   --port DEV [LINE] [--timeout S] [--log FILE] FILE.URT
//   tavrin-cli download --port DEV [LINE] [--timeout S] [--log FILE] --output FILE.DBF SCRIPT.DSF
//   tavrin-cli comtest  --port DEV [LINE] [--timeout S] TEXT
//   tavrin-cli script   show SCRIPT.DSF
//   tavrin-cli ports    [--json]
// DEV: a port name (COM1, ttyUSB0), a path, a /dev/serial/by-id name, or serial:NUMBER.
// LINE: --baud N --data-bits 5..8 --parity none|odd|even|mark|space --stop-bits 1|1.5|2 --rts
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "serial/port_settings.h"

namespace tavrin::cli {

enum class Command { kUpload, kDownload, kComTest, kScriptShow, kPorts, kHelp, kVersion };

struct CliOptions {
  Command command = Command::kHelp;
  serial::PortSettings port;
  bool portGiven = false;
  std::optional<double> timeoutSeconds;  // the whole transfer; then it is cancelled
  std::string output;                    // download: where the DBF file is saved
  std::string log;                       // save the capture here at the end
  std::string argument;                  // FILE.URT, SCRIPT.DSF or TEXT
  bool trace = false;                    // hex dump of every byte on the line to stderr
  bool json = false;                     // ports: the list as JSON on stdout
};

// The options, or a usage error text.
std::variant<CliOptions, std::string> ParseCliOptions(const std::vector<std::string>& args);

std::string UsageText();

}  // namespace tavrin::cli
