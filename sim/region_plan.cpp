#include "sim/region_plan.h"

#include <algorithm>

#include "transfer/packet_frame.h"

namespace tavrin::sim {

namespace {

using transfer::AppendBigEndian;
using transfer::ReadBigEndian;

constexpr std::size_t kCommandPayloadSize = 16;
constexpr std::uint32_t kMaxPacketsPerEntry = 255;  // one byte in the entry
constexpr std::uint32_t kCrcChunk = 4096;

std::uint32_t CeilDiv(std::uint64_t a, std::uint64_t b) {
  return static_cast<std::uint32_t>((a + b - 1) / b);
}

void PutBigEndian(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) {
    out[at + static_cast<std::size_t>(i)] =
        static_cast<std::uint8_t>(value >> (8 * (bytes - 1 - i)));
  }
}

}  // namespace

std::optional<RegionRequest> ParseCommandPacket(std::span<const std::uint8_t> payload) {
  if (payload.size() != kCommandPayloadSize) return std::nullopt;
  if (payload[13] != 0 || payload[14] != 0 || payload[15] != 0) return std::nullopt;
  RegionRequest request;
  request.recordCount = ReadBigEndian(payload.subspan(0, 4));
  request.memoryType = payload[4];
  request.startAddress = ReadBigEndian(payload.subspan(5, 4));
  request.endAddress = ReadBigEndian(payload.subspan(9, 4));
  if (request.recordCount == 0) return std::nullopt;
  if (request.memoryType != 1 && request.memoryType != 2) return std::nullopt;
  return request;
}

RegionPlan::RegionPlan(const RegionRequest& request, const MemoryImage& memory,
                       std::uint32_t packetSize, std::uint32_t packetsPerEntry)
    : request_(request),
      memory_(&memory),
      packetSize_(std::clamp<std::uint32_t>(packetSize, 1, 2991 - kDataPacketHead)),
      size_(request.Size()) {
  perEntry_ = std::clamp<std::uint32_t>(packetsPerEntry, 1, kMaxPacketsPerEntry);
  const std::uint64_t maxPackets = std::uint64_t{kMaxInfoEntries} * kMaxPacketsPerEntry;
  if (CeilDiv(size_, packetSize_) > maxPackets) {
    size_ = static_cast<std::uint32_t>(maxPackets * packetSize_);
  }
  dataPackets_ = CeilDiv(size_, packetSize_);
  perEntry_ = std::max(perEntry_, CeilDiv(dataPackets_, kMaxInfoEntries));
  entries_ = CeilDiv(dataPackets_, perEntry_);

  std::vector<std::uint8_t> chunk;
  for (std::uint32_t done = 0; done < size_;) {
    std::uint32_t count = std::min(kCrcChunk, size_ - done);
    chunk.clear();
    memory_->Read(request_.memoryType, request_.startAddress + done, count, chunk);
    crc_ = Crc32Mpeg2Update(crc_, chunk);
    done += count;
  }
}

std::uint32_t RegionPlan::PacketsOfEntry(std::uint32_t entry) const {
  return std::min(perEntry_, dataPackets_ - entry * perEntry_);
}

std::vector<std::uint8_t> RegionPlan::InfoPayload(bool wrongCrc) const {
  std::vector<std::uint8_t> payload(kInfoEntriesAt + kInfoEntrySize * entries_, 0);
  payload[0] = kInfoPacketMark;
  payload[1] = request_.memoryType;
  PutBigEndian(payload, 4, request_.startAddress, 4);
  PutBigEndian(payload, 8, request_.endAddress, 4);
  PutBigEndian(payload, 12, packetSize_, 4);
  PutBigEndian(payload, 24, size_, 4);
  PutBigEndian(payload, 44, entries_, 3);
  for (std::uint32_t entry = 0; entry < entries_; ++entry) {
    std::size_t at = kInfoEntriesAt + kInfoEntrySize * entry;
    std::uint32_t firstByte = entry * perEntry_ * packetSize_;
    std::uint32_t packets = PacketsOfEntry(entry);
    PutBigEndian(payload, at, firstByte, 4);
    payload[at + 4] = static_cast<std::uint8_t>(packets);
    PutBigEndian(payload, at + 5, std::min(packets * packetSize_, size_ - firstByte), 4);
    payload[at + 9] = request_.memoryType;
  }
  AppendBigEndian(payload, wrongCrc ? crc_ ^ 1u : crc_, 4);
  return payload;
}

std::vector<std::uint8_t> RegionPlan::DataPayload(std::uint32_t index) const {
  std::uint32_t offset = (index - 1) * packetSize_;
  std::uint32_t count = std::min(packetSize_, size_ - offset);
  std::vector<std::uint8_t> payload(kDataPacketHead, 0);
  payload.reserve(kDataPacketHead + count);
  payload[0] = kDataPacketMark;
  PutBigEndian(payload, 1, index, 4);
  PutBigEndian(payload, 5, offset, 4);
  PutBigEndian(payload, 9, count, 2);
  payload[11] = request_.memoryType;
  memory_->Read(request_.memoryType, request_.startAddress + offset, count, payload);
  return payload;
}

std::vector<std::uint8_t> RegionPlan::Data() const {
  return memory_->Read(request_.memoryType, request_.startAddress, size_);
}

}  // namespace tavrin::sim
