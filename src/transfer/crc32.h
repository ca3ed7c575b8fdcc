// CRC-32/MPEG-2 (polynomial 0x04C11DB7, initial value 0xFFFFFFFF, not reflected, no final
// XOR): what the target sends after a region's info entries.
#pragma once

#include <cstdint>
#include <span>

namespace tavrin::transfer {

class Crc32Mpeg2 {
 public:
  void Update(std::span<const std::uint8_t> bytes);
  void UpdateZeros(std::uint64_t count);
  std::uint32_t Value() const { return crc_; }

  static std::uint32_t Of(std::span<const std::uint8_t> bytes) {
    Crc32Mpeg2 crc;
    crc.Update(bytes);
    return crc.Value();
  }

 private:
  std::uint32_t crc_ = 0xFFFFFFFF;
};

}  // namespace tavrin::transfer
