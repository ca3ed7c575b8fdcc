#include "cli/term_keys.h"

#include "terminal/terminal_screen.h"

namespace tavrin::cli {
namespace {

constexpr std::uint8_t kCr = 0x0D;
constexpr std::uint8_t kLf = 0x0A;
constexpr std::uint8_t kEsc = 0x1B;
constexpr std::uint8_t kDel = 0x7F;
constexpr std::uint8_t kCtrlU = 0x15;

bool Continuation(std::uint8_t byte) {
  return (byte & 0xC0) == 0x80;
}

}  // namespace

std::vector<KeyAction> KeyDecoder::Feed(std::span<const std::uint8_t> bytes) {
  std::vector<KeyAction> actions;
  for (const std::uint8_t byte : bytes) Take(byte, actions);
  return actions;
}

void KeyDecoder::Take(std::uint8_t byte, std::vector<KeyAction>& actions) {
  if (escape_) {
    escape_ = false;
    if (byte == kEscapeKey || byte == kCtrlC) {
      actions.push_back({KeyAction::Kind::kSend, byte});
    } else {
      const bool upper = byte >= 'A' && byte <= 'Z';
      actions.push_back(
          {KeyAction::Kind::kCommand, upper ? static_cast<std::uint8_t>(byte - 'A' + 'a') : byte});
    }
    return;
  }
  if (byte == kEscapeKey) {
    escape_ = true;
    missing_ = 0;
  } else if (byte == kCtrlC) {
    actions.push_back({KeyAction::Kind::kInterrupt});
    missing_ = 0;
  } else if (erase_ && byte == *erase_) {
    actions.push_back({KeyAction::Kind::kSend, kBackspace});
  } else {
    Character(byte, actions);
  }
}

void KeyDecoder::Character(std::uint8_t byte, std::vector<KeyAction>& actions) {
  if (!utf8_ || byte < 0x80) {
    missing_ = 0;
    actions.push_back({KeyAction::Kind::kSend, byte});
    return;
  }
  if (Continuation(byte)) {
    if (missing_ == 0) return;  // a stray continuation: no character
    code_ = (code_ << 6) | (byte & 0x3F);
    // A whole character goes as its low byte, as the terminal window sends it.
    if (--missing_ == 0) {
      actions.push_back({KeyAction::Kind::kSend, *terminal::TypedByte(code_, true)});
    }
    return;
  }
  // A lead byte: 110xxxxx, 1110xxxx or 11110xxx.
  if ((byte & 0xE0) == 0xC0) {
    missing_ = 1;
    code_ = byte & 0x1F;
  } else if ((byte & 0xF0) == 0xE0) {
    missing_ = 2;
    code_ = byte & 0x0F;
  } else if ((byte & 0xF8) == 0xF0) {
    missing_ = 3;
    code_ = byte & 0x07;
  } else {
    missing_ = 0;  // not UTF-8: nothing
  }
}

PromptEditor::State PromptEditor::Feed(std::span<const std::uint8_t> bytes) {
  used_ = 0;
  for (std::size_t i = 0; i < bytes.size() && state_ == State::kEditing; ++i) {
    const std::uint8_t byte = bytes[i];
    used_ = i + 1;
    if (skip_ == Skip::kEscape) {
      // ESC [ ... or ESC O x: a key's sequence; ESC and anything else: that key alone.
      skip_ = (byte == '[' || byte == 'O') ? Skip::kSequence : Skip::kNone;
      continue;
    }
    if (skip_ == Skip::kSequence) {
      if (byte >= 0x40 && byte <= 0x7E) skip_ = Skip::kNone;  // the sequence's final byte
      continue;
    }
    if (byte == kCr || byte == kLf) {
      state_ = State::kDone;
    } else if (byte == kCtrlC || (byte == kEsc && i + 1 == bytes.size())) {
      state_ = State::kAborted;
    } else if (byte == kEsc) {
      skip_ = Skip::kEscape;
    } else if (byte == kDel || byte == kBackspace) {
      while (!text_.empty() && Continuation(static_cast<std::uint8_t>(text_.back()))) {
        text_.pop_back();
      }
      if (!text_.empty()) text_.pop_back();
    } else if (byte == kCtrlU) {
      text_.clear();
    } else if (byte >= 0x20) {
      text_.push_back(static_cast<char>(byte));
    }
  }
  return state_;
}

}  // namespace tavrin::cli
