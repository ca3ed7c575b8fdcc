// Files for the command line's tests, what a download must give, and its --json events.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "support/temp_files.h"

namespace tavrin::test {

using Json = nlohmann::json;

// The report block of `code` as tavrin-cli shows it.
std::string Block(int code);

// A URT image for the simulated target's default identity, one frame of each payload size.
std::filesystem::path WriteUrt(const std::filesystem::path& path,
                               const std::vector<std::size_t>& payloadSizes);

// One record of a download script: the region [start, end) of FLASH.
struct Region {
  std::uint32_t start;
  std::uint32_t end;
  std::uint8_t partitionId;
};

// dir/script.dsf with these records.
std::filesystem::path WriteScript(const std::filesystem::path& dir,
                                  const std::vector<Region>& regions);

// A DBF file as a download lays it out; `places` gets where each region's data begin.
std::string Dbf(const std::vector<std::uint8_t>& ids, const std::vector<std::string>& data,
                std::map<int, std::uint64_t>* places = nullptr);

// The DBF file a download of `regions` from a target with memory seed `seed` must give.
std::string ExpectedDbf(const std::vector<Region>& regions, std::uint64_t seed);

// The events of a --json run's stdout, each checked against the schema.
std::vector<Json> JsonEvents(const std::string& out);

// The end event of each port, by port.
std::map<std::string, Json> EndsByPort(const std::vector<Json>& events);

}  // namespace tavrin::test
