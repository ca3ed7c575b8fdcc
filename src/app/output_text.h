// OutputText: what the output window holds, as plain data. The bytes exactly as the
// capture file holds them, the lines they break into and the colour of each stretch.
// Qt-free so that the view's arithmetic can be tested without a widget.
//
// How bytes are shown: one byte is one character, read as Latin-1, so offsets into the
// bytes are offsets into the text (selection, Find and Copy all count bytes).
//   - CR, LF and CR LF end a line (a CR LF split across two blocks is still one break);
//   - TAB is a tab;
//   - every other control byte (0x00-0x1F, 0x7F) and the C1 range 0x80-0x9F, which
//     Latin-1 leaves without a picture, show as a blank;
//   - 0xA0-0xFF are the Latin-1 letters and signs.
// A run of more than kMaxLineBytes bytes without a break is shown as several lines (cut
// after a blank near the limit where there is one), so that a target printing without
// line ends never makes one line that every refresh has to lay out again; nothing is
// inserted into the bytes.
//
// Not thread-safe: the UI thread owns it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "terminal/output_sink.h"

namespace tavrin::app {

using terminal::ColourMark;

inline constexpr std::size_t kMaxLineBytes = 2048;

// A range of byte offsets [start, end).
struct TextRange {
  std::size_t start = 0;
  std::size_t end = 0;
  bool operator==(const TextRange&) const = default;
  std::size_t Length() const { return end - start; }
};

// A stretch of text in one colour.
struct ColourSpan {
  TextRange range;
  ColourMark colour;
  bool operator==(const ColourSpan&) const = default;
};

// The character a byte is shown as (a Latin-1 code point); line breaks are not shown.
char16_t DisplayChar(std::uint8_t byte);

class OutputText {
 public:
  OutputText();

  void Append(std::span<const std::uint8_t> bytes, ColourMark colour);
  void Clear();

  std::string_view Bytes() const { return bytes_; }
  std::size_t Size() const { return bytes_.size(); }

  // Lines as shown; there is always at least one (the empty text is one empty line).
  std::size_t LineCount() const { return lineStarts_.size(); }
  // The bytes of line `index` without its line break.
  TextRange Line(std::size_t index) const;
  // The line that holds `offset` (a line break belongs to the line it ends).
  std::size_t LineOf(std::size_t offset) const;

  // The coloured stretches (not those in the automatic colour) that overlap `range`,
  // cut to it, in order.
  std::vector<ColourSpan> ColoursIn(TextRange range) const;
  ColourMark ColourAt(std::size_t offset) const;

 private:
  std::size_t CutPoint(std::size_t offset) const;

  struct ColourRun {
    std::size_t start;
    ColourMark colour;
  };

  std::string bytes_;
  std::vector<std::size_t> lineStarts_;
  std::vector<ColourRun> colours_;  // each run lasts until the next one starts
  bool lastWasCr_ = false;          // an LF next completes a CR LF break
};

}  // namespace tavrin::app
