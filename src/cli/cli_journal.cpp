#include "cli/cli_journal.h"

#include <cstdio>
#include <nlohmann/json.hpp>

#include "station/journal.h"

namespace tavrin::cli {
namespace {

using Json = nlohmann::json;
using station::UnitRecord;

constexpr int kStatusBadFile = 2;

std::string Number(double value, int decimals) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

// The columns in the journal's order, as text; null as "".
std::vector<std::string> Fields(const UnitRecord& u) {
  return {u.unitId,
          u.station,
          u.port,
          u.device,
          u.adapterSerial.value_or(""),
          u.imagePath,
          u.imageSha256,
          std::to_string(u.imageBytes),
          u.startedAt,
          u.endedAt,
          Number(u.seconds, 3),
          Number(u.bytesPerSecond, 0),
          u.resultCode ? std::to_string(*u.resultCode) : "",
          u.result,
          std::to_string(u.status),
          std::string(station::OutcomeName(u.outcome)),
          u.confirm.value_or(""),
          u.capture.value_or("")};
}

// RFC 4180: a field with a comma, a quote or a line end is quoted, its quotes doubled.
std::string CsvField(const std::string& field) {
  if (field.find_first_of(",\"\r\n") == std::string::npos) return field;
  std::string quoted = "\"";
  for (char c : field) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

std::string Csv(const std::vector<UnitRecord>& units) {
  std::string out;
  bool first = true;
  for (const char* column : station::kUnitColumns) {
    if (!first) out += ',';
    out += column;
    first = false;
  }
  out += "\r\n";
  for (const auto& unit : units) {
    first = true;
    for (const auto& field : Fields(unit)) {
      if (!first) out += ',';
      out += CsvField(field);
      first = false;
    }
    out += "\r\n";
  }
  return out;
}

std::string JsonLines(const std::vector<UnitRecord>& units) {
  std::string out;
  for (const auto& unit : units) {
    const auto fields = Fields(unit);
    Json row;
    for (std::size_t i = 0; i < fields.size(); ++i) row[station::kUnitColumns[i]] = fields[i];
    row["image_bytes"] = unit.imageBytes;
    row["seconds"] = unit.seconds;
    row["bytes_per_second"] = unit.bytesPerSecond;
    row["status"] = unit.status;
    row["result_code"] = unit.resultCode ? Json(*unit.resultCode) : Json(nullptr);
    row["adapter_serial"] = unit.adapterSerial ? Json(*unit.adapterSerial) : Json(nullptr);
    row["confirm"] = unit.confirm ? Json(*unit.confirm) : Json(nullptr);
    row["capture"] = unit.capture ? Json(*unit.capture) : Json(nullptr);
    out += row.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
  }
  return out;
}

std::string Table(const std::vector<UnitRecord>& units) {
  char line[512];
  std::snprintf(line, sizeof line, "%-24s %-12s %-14s %-15s %6s %8s  %s\n", "started_at", "station",
                "port", "outcome", "status", "seconds", "result");
  std::string out = line;
  for (const auto& u : units) {
    std::snprintf(line, sizeof line, "%-24s %-12s %-14s %-15s %6d %8.1f  %s\n", u.startedAt.c_str(),
                  u.station.c_str(), u.port.c_str(),
                  std::string(station::OutcomeName(u.outcome)).c_str(), u.status, u.seconds,
                  u.result.c_str());
    out += line;
  }
  return out;
}

// "2026-12-06 08:30Z" and "2026-12-06T08:30" compare as the journal writes its times.
std::string Normalised(std::string since) {
  if (since.size() > 10 && since[10] == ' ') since[10] = 'T';
  if (!since.empty() && (since.back() == 'Z' || since.back() == 'z')) since.pop_back();
  return since;
}

}  // namespace

int WriteJournal(const JournalOptions& options, std::string& out, std::string& error) {
  auto opened = station::Journal::OpenToRead(options.file);
  if (const auto* text = std::get_if<std::string>(&opened)) {
    error = *text;
    return kStatusBadFile;
  }
  auto& journal = *std::get<std::unique_ptr<station::Journal>>(opened);
  auto read = journal.Units(Normalised(options.since));
  if (const auto* text = std::get_if<std::string>(&read)) {
    error = *text;
    return kStatusBadFile;
  }
  const auto& units = std::get<std::vector<UnitRecord>>(read);
  switch (options.format) {
    case JournalFormat::kJson:
      out = JsonLines(units);
      break;
    case JournalFormat::kCsv:
      out = Csv(units);
      break;
    case JournalFormat::kTable:
      out = Table(units);
      break;
  }
  return 0;
}

int RunJournal(const JournalOptions& options) {
  std::string out;
  std::string error;
  const int status = WriteJournal(options, out, error);
  if (status != 0) {
    std::fprintf(stderr, "tavrin-cli: %s\n", error.c_str());
    return status;
  }
  std::fwrite(out.data(), 1, out.size(), stdout);
  return 0;
}

}  // namespace tavrin::cli
