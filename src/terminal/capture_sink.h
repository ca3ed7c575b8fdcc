// Where received text and report blocks go to be captured and shown (the capture log).
// An interface so that the transfer and the receive dispatcher can be tested without
// files.
#pragma once

#include <cstdint>
#include <span>

#include "terminal/output_sink.h"

namespace tavrin::terminal {

class CaptureSink {
 public:
  virtual ~CaptureSink() = default;
  // Appends the block and shows it in `colour`. One call is one unit: blocks of two
  // threads never interleave.
  virtual void WriteToCapture(std::span<const std::uint8_t> bytes, ColourMark colour) = 0;
};

}  // namespace tavrin::terminal
