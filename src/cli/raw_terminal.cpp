#include "cli/raw_terminal.h"

#include <unistd.h>

#include <cerrno>

namespace tavrin::cli {

RawTerminal::RawTerminal(int fd) : fd_(fd) {
  termios settings{};
  if (::tcgetattr(fd_, &settings) == 0) saved_ = settings;
}

RawTerminal::~RawTerminal() {
  Restore();
}

termios RawTerminal::RawFrom(const termios& settings) {
  termios raw = settings;
  ::cfmakeraw(&raw);
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;
  return raw;
}

bool RawTerminal::MakeRaw() {
  if (!saved_) return false;
  const termios raw = RawFrom(*saved_);
  // TCSANOW, not TCSAFLUSH: keys typed before the port opened are kept and sent.
  if (::tcsetattr(fd_, TCSANOW, &raw) != 0) return false;
  raw_ = true;
  return true;
}

void RawTerminal::Restore() {
  if (!saved_ || !raw_) return;
  // At once, not after the output drains: a terminal nobody reads any more (its window
  // closed) would never drain. What was written is already translated as it went in.
  while (::tcsetattr(fd_, TCSANOW, &*saved_) != 0 && errno == EINTR) {
  }
  raw_ = false;
}

std::optional<unsigned char> RawTerminal::EraseCharacter() const {
  if (!saved_) return std::nullopt;
  const cc_t erase = saved_->c_cc[VERASE];
  if (erase == _POSIX_VDISABLE) return std::nullopt;
  return static_cast<unsigned char>(erase);
}

}  // namespace tavrin::cli
