#include "cli/term_display.h"

#include "terminal/display_char.h"

#include <chrono>
#include <cstdio>
#include <ctime>

namespace tavrin::cli {
namespace {

using terminal::ColourMark;

constexpr std::uint8_t kLf = 0x0A;
constexpr std::uint8_t kCr = 0x0D;
constexpr std::uint8_t kDel = 0x7F;
constexpr std::uint8_t kFirstPrintable = 0x20;
constexpr std::uint8_t kFirstC1 = 0x80;
constexpr std::size_t kHexHalf = kHexRowBytes / 2;

constexpr std::string_view kNewLine = "\r\n";         // raw terminal: the command's own
constexpr std::string_view kResetColour = "\x1b[0m";  // SGR 0
constexpr std::string_view kRedraw = "\r\x1b[K";      // column 1, line erased
constexpr std::string_view kRed = "\x1b[31m";         // RGB 255, 0, 0 in the window
constexpr std::string_view kBlue = "\x1b[34m";        // RGB 0, 0, 255 in the window

std::string_view ColourCode(ColourMark colour) {
  switch (colour) {
    case ColourMark::kRed:
      return kRed;
    case ColourMark::kBlue:
      return kBlue;
    case ColourMark::kNone:
      break;
  }
  return kResetColour;
}

bool Printable(std::uint8_t byte) {
  return byte >= kFirstPrintable && byte < kDel;
}

}  // namespace

std::string LocalTimeText() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch() %
                                                                            std::chrono::seconds(1))
                          .count();
  std::tm local{};
  ::localtime_r(&seconds, &local);
  char text[32];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", local.tm_hour, local.tm_min, local.tm_sec,
                static_cast<int>(millis));
  return text;
}

TermDisplay::TermDisplay(DisplayMode mode, TimeText now) : mode_(mode), now_(std::move(now)) {
  row_.reserve(kHexRowBytes);
  rowColours_.reserve(kHexRowBytes);
}

std::string TermDisplay::Render(std::span<const std::uint8_t> bytes, ColourMark colour) {
  std::string out;
  if (mode_.hex) {
    for (const std::uint8_t byte : bytes) RenderHex(byte, colour, out);
    if (mode_.terminal && !row_.empty()) out.append(kRedraw).append(HexRow());
    return out;
  }
  const bool coloured = mode_.terminal && colour != ColourMark::kNone;
  if (coloured) out.append(ColourCode(colour));
  for (const std::uint8_t byte : bytes) {
    if (byte == kLf && lastWasCr_) {  // completes a CR LF: one break, already made
      lastWasCr_ = false;
      if (!mode_.terminal) out.push_back(static_cast<char>(byte));
      continue;
    }
    if (atLineStart_) StartLine(out, colour);
    if (byte == kCr || byte == kLf) {
      if (mode_.terminal) {
        out.append(kNewLine);
      } else {
        out.push_back(static_cast<char>(byte));
      }
      atLineStart_ = true;
      lastWasCr_ = byte == kCr;
      continue;
    }
    atLineStart_ = false;
    lastWasCr_ = false;
    AppendShown(byte, out);
  }
  if (coloured) out.append(kResetColour);
  return out;
}

// The time before a line, outside the block's colour.
void TermDisplay::StartLine(std::string& out, ColourMark colour) {
  if (!mode_.timestamps) return;
  const bool coloured = mode_.terminal && colour != ColourMark::kNone;
  if (coloured) out.append(kResetColour);
  out.append("[").append(now_()).append("] ");
  if (coloured) out.append(ColourCode(colour));
}

void TermDisplay::AppendShown(std::uint8_t byte, std::string& out) const {
  if (!mode_.terminal) {
    out.push_back(static_cast<char>(byte));
    return;
  }
  // As the output window shows it; Latin-1 0xA0-0xFF as UTF-8 (two bytes) on a UTF-8 terminal.
  const char16_t shown = terminal::DisplayChar(byte);
  if (shown < kFirstC1 || !mode_.utf8) {
    out.push_back(static_cast<char>(shown));
  } else {
    out.push_back(static_cast<char>(0xC0 | (shown >> 6)));
    out.push_back(static_cast<char>(0x80 | (shown & 0x3F)));
  }
}

void TermDisplay::RenderHex(std::uint8_t byte, ColourMark colour, std::string& out) {
  if (row_.empty() && mode_.timestamps) rowTime_ = now_();
  row_.push_back(byte);
  rowColours_.push_back(colour);
  ++offset_;
  if (row_.size() < kHexRowBytes) return;
  if (mode_.terminal) out.append(kRedraw);
  out.append(HexRow()).append(mode_.terminal ? kNewLine : "\n");
  row_.clear();
  rowColours_.clear();
}

// "00000010  41 42 ... |AB..|", the row filled so far, blanks where bytes are still to come.
std::string TermDisplay::HexRow() const {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string line;
  if (mode_.timestamps) line.append("[").append(rowTime_).append("] ");
  char offset[24];
  std::snprintf(offset, sizeof offset, "%08llX  ",
                static_cast<unsigned long long>(offset_ - row_.size()));
  line.append(offset);
  ColourMark shown = ColourMark::kNone;
  const auto colourFor = [&](std::size_t i) {
    const ColourMark wanted = rowColours_[i];
    if (!mode_.terminal || wanted == shown) return;
    line.append(ColourCode(wanted));
    shown = wanted;
  };
  const auto plain = [&] {
    if (shown == ColourMark::kNone) return;
    line.append(kResetColour);
    shown = ColourMark::kNone;
  };
  for (std::size_t i = 0; i < kHexRowBytes; ++i) {
    if (i == kHexHalf) line.push_back(' ');
    if (i < row_.size()) {
      colourFor(i);
      line.push_back(kDigits[row_[i] >> 4]);
      line.push_back(kDigits[row_[i] & 0x0F]);
      line.push_back(' ');
    } else {
      plain();
      line.append("   ");
    }
  }
  plain();
  line.append(" |");
  for (std::size_t i = 0; i < row_.size(); ++i) {
    colourFor(i);
    line.push_back(Printable(row_[i]) ? static_cast<char>(row_[i]) : '.');
  }
  plain();
  line.push_back('|');
  return line;
}

void TermDisplay::Clear() {
  offset_ = 0;
  row_.clear();
  rowColours_.clear();
  atLineStart_ = true;
  lastWasCr_ = false;
}

std::string TermDisplay::BreakLine() {
  if (mode_.hex) return row_.empty() ? std::string() : std::string(kNewLine);
  if (atLineStart_) return {};
  atLineStart_ = true;
  lastWasCr_ = false;
  return std::string(kNewLine);
}

std::string TermDisplay::Finish() {
  std::string out;
  if (mode_.hex) {
    if (!row_.empty()) out = mode_.terminal ? std::string(kNewLine) : HexRow() + "\n";
    row_.clear();
    rowColours_.clear();
    return out;
  }
  if (mode_.terminal && !atLineStart_) out = kNewLine;
  atLineStart_ = true;
  return out;
}

}  // namespace tavrin::cli
