// The command line of tavrin-cli, parsed with CLI11 (src/options/program_options.h):
//   tavrin-cli upload   --port DEV... [LINE] [RUN] [--confirm S] FILE.URT
//   tavrin-cli download --port DEV... [LINE] [RUN] [--retries N] --output FILE.DBF SCRIPT.DSF
//   tavrin-cli comtest  --port DEV... [LINE] [RUN] TEXT
//   tavrin-cli script   show SCRIPT.DSF
//   tavrin-cli ports    [--json]
//   tavrin-cli term     --port DEV [LINE] [--log FILE | --log-dir DIR] [--timestamps] [--hex]
//                       [--linger S]
//   tavrin-cli station  --port DEV... [LINE] [--units N] [--gap S] [--confirm S]
//                       [--journal FILE] [--journal-to URL] [--log-dir DIR] [--json] FILE.URT
//   tavrin-cli journal  FILE [--since TIME] [--json|--csv]
// DEV: a port name (COM1, ttyUSB0), a path, a /dev/serial/by-id name, or serial:NUMBER;
// --port may be given several times: one run per port, all at once.
// LINE: --baud N --data-bits 5..8 --parity none|odd|even|mark|space --stop-bits 1|1.5|2 --rts
//       --trace
// RUN: --timeout S --log FILE --log-dir DIR --json
// With several ports, --output and --log name one file per port through "{port}".
// `--opt=value` is the same as `--opt value`; `--` ends the options; `COMMAND --help`
// lists a command's options.
//
// Adding a command ("tavrin-cli term", say):
//   1. A Command value below. Options of its own go in a struct of their own, one member of
//      CliOptions (`TermOptions term;`), so that commands do not share fields by accident.
//   2. In a file of its own (cli_command_term.cpp), declared in cli_commands.h:
//        void AddTermCommand(CLI::App& command, CliOptions& options);  // its options
//        int RunTerm(const CliOptions& options, const CliLink& link);  // the exit status
//      The registration adds the command's own options and positionals to `command`, and
//      the shared groups with AddPortOption, AddLineOptions and AddRunOptions. Checks that
//      span options go in `command.final_callback(...)` (one a command), throwing
//      CLI::ValidationError(option, message): the parser turns it into a usage error
//      (status 1) naming the option. The options are bound into one CliOptions shared by
//      every command, so a registration never gives an option a value of its own before
//      the parse (no default_val, no envname): defaults are CliOptions' own.
//   3. One row in kCommands (cli_commands.cpp): name, a line of help, the Command, the
//      registration and the run function. Nothing else dispatches.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "cli/term_options.h"
#include "serial/port_settings.h"

namespace CLI {
class App;
}  // namespace CLI

namespace tavrin::cli {

enum class Command { kUpload, kDownload, kComTest, kScriptShow, kPorts, kTerm, kStation, kJournal };

// Stands for the port's name (made safe for a file name) in --output and --log.
inline constexpr std::string_view kPortPlaceholder = "{port}";
// When set, the port of a command that is given no --port (as it is the window's).
inline constexpr const char* kPortEnvironment = "TAVRIN_PORT";

// station's own options (cli_station.h); the ports, LINE, --log-dir and --json are the
// shared ones.
struct StationCommandOptions {
  std::optional<unsigned> units;
  std::optional<double> gapSeconds;
  std::optional<double> confirmSeconds;
  std::string journal;    // empty: tavrin-journal.db
  std::string journalTo;  // postgresql://...
};

// journal's own options (cli_journal.h); the file is `argument`.
struct JournalCommandOptions {
  std::string since;
  bool csv = false;
};

struct CliOptions {
  Command command = Command::kPorts;
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
  TermOptions term;                      // term
  StationCommandOptions station;
  JournalCommandOptions journal;
};

// When the command line says not to run a command: what to write and the exit status
// (--help and --version: 0; a usage error: 1).
struct CliExit {
  int status = 0;
  std::string out;  // for stdout
  std::string err;  // for stderr
};

// The options of the command the arguments (without the program's name) ask for, or how
// the program ends without running one.
std::variant<CliOptions, CliExit> ParseCliOptions(const std::vector<std::string>& args);

// The option groups commands share; each adds its options to `command`, writing into
// `options` as they are parsed.
// --port DEV, repeated. A command that has it needs a port: when none is given, TAVRIN_PORT
// when it is set, else a usage error.
void AddPortOption(CLI::App& command, CliOptions& options);
// LINE: --baud --data-bits --parity --stop-bits --rts --trace.
void AddLineOptions(CLI::App& command, CliOptions& options);
// RUN: --timeout --log --log-dir --json.
void AddRunOptions(CLI::App& command, CliOptions& options);
// --json alone (a command whose output can be JSON).
void AddJsonOption(CLI::App& command, CliOptions& options);

}  // namespace tavrin::cli
