// Input files of the line benchmark: an upload image with an exact number of frame bytes
// and a download script of one region.
#pragma once

#include <cstdint>
#include <filesystem>
#include <vector>

namespace tavrin::bench {

// The smallest frame: HeaderStart, LEN, one payload byte, sum, HeaderEnd.
constexpr std::uint64_t kMinFrameSize = 10;

// Byte sizes of the frames that add up to exactly `frameBytes` (at least kMinFrameSize):
// largest frames first, and no frame below kMinFrameSize.
std::vector<std::uint32_t> FrameSizes(std::uint64_t frameBytes);

// A URT image for the simulated target's default identity whose frames add up to
// exactly `frameBytes` bytes (the 28 header bytes come on top).
std::vector<std::uint8_t> UploadImage(std::uint64_t frameBytes);

bool WriteUploadImage(const std::filesystem::path& path, std::uint64_t frameBytes);

// A DSF file with one FLASH region of `regionBytes` bytes from address 0. `workDir` must
// exist; the script store keeps its working file there while the script is written.
bool WriteRegionScript(const std::filesystem::path& workDir, const std::filesystem::path& path,
                       std::uint32_t regionBytes);

// The size of the downloaded file of such a script: one block header and the data.
constexpr std::uint64_t DownloadedFileSize(std::uint32_t regionBytes) {
  return 16 + std::uint64_t{regionBytes};
}

}  // namespace tavrin::bench
