// The screen of `tavrin-cli term`: the capture stream as TermDisplay renders it, messages
// on lines of their own, and the bottom line (a transfer's progress, or a question being
// answered) kept below the text while the text goes on above it.
//
// On a terminal the bottom line is made with a scroll region: the rows above it scroll,
// it stays. The cursor stays in the text, or sits at the end of the bottom line while a
// question is answered (then every write of text goes back to the text's place first).
// Anywhere but a terminal there is no bottom line, and the stream is written as it comes.
//
// Threads: Show on the engine's threads, Message on any thread, the rest on the session's
// main thread; one lock orders every write, so a block, a message and the bottom line
// never cut into one another.
#pragma once

#include <mutex>
#include <string>
#include <string_view>

#include "cli/term_display.h"
#include "terminal/output_sink.h"

namespace tavrin::cli {

class TermScreen final : public terminal::OutputSink {
 public:
  // `outFd`: where the stream goes (stdout); `errFd`: messages (stderr). `sameTerminal`:
  // both are the one terminal, so a message is placed among the text lines.
  TermScreen(int outFd, int errFd, DisplayMode mode, TimeText now, bool sameTerminal);

  void Show(std::span<const std::uint8_t> bytes, terminal::ColourMark colour) override;
  void ClearOutput() override;

  // `text` (its lines broken at '\n') on lines of its own.
  void Message(std::string_view text);
  // The bottom line: empty hides it. `question`: the cursor waits at its end (a question
  // being answered); otherwise it is a status line, in reverse video.
  void SetBottom(std::string text, bool question);
  // The terminal changed its size.
  void Resized();
  // The screen as it was found: the open line ended, the bottom line and the scroll region
  // gone, the colour reset. Later messages are plain lines; nothing more is shown.
  void Close();

  const DisplayMode& Mode() const { return display_.Mode(); }

 private:
  void WriteAll(int fd, std::string_view bytes);
  void WriteAbove(int fd, std::string_view bytes);
  bool SetRegionLocked();
  void DrawBottomLocked();
  void RemoveBottomLocked();
  std::string BottomCursorMove() const;
  void MeasureLocked();

  std::mutex mutex_;
  const int outFd_;
  const int errFd_;
  const bool sameTerminal_;
  const bool errTerminal_;
  TermDisplay display_;
  bool closed_ = false;
  std::string bottom_;
  bool question_ = false;
  bool regionSet_ = false;
  bool cursorOnBottom_ = false;  // the text's cursor is saved (DECSC) while it is not there
  int rows_ = 0;
  int columns_ = 0;
};

// The bottom line cut to `columns` - 1 characters: a question keeps its end (where the
// typing is), a status line its start. Never cuts a UTF-8 character.
std::string FitBottom(std::string_view text, int columns, bool keepEnd);

}  // namespace tavrin::cli
