// term: the options of the serial terminal on one --port.
#include <CLI/CLI.hpp>
#include <cmath>
#include <cstdlib>

#include "cli/cli_commands.h"
#include "options/program_options.h"

namespace tavrin::cli {
namespace {

// --linger: seconds, 0 included (end at once with the input).
std::optional<double> ReadLinger(const std::string& text) {
  char* end = nullptr;
  const double seconds = std::strtod(text.c_str(), &end);
  if (end == text.c_str() || *end != '\0' || !(seconds >= 0) || !std::isfinite(seconds)) {
    return std::nullopt;
  }
  return seconds;
}

}  // namespace

void AddTermCommand(CLI::App& command, CliOptions& options) {
  AddPortOption(command, options);
  AddLineOptions(command, options);
  AddRunOptions(command, options);
  command.remove_option(command.get_option("--json"));  // the terminal is for people
  command.add_flag("--timestamps", options.term.timestamps,
                   "the local time (ms) before each line shown; the capture stays as it came");
  command.add_flag("--hex", options.term.hex, "show a hex dump with the text beside it");
  options::AddValue(command, "--linger", options.term.lingerSeconds, ReadLinger,
                    "a number of seconds", "stdin not a terminal: end S s after its end")
      ->type_name("S")
      ->default_str("1");
  command.footer(command.get_footer() +
                 "\nCtrl+T h in the terminal lists its keys; Ctrl+T q quits. --timeout cancels a "
                 "transfer started there.");
  command.final_callback([&options] {
    if (options.portNames.size() > 1) {
      throw CLI::ValidationError("--port", "term is a terminal on one port");
    }
    if (!options.log.empty() && !options.logDir.empty()) {
      throw CLI::ValidationError("--log-dir", "one of --log and --log-dir");
    }
  });
}

}  // namespace tavrin::cli
