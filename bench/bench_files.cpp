#include "bench/bench_files.h"

#include <algorithm>
#include <fstream>

#include "scripts/script_store.h"
#include "sim/target_config.h"
#include "transfer/packet_frame.h"
#include "transfer/urt_file.h"

namespace tavrin::bench {
namespace {

constexpr std::uint32_t kMaxFrame = static_cast<std::uint32_t>(transfer::kMaxFrameSize);

// Header fields of a URT file: the identity the target compares, and the frame count.
constexpr std::size_t kId1At = 12;  // 4 bytes
constexpr std::size_t kId2At = 16;  // 3 bytes
constexpr std::size_t kId3At = 20;  // 4 bytes
constexpr std::size_t kPacketCountAt = 24;

std::vector<std::uint8_t> UrtHeader(std::uint32_t frameCount) {
  const auto& id = sim::kDefaultIdentity;  // Id2 (3), Id1 (4), Id3 (4)
  std::vector<std::uint8_t> header(transfer::kUrtHeaderSize, 0);
  header[0] = 'B';
  header[1] = 'U';
  std::copy(id.begin() + 3, id.begin() + 7, header.begin() + kId1At);
  std::copy(id.begin(), id.begin() + 3, header.begin() + kId2At);
  std::copy(id.begin() + 7, id.end(), header.begin() + kId3At);
  for (std::size_t i = 0; i < 4; ++i) {
    header[kPacketCountAt + i] = static_cast<std::uint8_t>(frameCount >> (8 * i));
  }
  return header;
}

// A payload that is not all one value, so that the sums are not trivial.
std::vector<std::uint8_t> Payload(std::size_t size, std::size_t frameIndex) {
  std::vector<std::uint8_t> payload(size);
  for (std::size_t i = 0; i < size; ++i) {
    payload[i] = static_cast<std::uint8_t>(i * 31 + frameIndex * 7);
  }
  return payload;
}

bool WriteFile(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

}  // namespace

std::vector<std::uint32_t> FrameSizes(std::uint64_t frameBytes) {
  std::vector<std::uint32_t> sizes(frameBytes / kMaxFrame, kMaxFrame);
  const auto rest = static_cast<std::uint32_t>(frameBytes % kMaxFrame);
  if (rest == 0) return sizes;
  if (rest >= kMinFrameSize || sizes.empty()) {
    sizes.push_back(rest);
    return sizes;
  }
  // Too few bytes left for a frame: the last full frame gives up some of its own.
  const auto lent = static_cast<std::uint32_t>(kMinFrameSize) - rest;
  sizes.back() -= lent;
  sizes.push_back(rest + lent);
  return sizes;
}

std::vector<std::uint8_t> UploadImage(std::uint64_t frameBytes) {
  const auto sizes = FrameSizes(frameBytes);
  auto image = UrtHeader(static_cast<std::uint32_t>(sizes.size()));
  image.reserve(image.size() + frameBytes);
  for (std::size_t f = 0; f < sizes.size(); ++f) {
    const auto frame = transfer::BuildFrame(Payload(sizes[f] - transfer::kFrameOverhead, f));
    image.insert(image.end(), frame.begin(), frame.end());
  }
  return image;
}

bool WriteUploadImage(const std::filesystem::path& path, std::uint64_t frameBytes) {
  return WriteFile(path, UploadImage(frameBytes));
}

bool WriteRegionScript(const std::filesystem::path& workDir, const std::filesystem::path& path,
                       std::uint32_t regionBytes) {
  scripts::ScriptStore store(workDir);
  scripts::ScriptRecord record;
  record.command.startAddress = 0;
  record.command.endAddress = regionBytes;
  record.command.memoryType = scripts::kMemoryTypeFlash;
  record.header.partitionId = 9;  // "Raw Flash Data "
  record.header.partitionType = scripts::kPartitionTypeSbp;
  record.header.size = regionBytes;
  const bool saved = store.AppendRecord(record) && store.SaveDsf(path);
  (void)store.DeleteTemporaryFiles();
  return saved;
}

}  // namespace tavrin::bench
