// Standard error of a run: messages from any thread, each written whole, and while the
// ports run a progress board of one line per port kept below them (only on a terminal).
// A message written while the board is shown goes above it, and the board is drawn
// again under it. When stdout is the same terminal, whole lines meant for stdout go
// through the console too (Out), so that the board's redraw never erases them and they
// never leave a board behind that the next redraw would miss.
//
// Threads: every call from any thread; one lock orders them.
#pragma once

#include <cstdio>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace tavrin::cli {

class Console {
 public:
  // `board`: the progress board is drawn (stderr is a terminal). `sharedStdout`: the
  // stream for stdout's lines when it is the board's terminal too (null: it is not).
  explicit Console(bool board, std::FILE* out = stderr, std::FILE* sharedStdout = nullptr)
      : out_(out), stdout_(sharedStdout), board_(board) {}

  bool Board() const { return board_; }
  // Writes `text` as it is; it brings its own line end.
  void Write(std::string_view text);
  // Writes `line` and a line feed.
  void Line(std::string_view line) { Write(std::string(line) + "\n"); }
  // Whether whole lines for stdout must go through Out.
  bool SharesStdout() const { return stdout_ != nullptr; }
  // Writes whole lines `text` to stdout, above the board.
  void Out(std::string_view text);
  // Draws the board with these lines in place of the last ones (nothing without a board).
  void ShowBoard(std::vector<std::string> lines);
  // Leaves the board as it was last drawn, above whatever comes next.
  void EndBoard();

 private:
  void EraseLocked();
  void DrawLocked();

  std::mutex mutex_;
  std::FILE* out_;
  std::FILE* stdout_;
  const bool board_;
  std::vector<std::string> lines_;
  std::size_t drawn_ = 0;  // board lines on the screen now, the cursor just below them
};

}  // namespace tavrin::cli
