// OutputText: what the output window shows, as an index over the capture file. The file
// holds the bytes (it is the master copy); this keeps only where the shown lines start
// and end and where the colour changes, and reads the bytes of a line from the file when
// it is to be laid out, copied or searched. Qt-free so that the view's arithmetic can be
// tested without a widget.
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
// The index is compact whatever the capture's length: the start of every
// kLinesPerBlock-th line (8 bytes), the lines of the last block, and a colour run where
// the colour changes. The lines of an earlier block are found again by reading the file
// from the block's first line (at most kLinesPerBlock lines, each at most kMaxLineBytes);
// the few blocks last asked for are kept.
//
// Not thread-safe: the UI thread owns it. It reads the file only up to the length it was
// told about, which the capture log has already written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "terminal/capture_reader.h"
#include "terminal/output_sink.h"

namespace tavrin::app {

using terminal::CaptureReader;
using terminal::ColourMark;

inline constexpr std::size_t kMaxLineBytes = 2048;
inline constexpr std::size_t kLinesPerBlock = 256;

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

// Finds where shown lines start and end in a stream of bytes: fed the bytes in order, in
// pieces of any size, it reports each line break and the one correction a CR LF split
// across two pieces needs (the line after the CR starts one byte later).
class LineScanner {
 public:
  explicit LineScanner(std::size_t lineStart = 0) : lineStart_(lineStart) {}

  // `bytes` start at `offset`. onBreak(end, next): the line ends at `end` (its break, if
  // any, excluded) and the next begins at `next`. onMove(next): the line begun last
  // starts at `next` instead.
  template <typename OnBreak, typename OnMove>
  void Feed(std::span<const std::uint8_t> bytes, std::size_t offset, OnBreak&& onBreak,
            OnMove&& onMove);

 private:
  static constexpr std::size_t kNoBlank = SIZE_MAX;
  // A line cut for length is cut after a blank found among this many bytes before the cut.
  static constexpr std::size_t kCutLookBack = 64;
  std::size_t CutPoint(std::size_t offset) const;

  std::size_t lineStart_;
  std::size_t lastBlank_ = kNoBlank;  // the last blank of the current line
  bool lastWasCr_ = false;            // an LF next completes a CR LF break
};

class OutputText {
 public:
  OutputText();

  // The file the text is read from (null: none can be read); empties the text.
  void SetFile(std::shared_ptr<const CaptureReader> file);
  // The file holds `length` more bytes, shown in `colour`: reads them to find the lines.
  void Append(std::size_t length, ColourMark colour);
  // Empties the text; the file stays until the next SetFile.
  void Clear();

  std::size_t Size() const { return size_; }
  // Changes whenever the text is emptied: a long piece of work on it that sees another
  // value afterwards is working on text that is gone.
  std::uint64_t Generation() const { return generation_; }
  const std::shared_ptr<const CaptureReader>& File() const { return file_; }

  // Reads the bytes at `offset` into `into` (up to the end of the text); returns how many.
  // Bytes the file cannot give read as 0 (shown as a blank).
  std::size_t ReadAt(std::span<std::uint8_t> into, std::size_t offset) const;
  // The bytes of `range` (cut to the text).
  std::string Read(TextRange range) const;
  std::string ReadAll() const { return Read({0, size_}); }

  // Lines as shown; there is always at least one (the empty text is one empty line).
  std::size_t LineCount() const {
    return (checkpoints_.size() - 1) * kLinesPerBlock + tail_.size();
  }
  // The bytes of line `index` without its line break.
  TextRange Line(std::size_t index) const;
  // The line that holds `offset` (a line break belongs to the line it ends).
  std::size_t LineOf(std::size_t offset) const;

  // The coloured stretches (not those in the automatic colour) that overlap `range`,
  // cut to it, in order.
  std::vector<ColourSpan> ColoursIn(TextRange range) const;
  ColourMark ColourAt(std::size_t offset) const;

 private:
  struct ColourRun {
    std::size_t start;
    ColourMark colour;
  };
  using Block = std::vector<TextRange>;  // the lines of one block
  struct CachedBlock {
    std::size_t index;
    std::uint64_t lastUse;
    Block lines;
  };

  void AppendColour(ColourMark colour);
  void StartLine(std::size_t start);
  const Block& BlockOf(std::size_t block) const;
  Block ReadBlock(std::size_t block) const;

  std::shared_ptr<const CaptureReader> file_;
  std::size_t size_ = 0;
  std::uint64_t generation_ = 0;
  LineScanner scanner_;
  // The first line of every block; the last block is tail_.
  std::vector<std::size_t> checkpoints_;
  Block tail_;                      // the last line's end is open: it grows with the text
  std::vector<ColourRun> colours_;  // each run lasts until the next one starts
  mutable std::vector<CachedBlock> cache_;
  mutable std::uint64_t uses_ = 0;
};

// Goes from break to break rather than byte by byte (the breaks are found with memchr),
// since the whole capture passes through here; a blank is only looked for in the last
// bytes before a line might be cut, the only ones a cut looks at.
template <typename OnBreak, typename OnMove>
void LineScanner::Feed(std::span<const std::uint8_t> bytes, std::size_t offset, OnBreak&& onBreak,
                       OnMove&& onMove) {
  constexpr std::uint8_t kLf = 0x0A;
  constexpr std::uint8_t kCr = 0x0D;
  const std::uint8_t* const data = bytes.data();
  const std::size_t n = bytes.size();
  std::size_t i = 0;
  while (i < n) {
    if (lastWasCr_ && data[i] == kLf) {  // completes a CR LF: the line starts after it
      lastWasCr_ = false;
      lineStart_ = offset + i + 1;
      onMove(lineStart_);
      ++i;
      continue;
    }
    lastWasCr_ = false;
    // Bytes before the one that is cut to a new line if it is not a break; the search for
    // a break takes that one in too.
    const std::size_t untilCut = lineStart_ + kMaxLineBytes - (offset + i);
    const bool reachesCut = n - i > untilCut;
    const std::size_t end = reachesCut ? i + untilCut + 1 : n;
    const auto* lf = static_cast<const std::uint8_t*>(std::memchr(data + i, kLf, end - i));
    const std::uint8_t* stop = lf != nullptr ? lf : data + end;
    const auto* cr = static_cast<const std::uint8_t*>(
        std::memchr(data + i, kCr, static_cast<std::size_t>(stop - (data + i))));
    const std::uint8_t* brk = cr != nullptr ? cr : lf;
    if (brk != nullptr) {
      const auto at = static_cast<std::size_t>(brk - data);
      lastWasCr_ = *brk == kCr;
      lineStart_ = offset + at + 1;
      lastBlank_ = kNoBlank;
      onBreak(offset + at, lineStart_);
      i = at + 1;
      continue;
    }
    // No break before `full`: note the last blank a cut could still use.
    const std::size_t full = reachesCut ? end - 1 : end;
    for (std::size_t k = full; k-- > i && k + kCutLookBack >= full;) {
      if (data[k] == ' ') {
        lastBlank_ = offset + k;
        break;
      }
    }
    i = full;
    if (!reachesCut) break;
    // The line is full and the byte at `i` is not a break.
    lineStart_ = CutPoint(offset + i);  // shown on a new line; no break in the bytes
    onBreak(lineStart_, lineStart_);
    if (data[i] == ' ') lastBlank_ = offset + i;
    ++i;
  }
}

}  // namespace tavrin::app
