// The download side of the loader: what one command packet asks for, and the dump frames
// that answer it (one info packet, then the data packets).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "sim/memory_image.h"

namespace tavrin::sim {

// One command packet of a command image: "send me this region".
struct RegionRequest {
  std::uint32_t recordCount = 0;  // the image's record count, the same in every packet
  std::uint8_t memoryType = 0;    // 1 FLASH, 2 EEPROM
  std::uint32_t startAddress = 0;
  std::uint32_t endAddress = 0;

  // EndAddress - StartAddress; an end below the start asks for nothing.
  std::uint32_t Size() const { return endAddress > startAddress ? endAddress - startAddress : 0; }
  bool operator==(const RegionRequest&) const = default;
};

// The 16-byte payload of a command packet: count (4), memory type (1), start (4), end (4),
// three zero bytes. nullopt for any other payload.
std::optional<RegionRequest> ParseCommandPacket(std::span<const std::uint8_t> payload);

constexpr std::uint8_t kInfoPacketMark = 0xF1;  // first payload byte of an info packet
constexpr std::uint8_t kDataPacketMark = 0xF2;  // first payload byte of a data packet
constexpr std::size_t kDataPacketHead = 12;     // 0xF2 and 11 bytes before the region data
constexpr std::size_t kInfoEntrySize = 14;      // byte 4: that entry's data packet count
constexpr std::size_t kInfoEntriesAt = 47;
constexpr std::size_t kMaxInfoEntries = (2991 - kInfoEntriesAt - 4) / kInfoEntrySize;  // 210

class RegionPlan {
 public:
  // `packetSize` 1..kMaxPacketData, `packetsPerEntry` 1..255. A region larger than one
  // info packet can describe is served cut short (Clamped()).
  RegionPlan(const RegionRequest& request, const MemoryImage& memory, std::uint32_t packetSize,
             std::uint32_t packetsPerEntry);

  const RegionRequest& Request() const { return request_; }
  std::uint32_t Size() const { return size_; }  // bytes served
  bool Clamped() const { return size_ != request_.Size(); }
  std::uint32_t DataPackets() const { return dataPackets_; }
  std::uint32_t Crc() const { return crc_; }

  // The info packet's payload; with `wrongCrc` its CRC field is off by one bit.
  std::vector<std::uint8_t> InfoPayload(bool wrongCrc = false) const;
  // Data packet `index` (1..DataPackets()): its payload.
  std::vector<std::uint8_t> DataPayload(std::uint32_t index) const;
  // Region data, as the data packets carry it.
  std::vector<std::uint8_t> Data() const;

 private:
  std::uint32_t PacketsOfEntry(std::uint32_t entry) const;

  RegionRequest request_;
  const MemoryImage* memory_;
  std::uint32_t packetSize_;
  std::uint32_t size_ = 0;
  std::uint32_t dataPackets_ = 0;
  std::uint32_t perEntry_ = 1;
  std::uint32_t entries_ = 0;
  std::uint32_t crc_ = kCrc32Mpeg2Init;
};

}  // namespace tavrin::sim
