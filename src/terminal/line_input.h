// The engine part of the line input box (LineInputProc): what Enter sends to the target.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace tavrin::terminal {

// At most this many characters of the caret's line are sent.
inline constexpr std::size_t kLineInputMaxChars = 80;
// Ends every line sent: carriage return.
inline constexpr std::uint8_t kLineEnd = 0x0D;

// The bytes Enter sends for `line` (the line that holds the caret, in the box's 8-bit
// text, without its line break): its first 80 characters, cut at the first byte that is
// 0 or has its top bit set, then 0x0D. An empty line sends 0x0D alone. Sending only while
// connected is the caller's test.
std::vector<std::uint8_t> EncodeInputLine(std::string_view line);

}  // namespace tavrin::terminal
