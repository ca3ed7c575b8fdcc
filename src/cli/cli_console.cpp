#include "cli/cli_console.h"

#include <sys/ioctl.h>
#include <unistd.h>

namespace tavrin::cli {
namespace {

constexpr std::size_t kDefaultWidth = 80;

// Columns of the terminal: a board line must not wrap, or the cursor moves would miss.
std::size_t TerminalWidth(std::FILE* out) {
  winsize size{};
  if (::ioctl(::fileno(out), TIOCGWINSZ, &size) == 0 && size.ws_col > 1) return size.ws_col;
  return kDefaultWidth;
}

}  // namespace

void Console::Write(std::string_view text) {
  std::lock_guard lock(mutex_);
  EraseLocked();
  std::fwrite(text.data(), 1, text.size(), out_);
  DrawLocked();
  std::fflush(out_);
}

void Console::Out(std::string_view text) {
  std::lock_guard lock(mutex_);
  EraseLocked();
  std::fflush(out_);
  std::fwrite(text.data(), 1, text.size(), stdout_);
  std::fflush(stdout_);
  DrawLocked();
  std::fflush(out_);
}

void Console::ShowBoard(std::vector<std::string> lines) {
  if (!board_) return;
  std::lock_guard lock(mutex_);
  EraseLocked();
  lines_ = std::move(lines);
  DrawLocked();
  std::fflush(out_);
}

void Console::EndBoard() {
  std::lock_guard lock(mutex_);
  lines_.clear();
  drawn_ = 0;  // what is on the screen stays there
}

void Console::EraseLocked() {
  if (drawn_ == 0) return;
  std::fprintf(out_, "\x1b[%zuA\r\x1b[J", drawn_);  // up to the board's first line, clear below
  drawn_ = 0;
}

void Console::DrawLocked() {
  if (!board_ || lines_.empty()) return;
  const std::size_t width = TerminalWidth(out_) - 1;
  for (const auto& line : lines_) {
    const std::string_view shown = std::string_view(line).substr(0, width);
    std::fwrite(shown.data(), 1, shown.size(), out_);
    std::fputs("\x1b[K\n", out_);
  }
  drawn_ = lines_.size();
}

}  // namespace tavrin::cli
