// Where captured bytes are shown: the output window in the GUI, stdout in the command
// line, a recorder in tests.
#pragma once

#include <cstdint>
#include <memory>
#include <span>

namespace tavrin::terminal {

class CaptureReader;

// Colour of a block in the output window: none (automatic colour), red (255, 0, 0) for
// problems, blue (0, 0, 255) for successes.
enum class ColourMark : std::uint8_t { kNone = 0, kRed = 1, kBlue = 2 };

// The capture log calls the sink with no engine lock held, one call at a time, in the
// order the capture file got the blocks: Show and ClearOutput never overtake each other.
// The calling thread is any engine thread (the reader/status thread, the transfer thread)
// or the host's own thread (Clear). A sink never waits: a window copies what it gets and
// queues it to its UI thread, ClearOutput through the same queue, so a block that was
// appended before a Clear is emptied with the rest and never shows after it.
class OutputSink {
 public:
  virtual ~OutputSink() = default;
  // Shows bytes just appended to the capture file, in order, in `colour`. The bytes live
  // only during the call: a sink that keeps or queues them copies them (one copy a block,
  // which a queue to another thread needs anyway).
  virtual void Show(std::span<const std::uint8_t> bytes, ColourMark colour) = 0;
  // Empties the output (Clear).
  virtual void ClearOutput() {}
  // The capture file that the blocks shown from now on were appended to, for a sink that
  // reads what it shows from the file (the bytes of Show then count only by their
  // number): called before the first block, and after each ClearOutput with the new
  // file. Null when the file could not be opened for reading.
  virtual void UseCaptureFile(std::shared_ptr<const CaptureReader> /*file*/) {}
};

}  // namespace tavrin::terminal
