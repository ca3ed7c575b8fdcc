// The user's terminal for `tavrin-cli term`: its settings taken when the command starts,
// raw mode while it runs, and the settings put back exactly as they were whatever ends it.
//
// Raw mode here is the one the terminal screen window works in: every key is a character
// for the target, read at once and not echoed; nothing is translated on the way in or out
// (the command writes its own line ends); the keys that would raise signals (Ctrl+C, Ctrl+\,
// Ctrl+Z) arrive as characters, so that the command decides what Ctrl+C does and the target
// can be sent the others.
//
// Threads: the owner's thread only.
#pragma once

#include <termios.h>

#include <optional>

namespace tavrin::cli {

class RawTerminal {
 public:
  // Takes the settings of `fd`; nothing is changed yet. Not a terminal: every call does
  // nothing.
  explicit RawTerminal(int fd);
  // Puts the settings back (Restore).
  ~RawTerminal();
  RawTerminal(const RawTerminal&) = delete;
  RawTerminal& operator=(const RawTerminal&) = delete;

  bool IsTerminal() const { return saved_.has_value(); }
  // Switches to raw mode; false when the terminal refused.
  bool MakeRaw();
  // The settings as they were taken, applied at once (a hung-up terminal refuses; then
  // there is nothing left to restore). Safe to call more than once.
  void Restore();
  // The character the terminal erases with (DEL or Backspace), as it was set.
  std::optional<unsigned char> EraseCharacter() const;

  // The raw settings made from `settings`.
  static termios RawFrom(const termios& settings);

 private:
  int fd_;
  std::optional<termios> saved_;
  bool raw_ = false;
};

}  // namespace tavrin::cli
