// What `tavrin-cli term` writes to its screen for the bytes the capture stream shows: plain
// data in, text out, so that every rule can be tested without a terminal.
//
// On a terminal the bytes are shown as the output window shows them: CR, LF and CR LF each
// end a line (a CR LF split across two blocks is still one break); TAB is a tab; every other
// control byte (0x00-0x1F, 0x7F) and the C1 range 0x80-0x9F are shown as a blank; 0xA0-0xFF
// are the Latin-1 letters and signs (sent as UTF-8 to a UTF-8 terminal). A block coloured
// red or blue (a transfer report) is shown in that colour. Anywhere else (a pipe, a file)
// the bytes go out as the capture holds them, byte for byte.
//
// --timestamps puts the local time with milliseconds before each line ("[12:34:56.789] ");
// --hex shows the bytes as a hex dump, 16 a row, offset in the capture first and the text
// beside them (printable ASCII, '.' for the rest). Both change only what is shown.
//
// Not thread-safe: its owner serialises the calls.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "terminal/output_sink.h"

namespace tavrin::cli {

struct DisplayMode {
  bool terminal = false;  // the screen is a terminal: translate, colour, redraw hex rows
  bool utf8 = true;       // the terminal takes UTF-8
  bool timestamps = false;
  bool hex = false;
};

// The local time now, as shown before a line: "12:34:56.789".
using TimeText = std::function<std::string()>;
std::string LocalTimeText();

inline constexpr std::size_t kHexRowBytes = 16;

class TermDisplay {
 public:
  TermDisplay(DisplayMode mode, TimeText now);

  // What to write for `bytes`, the next block of the capture stream, in `colour`.
  std::string Render(std::span<const std::uint8_t> bytes, terminal::ColourMark colour);
  // The output was emptied (Clear): offsets start at 0 again, a new line begins.
  void Clear();
  // Something else was written on a line of its own: the next byte starts a new line (the
  // text it breaks off goes on below).
  std::string BreakLine();
  // At the end: a hex row still open is written (anywhere but a terminal, where it is
  // already shown), and the line is ended.
  std::string Finish();

  const DisplayMode& Mode() const { return mode_; }

 private:
  void RenderText(std::uint8_t byte, std::string& out);
  void AppendShown(std::uint8_t byte, std::string& out) const;
  void StartLine(std::string& out, terminal::ColourMark colour);
  void RenderHex(std::uint8_t byte, terminal::ColourMark colour, std::string& out);
  std::string HexRow() const;

  DisplayMode mode_;
  TimeText now_;
  bool atLineStart_ = true;
  bool lastWasCr_ = false;  // an LF next completes a CR LF break

  // --hex: the row being filled.
  std::uint64_t offset_ = 0;  // of the next byte in the capture
  std::vector<std::uint8_t> row_;
  std::vector<terminal::ColourMark> rowColours_;
  std::string rowTime_;
};

}  // namespace tavrin::cli
