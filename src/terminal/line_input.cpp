#include "terminal/line_input.h"

#include <algorithm>

namespace tavrin::terminal {
namespace {

// Only 7-bit characters other than NUL go to the target; the first other byte ends the
// line.
bool EndsLine(char c) {
  const auto byte = static_cast<std::uint8_t>(c);
  return byte == 0 || byte >= 0x80;
}

}  // namespace

std::vector<std::uint8_t> EncodeInputLine(std::string_view line) {
  const std::string_view taken = line.substr(0, kLineInputMaxChars);
  const auto end = std::find_if(taken.begin(), taken.end(), EndsLine);
  std::vector<std::uint8_t> bytes(taken.begin(), end);
  bytes.push_back(kLineEnd);
  return bytes;
}

}  // namespace tavrin::terminal
