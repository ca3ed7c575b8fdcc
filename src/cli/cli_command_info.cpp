// script show and ports: what the command line can tell without a target.
#include <CLI/CLI.hpp>
#include <cstdio>

#include "cli/cli_commands.h"
#include "cli/port_table.h"
#include "scripts/command_image.h"
#include "scripts/script_list_rows.h"
#include "serial/port_list.h"
#include "serial/usb_latency.h"

namespace tavrin::cli {
namespace {

void PrintFileAccessError() {
  std::fprintf(stderr, "%s: %s\n", std::string(scripts::kFileAccessErrorCaption).c_str(),
               std::string(scripts::kFileAccessErrorText).c_str());
}

}  // namespace

void AddScriptCommand(CLI::App& command, CliOptions& options) {
  command.require_subcommand(1);
  CLI::App* show = command.add_subcommand("show", "list the records of a download script");
  show->add_option("SCRIPT.DSF", options.argument, "the download script")
      ->type_name("")
      ->required();
}

int ShowScript(const CliOptions& options, const CliLink&) {
  const auto rows = scripts::ReadScriptListRows(options.argument);
  if (!rows) {
    PrintFileAccessError();
    return exit_status::kBadFile;
  }
  const auto& c = scripts::kScriptListColumns;
  std::printf("%-14s %-14s %-12s %-16s %s\n", std::string(c[0]).c_str(), std::string(c[1]).c_str(),
              std::string(c[2]).c_str(), std::string(c[3]).c_str(), std::string(c[4]).c_str());
  for (const auto& row : *rows) {
    std::printf("%-14s %-14s %-12s %-16s %s\n", row.startAddress.c_str(), row.endAddress.c_str(),
                row.memoryType.c_str(), row.imageType.c_str(), row.deviceId.c_str());
  }
  return exit_status::kSuccess;
}

void AddPortsCommand(CLI::App& command, CliOptions& options) {
  AddJsonOption(command, options);
}

int ShowPorts(const CliOptions& options, const CliLink&) {
  const serial::PortList list = serial::ListPorts();
  if (!list.error.empty()) {
    std::fprintf(stderr, "tavrin-cli: the serial ports cannot be listed: %s\n", list.error.c_str());
    return exit_status::kPortNotAvailable;
  }
  const auto rows = PortRows(list.ports, serial::kSysfsRoot);
  if (rows.empty()) std::fprintf(stderr, "tavrin-cli: no serial ports were found\n");
  const std::string text = options.json ? PortJson(rows) : rows.empty() ? "" : PortTable(rows);
  std::fwrite(text.data(), 1, text.size(), stdout);
  return exit_status::kSuccess;
}

}  // namespace tavrin::cli
