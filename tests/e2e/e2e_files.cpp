#include "e2e_files.h"

#include <gtest/gtest.h>

#include <sstream>

#include "scripts/script_store.h"
#include "sim/memory_image.h"
#include "transfer/packet_frame.h"
#include "transfer/report_texts.h"

namespace tavrin::test {

std::string Block(int code) {
  return transfer::ReportBlockFor(code)->text;
}

std::filesystem::path WriteUrt(const std::filesystem::path& path,
                               const std::vector<std::size_t>& payloadSizes) {
  // "BU", then the identity: Id1 at 12, Id2 at 16, Id3 at 20; the frame count at 24.
  std::string file(28, '\0');
  file.replace(0, 2, "BU");
  file.replace(12, 12, std::string("\x11\x22\x33\x44\x55\x66\x77\x00\x88\x99\xAA\xBB", 12));
  file[24] = static_cast<char>(payloadSizes.size());
  for (std::size_t f = 0; f < payloadSizes.size(); ++f) {
    std::vector<std::uint8_t> data(payloadSizes[f]);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 31 + f);
    const auto frame = transfer::BuildFrame(data);
    file.append(frame.begin(), frame.end());
  }
  WriteFile(path, file);
  return path;
}

std::filesystem::path WriteScript(const std::filesystem::path& dir,
                                  const std::vector<Region>& regions) {
  scripts::ScriptStore store(dir);
  for (const auto& region : regions) {
    scripts::ScriptRecord record;
    record.command = {region.start, region.end, 1, 0, 0, 0};
    record.header.partitionId = region.partitionId;
    record.header.partitionType = 1;
    record.header.size = region.end - region.start;
    if (!store.AppendRecord(record)) return {};
  }
  const auto path = dir / "script.dsf";
  return store.SaveDsf(path) ? path : std::filesystem::path();
}

std::string Dbf(const std::vector<std::uint8_t>& ids, const std::vector<std::string>& data,
                std::map<int, std::uint64_t>* places) {
  std::string dbf;
  for (std::size_t i = 0; i < ids.size(); ++i) {
    if (data[i].empty()) continue;
    if (dbf.empty() || ids[i] != 0) {
      // PartitionId, type 1, then the offset just past the block's data at 12.
      const auto end = static_cast<std::uint32_t>(dbf.size() + 16 + data[i].size());
      dbf += std::string{static_cast<char>(ids[i]), 1, '\xFF', '\xFF', 0, 0, 0, 0, 0, 0, 0, '\xFF'};
      for (int b = 0; b < 4; ++b) dbf += static_cast<char>(end >> (8 * b));
    }
    if (places) (*places)[static_cast<int>(i + 1)] = dbf.size();
    dbf += data[i];
  }
  return dbf;
}

std::string ExpectedDbf(const std::vector<Region>& regions, std::uint64_t seed) {
  const sim::MemoryImage memory(seed);
  std::vector<std::uint8_t> ids;
  std::vector<std::string> data;
  for (const auto& region : regions) {
    ids.push_back(region.partitionId);
    const auto bytes = memory.Read(1, region.start, region.end - region.start);
    data.emplace_back(bytes.begin(), bytes.end());
  }
  return Dbf(ids, data);
}

namespace {

// The fields of each event as "name:type"; a type ending in '?' may also be null.
const std::map<std::string, std::string> kSchema = {
    {"start", "port:string device:string command:string argument:string line:string"},
    {"progress",
     "port:string phase:string frames_sent:unsigned frames_total:unsigned region:unsigned "
     "region_bytes:unsigned bytes:unsigned seconds:number bytes_per_second:number"},
    {"report", "port:string code:int text:string"},
    {"crc_warning", "port:string region:unsigned text:string"},
    {"end",
     "port:string device:string status:unsigned result:string code:int? seconds:number "
     "bytes:unsigned bytes_per_second:number line_efficiency:number capture:string? "
     "output:string? regions_fetched_again:array regions_still_failing:array refused:int? "
     "payload:string?"},
    {"summary", "status:unsigned seconds:number ports:unsigned succeeded:unsigned failed:array"},
};

bool HasType(const Json& value, std::string type) {
  const bool nullable = type.ends_with('?');
  if (nullable) type.pop_back();
  if (nullable && value.is_null()) return true;
  if (type == "unsigned") return value.is_number_unsigned();
  if (type == "int") return value.is_number_integer();
  return value.type_name() == type;  // string, number, array
}

}  // namespace

std::vector<Json> JsonEvents(const std::string& out) {
  std::vector<Json> events;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) {
    const Json event = Json::parse(line, nullptr, false);
    const auto schema = kSchema.find(event.is_object() ? event.value("event", "") : "");
    if (schema == kSchema.end()) {
      ADD_FAILURE() << "not an event: " << line;
      continue;
    }
    std::istringstream fields(schema->second);
    std::size_t count = 1;  // "event"
    for (std::string field; fields >> field; ++count) {
      const auto colon = field.find(':');
      const std::string name = field.substr(0, colon);
      EXPECT_TRUE(event.contains(name) && HasType(event[name], field.substr(colon + 1)))
          << field << ": " << line;
    }
    EXPECT_EQ(event.size(), count) << "fields beyond the schema: " << line;
    events.push_back(event);
  }
  return events;
}

std::map<std::string, Json> EndsByPort(const std::vector<Json>& events) {
  std::map<std::string, Json> ends;
  for (const auto& event : events) {
    if (event["event"] == "end") ends[event["port"]] = event;
  }
  return ends;
}

}  // namespace tavrin::test
