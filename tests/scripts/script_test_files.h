// Files for the script tests: records whose every field differs with a seed, and the bytes
// of DSF and store files made of them.
#pragma once

#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <vector>

#include "scripts/script_record.h"
#include "support/temp_files.h"

namespace tavrin::scripts::test {

using Bytes = std::vector<std::uint8_t>;
using tavrin::test::TempDir;

inline Bytes ReadFileBytes(const std::filesystem::path& path) {
  const std::string bytes = tavrin::test::ReadFile(path);
  return {bytes.begin(), bytes.end()};
}

inline void WriteFileBytes(const std::filesystem::path& path, const Bytes& bytes) {
  tavrin::test::WriteFile(path, {reinterpret_cast<const char*>(bytes.data()), bytes.size()});
}

// A record whose every field differs with `seed`, reserved bytes 0.
inline ScriptRecord SampleRecord(std::uint8_t seed) {
  const std::uint32_t start = 0x00010000u * seed;
  const std::uint32_t end = start + 0xFFFFu;
  return ScriptRecord{
      CommandData{.startAddress = start,
                  .endAddress = end,
                  .memoryType = static_cast<std::uint8_t>(1 + seed % 2),
                  .imageType = static_cast<std::uint8_t>(seed % 7),
                  .deviceId = 0x1000u + seed},
      HeaderData{.partitionId = static_cast<std::uint8_t>(1 + seed % 10),
                 .partitionType = 2,
                 .blockSize = 512u + seed,
                 .totalBlocks = static_cast<std::uint16_t>(100 + seed),
                 .maxLnbRecords = seed,
                 .size = end - start},
  };
}

// SampleRecord(0 .. count-1).
inline std::vector<ScriptRecord> SampleRecords(int count) {
  std::vector<ScriptRecord> records;
  for (int i = 0; i < count; ++i) records.push_back(SampleRecord(static_cast<std::uint8_t>(i)));
  return records;
}

// The store file content for `records`, back to back.
inline Bytes StoreBytes(const std::vector<ScriptRecord>& records) {
  Bytes bytes;
  for (const ScriptRecord& record : records) {
    const ScriptRecordBytes encoded = EncodeScriptRecord(record);
    bytes.insert(bytes.end(), encoded.begin(), encoded.end());
  }
  return bytes;
}

// The bytes of a DSF file: the header with `headerCount`, then `records` encoded.
inline Bytes DsfBytes(std::uint32_t headerCount, const std::vector<ScriptRecord>& records) {
  Bytes bytes{0x44, 0x53, 0x01, 0x00};
  for (int shift = 0; shift < 32; shift += 8) {
    bytes.push_back(static_cast<std::uint8_t>(headerCount >> shift));
  }
  const Bytes body = StoreBytes(records);
  bytes.insert(bytes.end(), body.begin(), body.end());
  return bytes;
}

}  // namespace tavrin::scripts::test
