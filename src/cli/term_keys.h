// The keys typed at `tavrin-cli term`, read from the user's terminal in raw mode: each key
// becomes what the terminal screen window would send for it (one byte, its 8-bit code), or
// a command after the escape key Ctrl+T. Plain data in, actions out.
//
//   - a character of a UTF-8 terminal is decoded first and sends its low byte, as the
//     window does (U+00E9 sends 0xE9, U+20AC sends 0xAC);
//   - the terminal's erase key (DEL on most terminals) sends Backspace (0x08), as the
//     window's Backspace does; Enter sends CR (0x0D);
//   - Ctrl+C ends the terminal (as SIGINT does);
//   - Ctrl+T then a key is a command; Ctrl+T Ctrl+T sends Ctrl+T and Ctrl+T Ctrl+C sends
//     Ctrl+C.
//
// Not thread-safe: the session's main thread owns it.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace tavrin::cli {

inline constexpr std::uint8_t kEscapeKey = 0x14;  // Ctrl+T
inline constexpr std::uint8_t kCtrlC = 0x03;
inline constexpr std::uint8_t kBackspace = 0x08;

struct KeyAction {
  enum class Kind { kSend, kCommand, kInterrupt };
  Kind kind;
  std::uint8_t value = 0;  // kSend: the byte; kCommand: the key after Ctrl+T (lower case)
  bool operator==(const KeyAction&) const = default;
};

class KeyDecoder {
 public:
  // `erase`: the terminal's erase character, sent as Backspace.
  KeyDecoder(bool utf8, std::optional<std::uint8_t> erase) : utf8_(utf8), erase_(erase) {}
  std::vector<KeyAction> Feed(std::span<const std::uint8_t> bytes);

 private:
  void Take(std::uint8_t byte, std::vector<KeyAction>& actions);
  void Character(std::uint8_t byte, std::vector<KeyAction>& actions);

  bool utf8_;
  std::optional<std::uint8_t> erase_;
  bool escape_ = false;      // Ctrl+T was typed: the next key is a command
  std::size_t missing_ = 0;  // UTF-8 continuation bytes still to come
  char32_t code_ = 0;
};

// A line typed on the bottom line (a file name, a baud rate): Enter takes it, Ctrl+C or a
// lone Escape gives up, Backspace/DEL erases a character, Ctrl+U the whole line. A cursor
// or function key's escape sequence is let be.
class PromptEditor {
 public:
  enum class State { kEditing, kDone, kAborted };

  PromptEditor(std::string question, std::string text)
      : question_(std::move(question)), text_(std::move(text)) {}
  // Takes the bytes of one read from the terminal (a lone Escape arrives alone in its read).
  // Stops at the key that answers or gives up; Used() tells how many bytes it took.
  State Feed(std::span<const std::uint8_t> bytes);
  std::size_t Used() const { return used_; }
  const std::string& Question() const { return question_; }
  const std::string& Text() const { return text_; }
  // The bottom line as shown: the question, then the text typed.
  std::string Line() const { return question_ + text_; }

 private:
  std::string question_;
  std::string text_;
  State state_ = State::kEditing;
  std::size_t used_ = 0;
  enum class Skip { kNone, kEscape, kSequence } skip_ = Skip::kNone;
};

}  // namespace tavrin::cli
