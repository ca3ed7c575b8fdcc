#include "sim/memory_image.h"

#include <array>

namespace tavrin::sim {

namespace {

std::uint64_t Mix(std::uint64_t z) {
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  return z ^ (z >> 31);
}

constexpr std::array<std::uint32_t, 256> MakeCrcTable() {
  std::array<std::uint32_t, 256> table{};
  for (std::uint32_t i = 0; i < 256; ++i) {
    std::uint32_t crc = i << 24;
    for (int bit = 0; bit < 8; ++bit) {
      crc = (crc & 0x80000000u) != 0 ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
    }
    table[i] = crc;
  }
  return table;
}

constexpr auto kCrcTable = MakeCrcTable();

}  // namespace

std::uint64_t MemoryImage::Word(std::uint8_t memoryType, std::uint32_t wordIndex) const {
  return Mix(seed_ * 0x9E3779B97F4A7C15ULL + (std::uint64_t{memoryType} << 32) + wordIndex);
}

std::uint8_t MemoryImage::ByteAt(std::uint8_t memoryType, std::uint32_t address) const {
  return static_cast<std::uint8_t>(Word(memoryType, address / 8) >> (8 * (address % 8)));
}

void MemoryImage::Read(std::uint8_t memoryType, std::uint32_t start, std::uint32_t count,
                       std::vector<std::uint8_t>& out) const {
  out.reserve(out.size() + count);
  for (std::uint32_t i = 0; i < count; ++i) {
    out.push_back(ByteAt(memoryType, start + i));
  }
}

std::vector<std::uint8_t> MemoryImage::Read(std::uint8_t memoryType, std::uint32_t start,
                                            std::uint32_t count) const {
  std::vector<std::uint8_t> out;
  Read(memoryType, start, count, out);
  return out;
}

std::uint32_t Crc32Mpeg2Update(std::uint32_t crc, std::span<const std::uint8_t> bytes) {
  for (std::uint8_t b : bytes) {
    crc = (crc << 8) ^ kCrcTable[((crc >> 24) ^ b) & 0xFFu];
  }
  return crc;
}

}  // namespace tavrin::sim
