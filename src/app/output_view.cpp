#include "app/output_view.h"

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QPainter>
#include <QProgressDialog>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QTextLayout>
#include <algorithm>
#include <limits>

namespace tavrin::app {
namespace {

constexpr int kMargin = 2;                       // pixels between the frame and the text
constexpr int kWheelStep = 120;                  // angle delta of one wheel notch
constexpr std::size_t kKeptLayouts = 64;         // laid-out lines kept beyond the screen
constexpr std::size_t kCopyChunk = 1024 * 1024;  // bytes a copy reads at a time
constexpr int kProgressSteps = 1000;
constexpr int kProgressDelayMs = 500;  // a quick piece of work shows no progress box
const QColor kRed{255, 0, 0};
const QColor kBlue{0, 0, 255};

qreal LayoutHeight(const QTextLayout& layout) {
  if (layout.lineCount() == 0) return 0;
  const QTextLine last = layout.lineAt(layout.lineCount() - 1);
  return last.y() + last.height();
}

// The scroll bar counts lines, as far as its int goes.
int BarValue(std::size_t line) {
  return static_cast<int>(std::min<std::size_t>(line, std::numeric_limits<int>::max()));
}

bool IsWordChar(std::uint8_t byte) {
  const QChar c(DisplayChar(byte));
  return c.isLetterOrNumber() || c == QLatin1Char('_');
}

}  // namespace

QColor BlockColour(ColourMark colour, const QColor& automatic) {
  switch (colour) {
    case ColourMark::kRed:
      return kRed;
    case ColourMark::kBlue:
      return kBlue;
    case ColourMark::kNone:
      break;
  }
  return automatic;
}

QFont OutputFont() {
  QFont font = QApplication::font();
  font.setFamilies({QStringLiteral("Arial"), QStringLiteral("Liberation Sans"),
                    QStringLiteral("Arimo"), QStringLiteral("Helvetica")});
  font.setStyleHint(QFont::SansSerif);
  font.setBold(false);
  font.setItalic(false);
  font.setUnderline(false);
  return font;
}

OutputView::OutputView(QWidget* parent) : QAbstractScrollArea(parent) {
  setObjectName(QString::number(kOutputWindowId));
  setFont(OutputFont());
  font_ = font();
  setFocusPolicy(Qt::StrongFocus);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  // The scroll bar stays (grayed) when there is nothing to scroll.
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  viewport()->setCursor(Qt::IBeamCursor);
  viewport()->setBackgroundRole(QPalette::Base);
  viewport()->setAutoFillBackground(true);
}

OutputView::~OutputView() = default;

void OutputView::ApplyBlocks(std::vector<OutputBlock>&& blocks) {
  if (blocks.empty()) return;
  std::size_t firstChanged = text_.LineCount() - 1;  // the last line may grow
  for (OutputBlock& block : blocks) {
    switch (block.kind) {
      case OutputBlock::Kind::kClear:
      case OutputBlock::Kind::kFile:
        // A file comes with an empty capture (at start and after a clear): the text is
        // read from it from now on.
        if (block.kind == OutputBlock::Kind::kFile) {
          text_.SetFile(std::move(block.file));
        } else {
          text_.Clear();
        }
        layouts_.clear();
        anchor_ = cursor_ = 0;
        top_ = {};
        followEnd_ = true;
        firstChanged = 0;
        break;
      case OutputBlock::Kind::kText:
        text_.Append(block.length, block.colour);
        break;
    }
  }
  AfterTextChanged(firstChanged);
}

void OutputView::AfterTextChanged(std::size_t firstChangedLine) {
  DropLayoutsFrom(firstChangedLine);
  anchor_ = std::min(anchor_, text_.Size());
  cursor_ = std::min(cursor_, text_.Size());
  UpdateScrollRange();
  viewport()->update();
}

std::optional<QString> OutputView::CopyText(
    TextRange range, const std::function<bool(std::size_t, std::size_t)>& progress) const {
  range.end = std::min(range.end, text_.Size());
  range.start = std::min(range.start, range.end);
  QString copy;
  copy.reserve(static_cast<qsizetype>(range.Length()));
  std::vector<std::uint8_t> chunk(std::min(range.Length(), kCopyChunk) + 1);
  for (std::size_t offset = range.start; offset < range.end;) {
    if (progress && !progress(offset - range.start, range.Length())) return std::nullopt;
    // One byte more than is copied, to see whether a CR is followed by the LF of its CR LF.
    const std::size_t n = std::min(chunk.size() - 1, range.end - offset);
    const std::size_t read = text_.ReadAt(std::span(chunk).first(n + 1), offset);
    for (std::size_t i = 0; i < n; ++i) {
      const std::uint8_t byte = chunk[i];
      if (byte == '\r' || byte == '\n') {
        copy += QLatin1Char('\n');
        if (byte == '\r' && offset + i + 1 < range.end && i + 1 < read && chunk[i + 1] == '\n') ++i;
        if (i >= n) ++offset;  // the LF was the first byte of the next piece
        continue;
      }
      copy += QChar(DisplayChar(byte));
    }
    offset += n;
  }
  return copy;
}

TextRange OutputView::Selection() const {
  return {std::min(anchor_, cursor_), std::max(anchor_, cursor_)};
}

void OutputView::SetSelection(std::size_t start, std::size_t end) {
  SetSelectionEnds(std::min(start, text_.Size()), std::min(end, text_.Size()));
  ScrollIntoView(Selection().start);
}

void OutputView::SelectAll() {
  setFocus();
  SetSelectionEnds(0, text_.Size());
}

void OutputView::Copy() {
  const TextRange selection = Selection();
  if (selection.Length() == 0) return;
  std::optional<QString> copy;
  if (selection.Length() <= kLongWorkBytes) {
    copy = CopyText(selection);
  } else {
    if (!RunLong(tr("Copying..."),
                 [&](const WorkProgress& progress) { copy = CopyText(selection, progress); })) {
      copy.reset();
    }
  }
  if (copy) QApplication::clipboard()->setText(*copy);
}

QColor OutputView::ColourAt(std::size_t offset) const {
  return BlockColour(text_.ColourAt(offset), palette().color(QPalette::Text));
}

bool OutputView::RunLong(const QString& label,
                         const std::function<void(const WorkProgress&)>& work) {
  QProgressDialog box(label, tr("Cancel"), 0, kProgressSteps, window());
  box.setWindowModality(Qt::ApplicationModal);
  box.setMinimumDuration(kProgressDelayMs);
  box.setAutoClose(false);
  box.setAutoReset(false);
  QApplication::setOverrideCursor(Qt::BusyCursor);
  const std::uint64_t generation = text_.Generation();
  bool stopped = false;
  work([&](std::size_t done, std::size_t total) {
    box.setValue(
        static_cast<int>(static_cast<double>(done) / static_cast<double>(total) * kProgressSteps));
    QApplication::processEvents();
    stopped = stopped || box.wasCanceled() || text_.Generation() != generation;
    return !stopped;
  });
  QApplication::restoreOverrideCursor();
  return !stopped && text_.Generation() == generation;
}

void OutputView::ScrollToEnd() {
  SetTop(EndPosition());
}

void OutputView::SetSelectionEnds(std::size_t anchor, std::size_t cursor) {
  anchor_ = anchor;
  cursor_ = cursor;
  viewport()->update();
}

// ---- layout --------------------------------------------------------------------------

int OutputView::TextWidth() const {
  return std::max(1, viewport()->width() - 2 * kMargin);
}

// The line laid out at the view's width, with its colours; made when first needed, from
// the line's bytes in the capture file.
QTextLayout& OutputView::LayoutOf(std::size_t line) const {
  auto& slot = layouts_[line];
  if (slot) return *slot;
  const TextRange range = text_.Line(line);
  const std::string bytes = text_.Read(range);
  QString shown(static_cast<qsizetype>(bytes.size()), Qt::Uninitialized);
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    shown[static_cast<qsizetype>(i)] = QChar(DisplayChar(static_cast<std::uint8_t>(bytes[i])));
  }
  slot = std::make_unique<QTextLayout>(shown, font_, viewport());
  QTextOption option;
  option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
  slot->setTextOption(option);
  slot->setCacheEnabled(true);
  QList<QTextLayout::FormatRange> formats;
  for (const ColourSpan& span : text_.ColoursIn(range)) {
    QTextLayout::FormatRange format;
    format.start = static_cast<int>(span.range.start - range.start);
    format.length = static_cast<int>(span.range.Length());
    format.format.setForeground(BlockColour(span.colour, Qt::black));
    formats.append(format);
  }
  slot->setFormats(formats);
  slot->beginLayout();
  qreal y = 0;
  for (QTextLine row = slot->createLine(); row.isValid(); row = slot->createLine()) {
    row.setLineWidth(TextWidth());
    row.setPosition(QPointF(0, y));
    y += row.height();
  }
  slot->endLayout();
  return *slot;
}

void OutputView::DropLayoutsFrom(std::size_t line) {
  std::erase_if(layouts_, [line](const auto& entry) { return entry.first >= line; });
}

// Keeps the laid-out lines near the screen, from `first` on, and those of the last
// screenfuls (every append needs them); drops the rest, so the cache stays small however
// long the view runs, painted or not (a minimised window is never painted).
void OutputView::DropLayoutsOutside(std::size_t first) const {
  const auto keep = std::max(kKeptLayouts, 2 * static_cast<std::size_t>(VisibleRows()));
  if (layouts_.size() <= 4 * keep) return;
  const std::size_t keepFrom = first > keep ? first - keep : 0;
  const std::size_t keepTo = first + 2 * keep;
  const std::size_t tail = text_.LineCount() > keep ? text_.LineCount() - keep : 0;
  std::erase_if(layouts_, [&](const auto& entry) {
    return (entry.first < keepFrom || entry.first >= keepTo) && entry.first < tail;
  });
}

// Rows of text the view has room for (at least 1).
int OutputView::VisibleRows() const {
  return std::max(1, viewport()->height() / std::max(1, QFontMetrics(font_).height()));
}

int OutputView::RowsOf(std::size_t line) const {
  return LayoutOf(line).lineCount();
}

// The top position that shows the end of the text at the bottom of the view.
OutputView::Position OutputView::EndPosition() const {
  qreal room = viewport()->height();
  for (std::size_t line = text_.LineCount(); line-- > 0;) {
    const QTextLayout& layout = LayoutOf(line);
    const qreal height = LayoutHeight(layout);
    if (height <= room) {
      room -= height;
      continue;
    }
    for (int row = 0; row < layout.lineCount(); ++row) {
      if (height - layout.lineAt(row).y() <= room) return {line, row};
    }
    if (line + 1 < text_.LineCount()) return {line + 1, 0};
    return {line, layout.lineCount() - 1};
  }
  return {};
}

void OutputView::UpdateScrollRange() {
  const Position end = EndPosition();
  if (followEnd_ || end < top_) top_ = end;
  QScrollBar* bar = verticalScrollBar();
  const QSignalBlocker block(bar);
  bar->setRange(0, BarValue(end.line));
  bar->setPageStep(VisibleRows());
  bar->setValue(BarValue(top_.line));
  DropLayoutsOutside(top_.line);
}

void OutputView::SetTop(Position top) {
  const Position end = EndPosition();
  top_ = std::min(top, end);
  followEnd_ = top_ == end;
  const QSignalBlocker block(verticalScrollBar());
  verticalScrollBar()->setValue(BarValue(top_.line));
  viewport()->update();
}

void OutputView::ScrollRows(int rows) {
  Position p = top_;
  for (; rows > 0; --rows) {
    if (p.row + 1 < RowsOf(p.line)) {
      ++p.row;
    } else if (p.line + 1 < text_.LineCount()) {
      p = {p.line + 1, 0};
    } else {
      break;
    }
  }
  for (; rows < 0; ++rows) {
    if (p.row > 0) {
      --p.row;
    } else if (p.line > 0) {
      p = {p.line - 1, RowsOf(p.line - 1) - 1};
    } else {
      break;
    }
  }
  SetTop(p);
}

// Brings the row that holds `offset` on screen: nothing moves when it is already there,
// otherwise it comes to the middle of the view.
void OutputView::ScrollIntoView(std::size_t offset) {
  const std::size_t line = text_.LineOf(offset);
  const QTextLayout& layout = LayoutOf(line);
  const auto column = static_cast<int>(offset - text_.Line(line).start);
  const QTextLine row =
      layout.lineForTextPosition(std::min(column, static_cast<int>(layout.text().size())));
  const Position target{line, row.isValid() ? row.lineNumber() : 0};
  const int visibleRows = VisibleRows();
  if (target >= top_) {
    Position p = top_;
    for (int seen = 0; seen < visibleRows; ++seen) {
      if (p == target) return;
      if (p.row + 1 < RowsOf(p.line)) {
        ++p.row;
      } else if (p.line + 1 < text_.LineCount()) {
        p = {p.line + 1, 0};
      } else {
        break;
      }
    }
  }
  top_ = target;
  ScrollRows(-(visibleRows / 2));
}

// ---- painting and events -------------------------------------------------------------

void OutputView::paintEvent(QPaintEvent*) {
  QPainter painter(viewport());
  painter.setPen(palette().color(QPalette::Text));
  // The selection shows whether or not the view has the focus.
  QTextCharFormat selected;
  selected.setBackground(palette().brush(QPalette::Active, QPalette::Highlight));
  selected.setForeground(palette().brush(QPalette::Active, QPalette::HighlightedText));
  const TextRange selection = Selection();
  const int height = viewport()->height();
  qreal y = -LayoutOf(top_.line).lineAt(top_.row).y();
  std::size_t line = top_.line;
  for (; line < text_.LineCount() && y < height; ++line) {
    const QTextLayout& layout = LayoutOf(line);
    const TextRange range = text_.Line(line);
    QList<QTextLayout::FormatRange> selections;
    const std::size_t from = std::max(selection.start, range.start);
    const std::size_t to = std::min(selection.end, range.end);
    if (from < to) {
      selections.append(
          {static_cast<int>(from - range.start), static_cast<int>(to - from), selected});
    }
    layout.draw(&painter, QPointF(kMargin, y), selections);
    y += LayoutHeight(layout);
  }
  DropLayoutsOutside(top_.line);
}

void OutputView::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  if (TextWidth() != layoutWidth_) {
    layoutWidth_ = TextWidth();
    layouts_.clear();
    top_.row = std::min(top_.row, RowsOf(top_.line) - 1);
  }
  UpdateScrollRange();
}

void OutputView::changeEvent(QEvent* event) {
  QAbstractScrollArea::changeEvent(event);
  if (event->type() == QEvent::FontChange) {
    font_ = font();
    layouts_.clear();
    top_.row = 0;
    UpdateScrollRange();
  }
}

// The scroll bar counts lines; its end is the end of the text.
void OutputView::scrollContentsBy(int, int) {
  const Position end = EndPosition();
  const auto value = static_cast<std::size_t>(verticalScrollBar()->value());
  top_ = value >= end.line ? end : Position{value, 0};
  followEnd_ = top_ == end;
  viewport()->update();
}

void OutputView::wheelEvent(QWheelEvent* event) {
  wheelTurn_ += event->angleDelta().y();
  const int notches = wheelTurn_ / kWheelStep;
  wheelTurn_ -= notches * kWheelStep;
  ScrollRows(-notches * QApplication::wheelScrollLines());
  event->accept();
}

void OutputView::keyPressEvent(QKeyEvent* event) {
  const int pageRows = std::max(1, VisibleRows() - 1);
  if (event == QKeySequence::Copy) {
    Copy();
  } else if (event == QKeySequence::SelectAll) {
    SelectAll();
  } else if (event == QKeySequence::MoveToStartOfDocument) {
    SetTop({});
  } else if (event == QKeySequence::MoveToEndOfDocument) {
    ScrollToEnd();
  } else if (event->key() == Qt::Key_Up) {
    ScrollRows(-1);
  } else if (event->key() == Qt::Key_Down) {
    ScrollRows(1);
  } else if (event->key() == Qt::Key_PageUp) {
    ScrollRows(-pageRows);
  } else if (event->key() == Qt::Key_PageDown) {
    ScrollRows(pageRows);
  } else {
    event->ignore();  // typed characters go on to the main window
  }
}

// The byte offset under `point` of the viewport; above the text the first shown
// character, below it the end of the text.
std::size_t OutputView::OffsetAt(QPoint point) const {
  qreal y = -LayoutOf(top_.line).lineAt(top_.row).y();
  for (std::size_t line = top_.line; line < text_.LineCount(); ++line) {
    const QTextLayout& layout = LayoutOf(line);
    const qreal height = LayoutHeight(layout);
    if (point.y() < y + height || line + 1 == text_.LineCount()) {
      int rowIndex = top_.line == line ? top_.row : 0;
      for (; rowIndex + 1 < layout.lineCount(); ++rowIndex) {
        const QTextLine row = layout.lineAt(rowIndex);
        if (point.y() < y + row.y() + row.height()) break;
      }
      const QTextLine row = layout.lineAt(rowIndex);
      const int column = row.xToCursor(point.x() - kMargin);
      return text_.Line(line).start + static_cast<std::size_t>(std::max(0, column));
    }
    y += height;
  }
  return text_.Size();
}

void OutputView::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return QAbstractScrollArea::mousePressEvent(event);
  setFocus(Qt::MouseFocusReason);
  const std::size_t offset = OffsetAt(event->position().toPoint());
  if (event->modifiers() & Qt::ShiftModifier) {
    SetSelectionEnds(anchor_, offset);
  } else {
    SetSelectionEnds(offset, offset);
  }
  selecting_ = true;
}

void OutputView::mouseMoveEvent(QMouseEvent* event) {
  if (!selecting_) return;
  const QPoint point = event->position().toPoint();
  if (point.y() < 0) ScrollRows(-1);
  if (point.y() > viewport()->height()) ScrollRows(1);
  SetSelectionEnds(anchor_, OffsetAt(point));
}

void OutputView::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return QAbstractScrollArea::mouseReleaseEvent(event);
  selecting_ = false;
  // The text dragged over is offered as the desktop's selection too, when it is a
  // quick copy; a longer one goes to the clipboard by Copy only.
  QClipboard* clipboard = QApplication::clipboard();
  const TextRange selection = Selection();
  if (selection.Length() > 0 && selection.Length() <= kLongWorkBytes &&
      clipboard->supportsSelection()) {
    clipboard->setText(CopyText(selection).value_or(QString()), QClipboard::Selection);
  }
}

void OutputView::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  // A word never spans two lines: the line's bytes are enough.
  const std::size_t offset = OffsetAt(event->position().toPoint());
  const TextRange line = text_.Line(text_.LineOf(offset));
  const std::string bytes = text_.Read(line);
  std::size_t start = offset - line.start;
  std::size_t end = std::min(start, bytes.size());
  start = end;
  while (start > 0 && IsWordChar(static_cast<std::uint8_t>(bytes[start - 1]))) --start;
  while (end < bytes.size() && IsWordChar(static_cast<std::uint8_t>(bytes[end]))) ++end;
  SetSelectionEnds(line.start + start, line.start + end);
}

}  // namespace tavrin::app
