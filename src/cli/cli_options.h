// The command line of tavrin-cli:
//   tavrin-cli upload   --port DEV... [LINE] [RUN] [--confirm S] FILE.URT
//   tavrin-cli download --port DEV... [LINE] [RUN] [--retries N] --output FILE.DBF SCRIPT.DSF
//   tavrin-cli comtest  --port DEV... [LINE] [RUN] TEXT
//   tavrin-cli script   show SCRIPT.DSF
//   tavrin-cli ports    [--json]
//   tavrin-cli station  --port DEV... [LINE] [--units N] [--gap S] [--confirm S] [--journal FILE]
//                       [--journal-to URL] [--log-dir DIR] [--json] FILE.URT
//   tavrin-cli journal  FILE [--since TIME] [--json|--csv]
// DEV: a port name (COM1, ttyUSB0), a path, a /dev/serial/by-id name, or serial:NUMBER;
// --port may be given several times: one run per port, all at once.
// LINE: --baud N --data-bits 5..8 --parity none|odd|even|mark|space --stop-bits 1|1.5|2 --rts
// RUN: --timeout S --log FILE --log-dir DIR --json --trace
// With several ports, --output and --log name one file per port through "{port}".
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "serial/port_settings.h"

namespace tavrin::cli {

enum class Command {
  kUpload,
  kDownload,
  kComTest,
  kScriptShow,
  kPorts,
  kStation,
  kJournal,
  kHelp,
  kVersion
};

// Stands for the port's name (made safe for a file name) in --output and --log.
inline constexpr std::string_view kPortPlaceholder = "{port}";

struct CliOptions {
  Command command = Command::kHelp;
  serial::PortSettings port;             // line settings; portName is the first --port
  std::vector<std::string> portNames;    // every --port, in the order given
  std::optional<double> timeoutSeconds;  // each transfer; then it is cancelled
  std::string output;                    // download: where the DBF file is saved
  std::string log;                       // save the capture here at the end
  std::string logDir;                    // keep each port's capture as DIR/<port>.log
  std::string argument;                  // FILE.URT, SCRIPT.DSF or TEXT
  bool trace = false;                    // hex dump of every byte on the line to stderr
  bool json = false;                     // ports: the list; transfers: events, on stdout
  unsigned retries = 0;                  // download: fetch regions that fail their CRC again
  std::optional<double> confirmSeconds;  // upload: listen this long after its success
  // station (see cli_station.h) and journal (see cli_journal.h)
  std::optional<unsigned> units;
  std::optional<double> gapSeconds;
  std::string journal;
  std::string journalTo;
  std::string since;
  bool csv = false;
};

// The options, or a usage error text.
std::variant<CliOptions, std::string> ParseCliOptions(const std::vector<std::string>& args);

std::string UsageText();

}  // namespace tavrin::cli
