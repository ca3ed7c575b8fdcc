#include "e2e_files.h"

#include <stdlib.h>

#include <fstream>
#include <iterator>

#include "scripts/script_store.h"
#include "sim/memory_image.h"
#include "transfer/packet_frame.h"

namespace tavrin::test {

Bytes ReadAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

std::string ReadText(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

std::filesystem::path WriteUrt(const std::filesystem::path& path,
                               const std::vector<std::size_t>& payloadSizes) {
  Bytes file(28, 0);
  file[0] = 'B';
  file[1] = 'U';
  const Bytes id1{0x11, 0x22, 0x33, 0x44}, id2{0x55, 0x66, 0x77}, id3{0x88, 0x99, 0xAA, 0xBB};
  std::copy(id1.begin(), id1.end(), file.begin() + 12);
  std::copy(id2.begin(), id2.end(), file.begin() + 16);
  std::copy(id3.begin(), id3.end(), file.begin() + 20);
  file[24] = static_cast<std::uint8_t>(payloadSizes.size());
  for (std::size_t f = 0; f < payloadSizes.size(); ++f) {
    Bytes data(payloadSizes[f]);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 31 + f);
    const Bytes frame = transfer::BuildFrame(data);
    file.insert(file.end(), frame.begin(), frame.end());
  }
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
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
  if (!store.SaveDsf(path)) return {};
  return path;
}

Bytes ExpectedDbf(const std::vector<Region>& regions, std::uint64_t seed) {
  const sim::MemoryImage memory(seed);
  Bytes dbf;
  for (std::size_t i = 0; i < regions.size(); ++i) {
    const auto size = regions[i].end - regions[i].start;
    if (i == 0 || regions[i].partitionId != 0) {
      const auto end = static_cast<std::uint32_t>(dbf.size() + 16 + size);
      Bytes header{regions[i].partitionId, 1, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0xFF};
      for (int b = 0; b < 4; ++b) header.push_back(static_cast<std::uint8_t>(end >> (8 * b)));
      dbf.insert(dbf.end(), header.begin(), header.end());
    }
    const Bytes data = memory.Read(1, regions[i].start, size);
    dbf.insert(dbf.end(), data.begin(), data.end());
  }
  return dbf;
}

ScratchDir::ScratchDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "tavrin-e2e.XXXXXX").string();
  if (::mkdtemp(pattern.data())) path_ = pattern;
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
}

}  // namespace tavrin::test
