#include "transfer/crc32.h"

#include <array>

namespace tavrin::transfer {
namespace {

constexpr std::uint32_t kPolynomial = 0x04C11DB7;

constexpr std::array<std::uint32_t, 256> MakeTable() {
  std::array<std::uint32_t, 256> table{};
  for (std::uint32_t i = 0; i < 256; ++i) {
    std::uint32_t c = i << 24;
    for (int bit = 0; bit < 8; ++bit) c = (c & 0x80000000u) ? (c << 1) ^ kPolynomial : c << 1;
    table[i] = c;
  }
  return table;
}

constexpr auto kTable = MakeTable();

}  // namespace

void Crc32Mpeg2::Update(std::span<const std::uint8_t> bytes) {
  for (std::uint8_t b : bytes) crc_ = (crc_ << 8) ^ kTable[((crc_ >> 24) ^ b) & 0xFF];
}

void Crc32Mpeg2::UpdateZeros(std::uint64_t count) {
  for (std::uint64_t i = 0; i < count; ++i) crc_ = (crc_ << 8) ^ kTable[(crc_ >> 24) & 0xFF];
}

}  // namespace tavrin::transfer
