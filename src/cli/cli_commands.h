// The commands of tavrin-cli: one row each, with its registration (its options on its
// CLI11 subcommand) and the function that runs it. cli_options.h says how to add one.
#pragma once

#include <span>

#include "cli/cli_options.h"
#include "cli/cli_session.h"

namespace tavrin::cli {

using AddCommand = void (*)(CLI::App& command, CliOptions& options);
using RunCommand = int (*)(const CliOptions& options, const CliLink& link);

struct CommandRow {
  const char* name;  // as typed: "upload"
  const char* help;  // one line in the program's --help
  Command command;
  AddCommand add;
  RunCommand run;
};

// Every command, in the order --help lists them.
std::span<const CommandRow> Commands();

// upload, download, comtest: a run on each --port (cli_command_transfer.cpp).
void AddUploadCommand(CLI::App& command, CliOptions& options);
void AddDownloadCommand(CLI::App& command, CliOptions& options);
void AddComTestCommand(CLI::App& command, CliOptions& options);
int RunTransfers(const CliOptions& options, const CliLink& link);

// script show, ports (cli_command_info.cpp).
void AddScriptCommand(CLI::App& command, CliOptions& options);
int ShowScript(const CliOptions& options, const CliLink& link);
void AddPortsCommand(CLI::App& command, CliOptions& options);
int ShowPorts(const CliOptions& options, const CliLink& link);

// term: a serial terminal on one --port (cli_command_term.cpp, cli_term.cpp).
void AddTermCommand(CLI::App& command, CliOptions& options);
int RunTerm(const CliOptions& options, const CliLink& link);
// station, journal (cli_command_station.cpp).
void AddStationCommand(CLI::App& command, CliOptions& options);
int RunStationCommand(const CliOptions& options, const CliLink& link);
void AddJournalCommand(CLI::App& command, CliOptions& options);
int RunJournalCommand(const CliOptions& options, const CliLink& link);

}  // namespace tavrin::cli
