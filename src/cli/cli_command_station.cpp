// station and journal: the options of a production station and of reading its journal.
#include <CLI/CLI.hpp>
#include <cctype>

#include "cli/cli_commands.h"
#include "cli/cli_journal.h"
#include "cli/cli_station.h"
#include "options/program_options.h"

namespace tavrin::cli {
namespace {

std::optional<std::string> ReadFileName(const std::string& text) {
  if (text.empty()) return std::nullopt;
  return text;
}

// libpq's connection URI; a key=value string would be shown whole in ps like any other
// argument, and is not taken.
std::optional<std::string> ReadServer(const std::string& text) {
  if (!text.starts_with("postgresql://") && !text.starts_with("postgres://")) return std::nullopt;
  return text;
}

// UTC, ISO 8601 or a prefix of it: at least the date (2026-12-06).
std::optional<std::string> ReadTime(const std::string& text) {
  constexpr std::string_view kShape = "dddd-dd-dd";
  if (text.size() < kShape.size()) return std::nullopt;
  for (std::size_t i = 0; i < kShape.size(); ++i) {
    const bool digit = std::isdigit(static_cast<unsigned char>(text[i])) != 0;
    if (kShape[i] == 'd' ? !digit : text[i] != '-') return std::nullopt;
  }
  return text;
}

}  // namespace

void AddStationCommand(CLI::App& command, CliOptions& options) {
  using options::AddValue;
  auto& station = options.station;
  AddPortOption(command, options);
  AddLineOptions(command, options);
  AddRunOptions(command, options);
  AddValue(
      command, "--units", station.units,
      [](const std::string& text) -> std::optional<unsigned> {
        const auto units = options::ReadUnsigned(text);
        if (!units || *units == 0) return std::nullopt;
        return units;
      },
      "a positive number", "end once N units in all are recorded")
      ->type_name("N");
  AddValue(command, "--gap", station.gapSeconds, options::ReadPositiveSeconds,
           "a positive number of seconds",
           "a box has gone after S s without an answer to the attention byte")
      ->type_name("S")
      ->default_str("2");
  AddValue(command, "--confirm", station.confirmSeconds, options::ReadPositiveSeconds,
           "a positive number of seconds", "after Upload Success, listen S s for the box's refusal")
      ->type_name("S");
  AddValue(command, "--journal", station.journal, ReadFileName, "a file name",
           "the SQLite journal of every unit")
      ->type_name("FILE")
      ->default_str("tavrin-journal.db");
  AddValue(command, "--journal-to", station.journalTo, ReadServer, "a postgresql:// connection URI",
           "also send every row to this PostgreSQL database")
      ->type_name("URL");
  command.add_option("FILE.URT", options.argument, "the image to load")->type_name("")->required();
  // A station runs for hours: it ends on --units or Ctrl+C, not on a time-out, and keeps its
  // captures a unit each, not one at the end; the line watch it needs leaves no room for a
  // trace.
  for (const char* name : {"--timeout", "--log", "--trace"}) {
    if (CLI::Option* option = command.get_option_no_throw(name)) command.remove_option(option);
  }
  if (CLI::Option* logDir = command.get_option_no_throw("--log-dir")) {
    logDir->description("keep each unit's capture as DIR/<port>-<unit>-<unit_id>.log");
  }
}

int RunStationCommand(const CliOptions& options, const CliLink& link) {
  StationOptions station;
  station.ports = options.portNames;
  station.line = options.port;
  station.image = options.argument;
  station.units = options.station.units;
  if (options.station.gapSeconds) station.gapSeconds = *options.station.gapSeconds;
  station.confirmSeconds = options.station.confirmSeconds;
  if (!options.station.journal.empty()) station.journal = options.station.journal;
  station.journalTo = options.station.journalTo;
  station.logDir = options.logDir;
  station.json = options.json;
  return RunStation(station, StationLink{link.deviceFactory, link.timings});
}

void AddJournalCommand(CLI::App& command, CliOptions& options) {
  using options::AddValue;
  command.add_option("FILE", options.argument, "the station's journal")->type_name("")->required();
  AddValue(command, "--since", options.journal.since, ReadTime,
           "a UTC time as ISO 8601 (2026-12-06 or 2026-12-06T08:30)",
           "only the units started then or later")
      ->type_name("TIME");
  auto* json = command.add_flag("--json", options.json, "one JSON object a unit");
  command.add_flag("--csv", options.journal.csv, "every column, comma-separated")->excludes(json);
}

int RunJournalCommand(const CliOptions& options, const CliLink&) {
  return RunJournal({options.argument, options.journal.since,
                     options.json          ? JournalFormat::kJson
                     : options.journal.csv ? JournalFormat::kCsv
                                           : JournalFormat::kTable});
}

}  // namespace tavrin::cli
