// Input files for the end-to-end tests, and what a download of them must give.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace tavrin::test {

using Bytes = std::vector<std::uint8_t>;

Bytes ReadAll(const std::filesystem::path& path);
std::string ReadText(const std::filesystem::path& path);

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

// The DBF file a download of `regions` from a target with memory seed `seed` must give.
Bytes ExpectedDbf(const std::vector<Region>& regions, std::uint64_t seed);

// A directory of its own for a test, removed at its end.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::filesystem::path& Path() const { return path_; }

 private:
  std::filesystem::path path_;
};

}  // namespace tavrin::test
