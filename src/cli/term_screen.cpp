#include "cli/term_screen.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>

namespace tavrin::cli {
namespace {

constexpr int kDefaultRows = 24;
constexpr int kDefaultColumns = 80;
constexpr int kFewestRows = 3;  // fewer: no room for a bottom line

constexpr std::string_view kSaveCursor =
    "\x1b"
    "7";  // DECSC
constexpr std::string_view kRestoreCursor =
    "\x1b"
    "8";                                             // DECRC
constexpr std::string_view kWholeScreen = "\x1b[r";  // scroll region: every row
constexpr std::string_view kEraseLine = "\x1b[2K";
constexpr std::string_view kReverse = "\x1b[7m";
constexpr std::string_view kPlain = "\x1b[0m";
constexpr std::string_view kClearScreen = "\x1b[2J\x1b[H";
// Down a line and back up: at the last row this scrolls the text up one, so that the row
// below the cursor is free for the bottom line.
constexpr std::string_view kMakeRoom = "\n\x1b[A";

bool Continuation(char c) {
  return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

std::string MoveTo(int row, int column) {
  return "\x1b[" + std::to_string(row) + ";" + std::to_string(column) + "H";
}

std::size_t Characters(std::string_view text) {
  std::size_t count = 0;
  for (const char c : text) {
    if (!Continuation(c)) ++count;
  }
  return count;
}

}  // namespace

std::string FitBottom(std::string_view text, int columns, bool keepEnd) {
  const std::size_t room = static_cast<std::size_t>(columns > 1 ? columns - 1 : 1);
  if (Characters(text) <= room) return std::string(text);
  std::size_t kept = 0;
  if (keepEnd) {
    std::size_t at = text.size();
    while (at > 0 && kept < room) {
      --at;
      if (!Continuation(text[at])) ++kept;
    }
    return std::string(text.substr(at));
  }
  std::size_t at = 0;
  while (at < text.size()) {
    if (!Continuation(text[at]) && ++kept > room) break;
    ++at;
  }
  return std::string(text.substr(0, at));
}

TermScreen::TermScreen(int outFd, int errFd, DisplayMode mode, TimeText now, bool sameTerminal)
    : outFd_(outFd),
      errFd_(errFd),
      sameTerminal_(sameTerminal && mode.terminal),
      errTerminal_(::isatty(errFd) == 1),
      display_(mode, std::move(now)) {}

void TermScreen::WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return;  // the terminal is gone, or the pipe closed: nothing to show on
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
}

// Text goes where the text's cursor is: back from the bottom line first, and back to the
// bottom line after it when a question waits there.
void TermScreen::WriteAbove(int fd, std::string_view bytes) {
  if (bytes.empty()) return;
  if (!cursorOnBottom_) {
    WriteAll(fd, bytes);
    return;
  }
  WriteAll(outFd_, kRestoreCursor);
  WriteAll(fd, bytes);
  WriteAll(outFd_, std::string(kSaveCursor) + BottomCursorMove());
}

std::string TermScreen::BottomCursorMove() const {
  const auto shown = FitBottom(bottom_, columns_, true);
  return MoveTo(rows_, static_cast<int>(Characters(shown)) + 1);
}

void TermScreen::Show(std::span<const std::uint8_t> bytes, terminal::ColourMark colour) {
  std::lock_guard lock(mutex_);
  if (closed_) return;
  WriteAbove(outFd_, display_.Render(bytes, colour));
}

void TermScreen::ClearOutput() {
  std::lock_guard lock(mutex_);
  display_.Clear();
  if (closed_ || !display_.Mode().terminal) return;
  WriteAll(outFd_, kClearScreen);
  cursorOnBottom_ = false;
  if (regionSet_) DrawBottomLocked();
}

void TermScreen::Message(std::string_view text) {
  const bool placed = sameTerminal_ || errTerminal_;  // a raw terminal: the command's line ends
  std::string lines;
  for (std::size_t start = 0; start <= text.size();) {
    const auto end = std::min(text.find('\n', start), text.size());
    lines.append(text.substr(start, end - start)).append(placed ? "\r\n" : "\n");
    start = end + 1;
  }
  std::lock_guard lock(mutex_);
  if (closed_ || !sameTerminal_) {
    WriteAll(errFd_, lines);
    return;
  }
  WriteAbove(errFd_, display_.BreakLine() + lines);
}

void TermScreen::MeasureLocked() {
  winsize size{};
  const bool known = ::ioctl(outFd_, TIOCGWINSZ, &size) == 0 && size.ws_row > 0;
  rows_ = known ? size.ws_row : kDefaultRows;
  columns_ = known && size.ws_col > 0 ? size.ws_col : kDefaultColumns;
}

void TermScreen::SetBottom(std::string text, bool question) {
  std::lock_guard lock(mutex_);
  if (closed_ || !display_.Mode().terminal) return;
  bottom_ = std::move(text);
  question_ = question;
  if (bottom_.empty()) {
    RemoveBottomLocked();
    return;
  }
  if (!regionSet_ && !SetRegionLocked()) return;
  DrawBottomLocked();
}

bool TermScreen::SetRegionLocked() {
  MeasureLocked();
  if (rows_ < kFewestRows) return false;
  // Setting the region moves the cursor home: it is saved and put back around it.
  WriteAll(outFd_, std::string(kMakeRoom) + std::string(kSaveCursor) + "\x1b[1;" +
                       std::to_string(rows_ - 1) + "r" + std::string(kRestoreCursor));
  regionSet_ = true;
  return true;
}

void TermScreen::DrawBottomLocked() {
  std::string out;
  if (!cursorOnBottom_) out.append(kSaveCursor);
  out.append(MoveTo(rows_, 1)).append(kEraseLine);
  const auto shown = FitBottom(bottom_, columns_, question_);
  if (question_) {
    out.append(shown);
  } else {
    out.append(kReverse).append(shown);
    out.append(static_cast<std::size_t>(columns_ - 1) -
                   std::min<std::size_t>(Characters(shown), static_cast<std::size_t>(columns_ - 1)),
               ' ');
    out.append(kPlain);
  }
  if (!question_) out.append(kRestoreCursor);
  cursorOnBottom_ = question_;
  WriteAll(outFd_, out);
}

void TermScreen::RemoveBottomLocked() {
  if (!regionSet_) return;
  std::string out;
  if (!cursorOnBottom_) out.append(kSaveCursor);
  out.append(kWholeScreen).append(MoveTo(rows_, 1)).append(kEraseLine).append(kRestoreCursor);
  WriteAll(outFd_, out);
  cursorOnBottom_ = false;
  regionSet_ = false;
}

void TermScreen::Resized() {
  std::lock_guard lock(mutex_);
  if (closed_ || !regionSet_) return;
  RemoveBottomLocked();
  if (SetRegionLocked()) DrawBottomLocked();
}

void TermScreen::Close() {
  std::lock_guard lock(mutex_);
  if (closed_) return;
  WriteAbove(outFd_, display_.Finish());
  RemoveBottomLocked();
  if (display_.Mode().terminal) WriteAll(outFd_, kPlain);
  closed_ = true;
}

}  // namespace tavrin::cli
