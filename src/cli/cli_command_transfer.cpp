// upload, download and comtest: the options of a run on each --port.
#include <CLI/CLI.hpp>

#include "cli/cli_commands.h"
#include "cli/cli_multi.h"
#include "options/program_options.h"

namespace tavrin::cli {
namespace {

constexpr unsigned kMaxRetries = 100;  // each retry is a whole exchange with the target

bool NamesEachPort(const std::string& path) {
  return path.find(kPortPlaceholder) != std::string::npos;
}

// With several ports, a file option that is given must name one file a port.
void CheckEachPort(const CliOptions& options, const char* option, const std::string& path) {
  if (options.portNames.size() > 1 && !path.empty() && !NamesEachPort(path)) {
    throw CLI::ValidationError(option, "with several ports, it must contain {port}");
  }
}

// The port option, LINE and RUN; the command's own options follow.
void AddPortCommand(CLI::App& command, CliOptions& options) {
  AddPortOption(command, options);
  AddLineOptions(command, options);
  AddRunOptions(command, options);
  command.final_callback([&options] { CheckEachPort(options, "--log", options.log); });
}

}  // namespace

void AddUploadCommand(CLI::App& command, CliOptions& options) {
  AddPortCommand(command, options);
  options::AddValue(command, "--confirm", options.confirmSeconds, options::ReadPositiveSeconds,
                    "a positive number of seconds",
                    "after Upload Success, listen S s for the target's refusal")
      ->type_name("S");
  command.add_option("FILE.URT", options.argument, "the image to upload")
      ->type_name("")
      ->required();
}

void AddDownloadCommand(CLI::App& command, CliOptions& options) {
  AddPortCommand(command, options);
  options::AddValue(
      command, "--retries", options.retries,
      [](const std::string& text) -> std::optional<unsigned> {
        const auto retries = options::ReadUnsigned(text);
        if (!retries || *retries > kMaxRetries) return std::nullopt;
        return retries;
      },
      "a number from 0 to " + std::to_string(kMaxRetries),
      "fetch regions that fail their CRC check again, up to N times")
      ->type_name("N")
      ->default_str("0");
  command.add_option("--output", options.output, "where the DBF file is saved")
      ->type_name("FILE.DBF")
      ->required();
  command.add_option("SCRIPT.DSF", options.argument, "the download script")
      ->type_name("")
      ->required();
  command.final_callback([&options] {
    CheckEachPort(options, "--log", options.log);
    CheckEachPort(options, "--output", options.output);
  });
}

void AddComTestCommand(CLI::App& command, CliOptions& options) {
  AddPortCommand(command, options);
  command.add_option("TEXT", options.argument, "the test frame's text")->type_name("")->required();
}

int RunTransfers(const CliOptions& options, const CliLink& link) {
  return RunPorts(options, link);
}

}  // namespace tavrin::cli
