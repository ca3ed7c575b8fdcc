// The output window (control 130): a read-only view of everything the target printed and
// every transfer report, exactly as the capture file holds it, report blocks in red
// (255, 0, 0) or blue (0, 0, 255) and everything else in the automatic colour, in the
// face "Arial" (or the nearest sans-serif face the desktop has).
//
// A view of its own rather than a text editor widget: a target that prints without pause
// for days fills the capture with gigabytes, and an editor's document keeps several times
// the text in memory and lays all of it out again and again. This one keeps no copy of
// the text at all: it reads what it shows from the capture file, through the compact
// index of OutputText, lays out only the lines on screen, and scrolls by lines. Find and
// Copy read the file in pieces; a long one shows its progress and can be stopped.
//
// It follows the end while it is scrolled to the bottom; an operator who scrolled up to
// read keeps the place, and new text never takes the operator's selection away.
//
// Captured blocks reach it through OutputViewSink, from any thread, as lengths: the bytes
// are in the file. Everything else is UI thread only.
#pragma once

#include <QAbstractScrollArea>
#include <QFont>
#include <QPointer>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "app/output_text.h"
#include "terminal/output_sink.h"

class QTextLayout;

namespace tavrin::app {

inline constexpr int kOutputWindowId = 130;

// One queued piece of output: the next `length` bytes of the capture file in a colour, an
// emptying of the window, or the capture file the next blocks are read from.
struct OutputBlock {
  enum class Kind : std::uint8_t { kText, kClear, kFile };
  Kind kind = Kind::kText;
  std::size_t length = 0;
  ColourMark colour = ColourMark::kNone;
  std::shared_ptr<const CaptureReader> file;  // kFile
};

// Copies and searches of more than this many bytes show their progress (after a moment)
// and can be stopped.
inline constexpr std::size_t kLongWorkBytes = 8 * 1024 * 1024;

// The colours blocks are shown in; kNone gives `automatic` (the palette's text colour).
QColor BlockColour(ColourMark colour, const QColor& automatic);

// The face list of the view: "Arial", then faces of the same metrics, then any
// sans-serif face; the size stays the desktop's.
QFont OutputFont();

class OutputView final : public QAbstractScrollArea {
  Q_OBJECT

 public:
  explicit OutputView(QWidget* parent = nullptr);
  ~OutputView() override;

  // Applies queued output in order: text is indexed, a clear empties the view, a file
  // is where the text after it is read from. The screen is brought up to date once,
  // after the last block.
  void ApplyBlocks(std::vector<OutputBlock>&& blocks);

  const OutputText& Content() const { return text_; }
  // The text of `range` as Copy puts it on the clipboard: characters as shown, each line
  // break (CR, LF or CR LF) as one LF. `progress` (bytes done, bytes in all) is called
  // between pieces; false stops the copy and gives nullopt.
  std::optional<QString> CopyText(
      TextRange range, const std::function<bool(std::size_t, std::size_t)>& progress = {}) const;

  // The selection as a byte range (start <= end); empty when nothing is selected.
  TextRange Selection() const;
  // Selects [start, end) (clamped to the text) and scrolls it into view.
  void SetSelection(std::size_t start, std::size_t end);
  void SelectAll();
  // Puts the selection on the clipboard (nothing when the selection is empty). A long
  // copy shows a progress box that can stop it.
  void Copy();

  // Progress of a long piece of work: bytes done, bytes in all; false: stop.
  using WorkProgress = std::function<bool(std::size_t, std::size_t)>;
  // Runs `work` with a progress box over the window that shows up when the work takes
  // longer than a moment (with a busy cursor meanwhile); the box's Cancel makes the
  // progress callback return false. The event loop runs between the pieces, so the
  // window stays alive, and the box keeps the operator from changing the text meanwhile.
  // False when the work was stopped or the text was emptied all the same.
  bool RunLong(const QString& label, const std::function<void(const WorkProgress&)>& work);

  // The colour the byte at `offset` is drawn in.
  QColor ColourAt(std::size_t offset) const;
  // True while the view keeps the end of the text in sight as text arrives.
  bool FollowsEnd() const { return followEnd_; }
  void ScrollToEnd();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;
  void wheelEvent(QWheelEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  // A place in the view: a line and how many of its wrapped rows are above the top.
  struct Position {
    std::size_t line = 0;
    int row = 0;
    auto operator<=>(const Position&) const = default;
  };

  QTextLayout& LayoutOf(std::size_t line) const;
  void DropLayoutsFrom(std::size_t line);
  void DropLayoutsOutside(std::size_t first) const;
  int VisibleRows() const;
  int TextWidth() const;
  int RowsOf(std::size_t line) const;
  Position EndPosition() const;
  void UpdateScrollRange();
  void SetTop(Position top);
  void ScrollRows(int rows);
  void ScrollIntoView(std::size_t offset);
  std::size_t OffsetAt(QPoint point) const;
  void SetSelectionEnds(std::size_t anchor, std::size_t cursor);
  void AfterTextChanged(std::size_t firstChangedLine);

  OutputText text_;
  QFont font_;
  Position top_;
  bool followEnd_ = true;
  std::size_t anchor_ = 0;  // where the selection began
  std::size_t cursor_ = 0;  // where it ends (the moving end)
  bool selecting_ = false;
  int wheelTurn_ = 0;  // wheel angle not yet turned into rows
  int layoutWidth_ = -1;
  // The laid-out lines, only those on (or next to) the screen.
  mutable std::unordered_map<std::size_t, std::unique_ptr<QTextLayout>> layouts_;
};

// Shows what the capture log hands over in the output view. Show(), ClearOutput() and
// UseCaptureFile() are called on the reader/status and transfer threads and on the UI
// thread, one at a time, in the capture file's order: they queue the length of each
// block (the view reads the bytes from the file) and never wait for the UI thread, so
// the queue stays small however far the UI thread falls behind. The first block queued
// after a drain posts one drain to the UI thread, so everything that arrives within one
// turn of the event loop becomes one update of the view; nothing is lost or reordered,
// and a clear is queued like a block, so text shown before a Clear never comes back
// after it.
//
// Created, drained and destroyed on the UI thread; the threads that call Show() must
// have stopped before it is destroyed.
class OutputViewSink final : public QObject, public terminal::OutputSink {
  Q_OBJECT

 public:
  explicit OutputViewSink(OutputView& view, QObject* parent = nullptr);

  void Show(std::span<const std::uint8_t> bytes, ColourMark colour) override;
  void ClearOutput() override;
  void UseCaptureFile(std::shared_ptr<const CaptureReader> file) override;

  // UI thread: applies everything queued so far (the posted drain calls this too).
  void Drain();

 private:
  void Queue(OutputBlock block);

  QPointer<OutputView> view_;
  std::mutex mutex_;  // guards pending_ and drainPosted_; never held across UI work
  std::vector<OutputBlock> pending_;
  bool drainPosted_ = false;
};

}  // namespace tavrin::app
