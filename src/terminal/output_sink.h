// Where captured bytes are shown: the output window in the GUI, stdout in the command
// line, a recorder in tests.
#pragma once

#include <cstdint>
#include <span>

namespace tavrin::terminal {

// Colour of a block in the output window: none (automatic colour), red (255, 0, 0) for
// problems, blue (0, 0, 255) for successes.
enum class ColourMark : std::uint8_t { kNone = 0, kRed = 1, kBlue = 2 };

class OutputSink {
 public:
  virtual ~OutputSink() = default;
  // Shows bytes just appended to the capture file, in order, in `colour`. Called under
  // the capture lock, from the reader/status thread or the transfer thread.
  virtual void Show(std::span<const std::uint8_t> bytes, ColourMark colour) = 0;
  // Empties the output (Clear).
  virtual void ClearOutput() {}
};

}  // namespace tavrin::terminal
