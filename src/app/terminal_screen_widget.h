// The terminal screen window ("Status Window", window class SerlinkChildClass): a child of
// the main window that holds the keyboard focus and passes every character typed into it
// while connected to the writer queue, one character at a time. It shows a 500 x 90
// screen of blanks in the system fixed font with a caret and scroll bars; the main window
// lays it out with no size, so in practice only its focus and its keys matter.
//
// The arithmetic lives in terminal::TerminalScreen; this class applies it to a widget.
// UI thread only.
#pragma once

#include <QAbstractScrollArea>
#include <QFont>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <optional>

#include "terminal/terminal_screen.h"

namespace tavrin::app {

inline constexpr char kTerminalWindowClass[] = "SerlinkChildClass";  // the object name
inline constexpr char kTerminalWindowTitle[] = "Status Window";

class TerminalScreenWidget : public QAbstractScrollArea {
  Q_OBJECT

 public:
  explicit TerminalScreenWidget(QWidget* parent = nullptr);

  // Where typed characters go (the writer queue); the sink returns false when it dropped
  // the character, which the writer side has already dealt with.
  void SetCharSink(std::function<bool(std::uint8_t)> sink);
  // Characters are sent only while connected; the caret is created on focus gain only
  // while connected.
  void SetConnected(bool connected);
  // The Clear command's part: blanks everywhere, the caret cell at column 0, row 499, and
  // the window repainted.
  void ClearScreen();

  const terminal::TerminalScreen& Screen() const { return screen_; }

 protected:
  bool focusNextPrevChild(bool next) override;
  void keyPressEvent(QKeyEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;

 private:
  void SetTerminalFont(const QFont& font);
  void ScrollView(terminal::Point step);
  void SyncScrollBars();
  void MoveTerminalCaret();
  void ToggleCaretBlink();
  QRect CaretRect() const;
  void SendTypedText(const QString& text);

  terminal::TerminalScreen screen_;
  std::function<bool(std::uint8_t)> sink_;
  bool connected_ = false;
  QFont font_;
  std::optional<terminal::Point> caret_;  // where the caret was last placed
  bool caretBlinkOn_ = true;
  QTimer caretBlink_;
  bool syncingBars_ = false;  // the bars are being set from the model
};

}  // namespace tavrin::app
