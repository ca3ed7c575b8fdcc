#include "app/terminal_screen_widget.h"

#include <QApplication>
#include <QFocusEvent>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <algorithm>
#include <utility>

namespace tavrin::app {
namespace {

using terminal::ScrollBar;
using terminal::ScrollCode;
using terminal::TerminalKey;

TerminalKey KeyOf(int key) {
  switch (key) {
    case Qt::Key_PageUp:
      return TerminalKey::kPageUp;
    case Qt::Key_PageDown:
      return TerminalKey::kPageDown;
    case Qt::Key_End:
      return TerminalKey::kEnd;
    case Qt::Key_Home:
      return TerminalKey::kHome;
    case Qt::Key_Left:
      return TerminalKey::kLeft;
    case Qt::Key_Up:
      return TerminalKey::kUp;
    case Qt::Key_Right:
      return TerminalKey::kRight;
    case Qt::Key_Down:
      return TerminalKey::kDown;
    default:
      return TerminalKey::kOther;
  }
}

}  // namespace

TerminalScreenWidget::TerminalScreenWidget(QWidget* parent) : QAbstractScrollArea(parent) {
  setObjectName(QLatin1String(kTerminalWindowClass));
  setWindowTitle(QLatin1String(kTerminalWindowTitle));
  setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
  // A click gives the window the focus, as does the main window.
  setFocusPolicy(Qt::StrongFocus);
  viewport()->setCursor(Qt::IBeamCursor);
  viewport()->setBackgroundRole(QPalette::Base);
  viewport()->setAutoFillBackground(true);
  // A bar shows only while there is something to scroll; a dragged thumb moves the view
  // when it is let go, not while it is dragged.
  setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  horizontalScrollBar()->setTracking(false);
  verticalScrollBar()->setTracking(false);

  caretBlink_.setInterval(std::max(QApplication::cursorFlashTime() / 2, 1));
  connect(&caretBlink_, &QTimer::timeout, this, &TerminalScreenWidget::ToggleCaretBlink);

  SetTerminalFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
}

void TerminalScreenWidget::SetCharSink(std::function<bool(std::uint8_t)> sink) {
  sink_ = std::move(sink);
}

void TerminalScreenWidget::SetConnected(bool connected) {
  connected_ = connected;
  MoveTerminalCaret();
}

void TerminalScreenWidget::ClearScreen() {
  screen_.Clear();
  viewport()->update();
  MoveTerminalCaret();
}

void TerminalScreenWidget::SetTerminalFont(const QFont& font) {
  font_ = font;
  const QFontMetrics metrics(font_);
  screen_.SetFontMetrics(metrics.averageCharWidth(), metrics.height() + metrics.leading());
  SyncScrollBars();
  viewport()->update();
}

// Tab and Shift+Tab are characters for the target, not focus moves.
bool TerminalScreenWidget::focusNextPrevChild(bool) {
  return false;
}

void TerminalScreenWidget::keyPressEvent(QKeyEvent* event) {
  const TerminalKey key = KeyOf(event->key());
  if (key != TerminalKey::kOther) {
    ScrollView(screen_.PressKey(key));
    return;
  }
  // Delete is an editing key, not a character, although some keyboards report 0x7F for
  // it: it sends nothing.
  if (event->key() == Qt::Key_Delete) return;
  // A letter typed with Alt is a menu or system key, not a character: it sends nothing.
  // Ctrl+Alt is AltGr on some keyboards, whose characters are sent.
  const Qt::KeyboardModifiers modifiers = event->modifiers();
  if (modifiers.testFlag(Qt::AltModifier) && !modifiers.testFlag(Qt::ControlModifier)) return;
  SendTypedText(event->text());
}

void TerminalScreenWidget::SendTypedText(const QString& text) {
  // One byte a character, not a UTF-16 unit: a character above U+FFFF is one character.
  for (const char32_t character : text.toUcs4()) {
    const auto byte = terminal::TypedByte(character, connected_);
    if (byte && sink_) sink_(*byte);
  }
}

void TerminalScreenWidget::focusInEvent(QFocusEvent* event) {
  QAbstractScrollArea::focusInEvent(event);
  if (screen_.FocusIn(connected_) && !caretBlink_.isActive()) {
    caretBlinkOn_ = true;
    caretBlink_.start();
  }
  MoveTerminalCaret();
}

void TerminalScreenWidget::focusOutEvent(QFocusEvent* event) {
  QAbstractScrollArea::focusOutEvent(event);
  if (!screen_.CaretShown()) return;
  screen_.FocusOut();
  caretBlink_.stop();
  viewport()->update(CaretRect());
  caret_.reset();
}

void TerminalScreenWidget::paintEvent(QPaintEvent* event) {
  QPainter painter(viewport());
  painter.setFont(font_);
  const QColor background = palette().color(QPalette::Base);
  painter.setBackgroundMode(Qt::OpaqueMode);
  painter.setBackground(background);
  painter.setPen(palette().color(QPalette::Text));

  const QRect area = event->rect();
  const terminal::CellRange cells = screen_.CellsToPaint(
      area.left(), area.top(), area.left() + area.width(), area.top() + area.height());
  const int width = screen_.CharacterWidth();
  const int height = screen_.LineHeight();
  const int count = cells.lastColumn - cells.firstColumn + 1;
  for (int row = cells.firstRow; row <= cells.lastRow; ++row) {
    const std::string_view text = screen_.RowText(row, cells.firstColumn, count);
    const QRect rowRect(cells.firstColumn * width - screen_.HorizontalOffset(),
                        row * height - screen_.VerticalOffset(), count * width, height);
    painter.fillRect(rowRect, background);
    painter.drawText(rowRect, Qt::AlignLeft | Qt::AlignTop | Qt::TextDontClip,
                     QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())));
  }
  if (caret_ && caretBlinkOn_) painter.fillRect(CaretRect(), palette().color(QPalette::Text));
}

void TerminalScreenWidget::resizeEvent(QResizeEvent*) {
  // The viewport's new size: the model pulls the offsets back inside the new extents.
  ScrollView(screen_.Resize(viewport()->width(), viewport()->height()));
  viewport()->update();
}

// The operator moved a scroll bar (arrows, page areas, a released thumb, the wheel). The
// bars step by a line and by the client size and stop at 0 and the extent, as the model
// does, so their new value is taken as a thumb position.
void TerminalScreenWidget::scrollContentsBy(int, int) {
  if (syncingBars_) return;
  const int dx = screen_.Scroll(ScrollBar::kHorizontal, ScrollCode::kThumbPosition,
                                horizontalScrollBar()->value());
  const int dy = screen_.Scroll(ScrollBar::kVertical, ScrollCode::kThumbPosition,
                                verticalScrollBar()->value());
  ScrollView({dx, dy});
}

void TerminalScreenWidget::ScrollView(terminal::Point step) {
  if (step.x != 0 || step.y != 0) viewport()->scroll(-step.x, -step.y);
  SyncScrollBars();
  MoveTerminalCaret();
}

void TerminalScreenWidget::SyncScrollBars() {
  // Setting a range can show or hide a bar, which resizes the viewport and comes back
  // here; every value is read from the model when it is set, so the last size wins.
  const bool wasSyncing = std::exchange(syncingBars_, true);
  QScrollBar* vertical = verticalScrollBar();
  vertical->setRange(0, screen_.VerticalExtent());
  vertical->setSingleStep(screen_.LineHeight());
  vertical->setPageStep(screen_.ClientHeight());
  vertical->setValue(screen_.VerticalOffset());
  QScrollBar* horizontal = horizontalScrollBar();
  horizontal->setRange(0, screen_.HorizontalExtent());
  horizontal->setSingleStep(screen_.CharacterWidth());
  horizontal->setPageStep(screen_.ClientWidth());
  horizontal->setValue(screen_.HorizontalOffset());
  syncingBars_ = wasSyncing;
}

// Places the caret on its cell. While not connected the caret, if there is one, stays
// where it was.
void TerminalScreenWidget::MoveTerminalCaret() {
  const auto position = screen_.CaretPosition(connected_);
  if (!position || position == caret_) return;
  if (caret_) viewport()->update(CaretRect());
  caret_ = position;
  viewport()->update(CaretRect());
}

void TerminalScreenWidget::ToggleCaretBlink() {
  caretBlinkOn_ = !caretBlinkOn_;
  if (caret_) viewport()->update(CaretRect());
}

QRect TerminalScreenWidget::CaretRect() const {
  if (!caret_) return {};
  return {caret_->x, caret_->y, screen_.CharacterWidth(), screen_.LineHeight()};
}

}  // namespace tavrin::app
