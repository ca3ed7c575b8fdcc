// The target's memory as the simulator makes it up: every byte is a function of the seed,
// the memory type (1 FLASH, 2 EEPROM) and the address, so a region reads the same however
// it is cut into packets, and tests can compute what a download must have produced.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace tavrin::sim {

class MemoryImage {
 public:
  explicit MemoryImage(std::uint64_t seed) : seed_(seed) {}

  std::uint8_t ByteAt(std::uint8_t memoryType, std::uint32_t address) const;
  // Appends `count` bytes from `start` to `out` (addresses wrap at 2^32).
  void Read(std::uint8_t memoryType, std::uint32_t start, std::uint32_t count,
            std::vector<std::uint8_t>& out) const;
  std::vector<std::uint8_t> Read(std::uint8_t memoryType, std::uint32_t start,
                                 std::uint32_t count) const;

 private:
  std::uint64_t Word(std::uint8_t memoryType, std::uint32_t wordIndex) const;

  std::uint64_t seed_;
};

// CRC-32/MPEG-2: polynomial 0x04C11DB7, initial value 0xFFFFFFFF, not reflected, no final
// XOR. `Update` continues a CRC over more bytes; start from kCrc32Mpeg2Init.
constexpr std::uint32_t kCrc32Mpeg2Init = 0xFFFFFFFFu;
std::uint32_t Crc32Mpeg2Update(std::uint32_t crc, std::span<const std::uint8_t> bytes);
inline std::uint32_t Crc32Mpeg2(std::span<const std::uint8_t> bytes) {
  return Crc32Mpeg2Update(kCrc32Mpeg2Init, bytes);
}

}  // namespace tavrin::sim
