#include "script_test_files.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>
#include <iterator>
#include <string>

namespace tavrin::scripts::test {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "tavrin-scripts-XXXXXX");
  if (::mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "mkdtemp failed";
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

Bytes ReadFileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFileBytes(const std::filesystem::path& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

ScriptRecord SampleRecord(std::uint8_t seed) {
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

Bytes DsfBytes(std::uint32_t headerCount, std::initializer_list<ScriptRecord> records) {
  Bytes bytes{0x44, 0x53, 0x01, 0x00};
  for (int shift = 0; shift < 32; shift += 8) {
    bytes.push_back(static_cast<std::uint8_t>(headerCount >> shift));
  }
  const Bytes body = StoreBytes(records);
  bytes.insert(bytes.end(), body.begin(), body.end());
  return bytes;
}

Bytes DsfOfSampleRecords(std::uint32_t headerCount, int records) {
  Bytes bytes = DsfBytes(headerCount, {});
  for (int i = 0; i < records; ++i) {
    const ScriptRecordBytes record = EncodeScriptRecord(SampleRecord(static_cast<std::uint8_t>(i)));
    bytes.insert(bytes.end(), record.begin(), record.end());
  }
  return bytes;
}

Bytes StoreBytes(std::initializer_list<ScriptRecord> records) {
  Bytes bytes;
  for (const ScriptRecord& record : records) {
    const ScriptRecordBytes encoded = EncodeScriptRecord(record);
    bytes.insert(bytes.end(), encoded.begin(), encoded.end());
  }
  return bytes;
}

}  // namespace tavrin::scripts::test
