// How a received byte is shown, the same in the window's output view and in the command
// line's terminal: control bytes (but Tab) and the C1 range as a blank, every other byte as
// its Latin-1 character. Line breaks are decided by the line rules, not here.
#pragma once

#include <cstdint>

namespace tavrin::terminal {

inline constexpr std::uint8_t kShownTab = 0x09;
inline constexpr char16_t kShownBlank = u' ';

constexpr char16_t DisplayChar(std::uint8_t byte) {
  constexpr std::uint8_t kFirstPrintable = 0x20;
  constexpr std::uint8_t kDel = 0x7F;
  constexpr std::uint8_t kFirstC1 = 0x80;
  constexpr std::uint8_t kLastC1 = 0x9F;
  if (byte == kShownTab) return u'\t';
  if (byte < kFirstPrintable || byte == kDel || (byte >= kFirstC1 && byte <= kLastC1)) {
    return kShownBlank;
  }
  return static_cast<char16_t>(byte);
}

}  // namespace tavrin::terminal
