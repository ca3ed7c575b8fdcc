#include "app/line_input_box.h"

#include <QKeyEvent>
#include <QTextBlock>

#include "app/command_ids.h"
#include "app/main_menu.h"
#include "terminal/line_input.h"

namespace tavrin::app {

namespace {

constexpr char16_t kFirstNonAscii = 0x80;

}  // namespace

std::string LineInputBytes(const QString& line) {
  const qsizetype taken =
      std::min<qsizetype>(line.size(), static_cast<qsizetype>(terminal::kLineInputMaxChars));
  std::string bytes;
  bytes.reserve(static_cast<std::size_t>(taken));
  for (qsizetype i = 0; i < taken; ++i) {
    const char16_t c = line.at(i).unicode();
    bytes.push_back(static_cast<char>(c < kFirstNonAscii ? c : kFirstNonAscii));
  }
  return bytes;
}

LineInputBox::LineInputBox(QWidget* parent, std::function<bool()> connected,
                           std::function<bool(std::span<const std::uint8_t>)> send)
    : QPlainTextEdit(parent), connected_(std::move(connected)), send_(std::move(send)) {
  setObjectName(QStringLiteral("edit%1").arg(kLineInputId));
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
}

bool LineInputBox::event(QEvent* event) {
  if (event->type() == QEvent::ShortcutOverride &&
      IsAcceleratorKey(static_cast<QKeyEvent*>(event)->keyCombination())) {
    event->ignore();  // the window's shortcut takes the key
    return true;
  }
  return QPlainTextEdit::event(event);
}

void LineInputBox::keyPressEvent(QKeyEvent* event) {
  const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
  if (enter && !(event->modifiers() & ~Qt::KeypadModifier)) SendCaretLine();
  QPlainTextEdit::keyPressEvent(event);
}

void LineInputBox::SendCaretLine() {
  if (!connected_ || !connected_()) return;
  const QTextCursor cursor = textCursor();
  const QTextBlock block = document()->findBlock(cursor.selectionStart());
  const std::vector<std::uint8_t> bytes = terminal::EncodeInputLine(LineInputBytes(block.text()));
  if (send_) send_(bytes);
}

}  // namespace tavrin::app
