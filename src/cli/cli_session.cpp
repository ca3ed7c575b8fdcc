#include "cli/cli_session.h"

#include <cstdio>

#include "cli/cli_journal.h"
#include "cli/cli_multi.h"
#include "cli/cli_station.h"
#include "cli/port_table.h"
#include "core/product_identity.h"
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

int ShowScript(const CliOptions& options) {
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

int ShowPorts(const CliOptions& options) {
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

StationOptions StationOptionsOf(const CliOptions& options) {
  StationOptions station;
  station.ports = options.portNames;
  station.line = options.port;
  station.image = options.argument;
  station.units = options.units;
  if (options.gapSeconds) station.gapSeconds = *options.gapSeconds;
  station.confirmSeconds = options.confirmSeconds;
  if (!options.journal.empty()) station.journal = options.journal;
  station.journalTo = options.journalTo;
  station.logDir = options.logDir;
  station.json = options.json;
  return station;
}

}  // namespace

int RunCli(const CliOptions& options) {
  return RunCli(options, CliLink{});
}

int RunCli(const CliOptions& options, const CliLink& link) {
  switch (options.command) {
    case Command::kUpload:
    case Command::kDownload:
    case Command::kComTest:
      return RunPorts(options, link);
    case Command::kScriptShow:
      return ShowScript(options);
    case Command::kPorts:
      return ShowPorts(options);
    case Command::kStation:
      return RunStation(StationOptionsOf(options), StationLink{link.deviceFactory, link.timings});
    case Command::kJournal:
      return RunJournal({options.argument, options.since,
                         options.json  ? JournalFormat::kJson
                         : options.csv ? JournalFormat::kCsv
                                       : JournalFormat::kTable});
    case Command::kHelp:
    case Command::kVersion:
      break;
  }
  return exit_status::kUsage;
}

std::string VersionText() {
  const auto& id = core::kProductIdentity;
  return "tavrin-cli " + std::to_string(id.major) + "." + std::to_string(id.minor) + "." +
         std::to_string(id.build) + " " + id.projectId + " " + core::BuildDate();
}

}  // namespace tavrin::cli
