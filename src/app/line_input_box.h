// The line input box (id 131) below the output window: Enter sends the line that holds the
// caret (where a selection starts) to the target while connected, at most 80 characters,
// cut at the first byte 0 or with its top bit set, with a carriage return; the box then
// inserts its line break as usual, connected or not. UI thread only.
#pragma once

#include <QPlainTextEdit>
#include <cstdint>
#include <functional>
#include <span>
#include <string>

namespace tavrin::app {

// The box's line as the 8-bit text the encoder takes: characters above 0x7F become 0x80,
// so that the line is cut there as at any byte with its top bit set.
std::string LineInputBytes(const QString& line);

class LineInputBox final : public QPlainTextEdit {
 public:
  // `send` hands the bytes to the port and is called only while `connected` says so.
  LineInputBox(QWidget* parent, std::function<bool()> connected,
               std::function<bool(std::span<const std::uint8_t>)> send);

 protected:
  // The window's accelerators come before the box: Ctrl+A and Ctrl+C select and copy the
  // output window, not the box's text.
  bool event(QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void SendCaretLine();

  std::function<bool()> connected_;
  std::function<bool(std::span<const std::uint8_t>)> send_;
};

}  // namespace tavrin::app
