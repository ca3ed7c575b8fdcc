#include "app/output_view.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QScrollBar>
#include <chrono>
#include <future>
#include <random>

#include "capture_view_support.h"
#include "support/temp_files.h"

namespace tavrin::app {
namespace {

using namespace std::chrono_literals;

using tavrin::test::AsBytes;
using testing::CapturedView;

TEST(OutputViewSink, ManyBlocksFromAWorkerArriveCompleteAndInOrderInOneTurn) {
  CapturedView capture;
  std::string bytesSent;
  std::vector<ColourMark> coloursSent;  // one a byte
  // The UI thread runs no events meanwhile: a Show() that waited for it fails the bound.
  auto worker = std::async(std::launch::async, [&] {
    std::mt19937 random(7);
    std::uniform_int_distribution<int> size(1, 3000);
    std::uniform_int_distribution<int> colour(0, 9);
    for (int block = 0; block < 2000; ++block) {
      std::string bytes(static_cast<std::size_t>(size(random)), '\0');
      for (auto& c : bytes) c = static_cast<char>(random());
      const int pick = colour(random);
      const ColourMark mark =
          pick == 0 ? ColourMark::kRed : (pick == 1 ? ColourMark::kBlue : ColourMark::kNone);
      capture.log.WriteToCapture(AsBytes(bytes), mark);
      bytesSent += bytes;
      coloursSent.insert(coloursSent.end(), bytes.size(), mark);
    }
  });
  ASSERT_EQ(worker.wait_for(20s), std::future_status::ready) << "a worker waited for the UI";
  EXPECT_EQ(capture.view.Content().Size(), 0u);  // nothing reaches the view off the UI thread
  QCoreApplication::processEvents();             // the one posted drain
  ASSERT_EQ(capture.Shown(), bytesSent);
  std::vector<ColourMark> shown(bytesSent.size(), ColourMark::kNone);
  for (const ColourSpan& span : capture.view.Content().ColoursIn({0, bytesSent.size()})) {
    std::fill(shown.begin() + static_cast<std::ptrdiff_t>(span.range.start),
              shown.begin() + static_cast<std::ptrdiff_t>(span.range.end), span.colour);
  }
  EXPECT_EQ(shown, coloursSent);
}

// A script of capture calls: a letter is appended, 'C' clears, 'D' lets the UI thread
// drain; the view's text at the end.
struct ClearRow {
  const char* script;
  const char* shown;
};

class SinkClearTest : public ::testing::TestWithParam<ClearRow> {};

TEST_P(SinkClearTest, TextBeforeAClearNeverComesBack) {
  CapturedView capture;
  for (const char* step = GetParam().script; *step != '\0'; ++step) {
    if (*step == 'C') {
      capture.log.Clear();
    } else if (*step == 'D') {
      QCoreApplication::processEvents();
    } else {
      capture.log.WriteToCapture(AsBytes(std::string_view(step, 1)), ColourMark::kNone);
    }
  }
  QCoreApplication::processEvents();
  EXPECT_EQ(capture.Shown(), GetParam().shown);
  EXPECT_EQ(capture.view.Content().Size(), capture.log.StreamOffset());
}

INSTANTIATE_TEST_SUITE_P(Scripts, SinkClearTest,
                         ::testing::Values(ClearRow{"abCcd", "cd"}, ClearRow{"abDCcd", "cd"},
                                           ClearRow{"CabDcd", "abcd"}, ClearRow{"abDCDCcd", "cd"},
                                           ClearRow{"abCCDcd", "cd"}));

TEST(OutputView, ReportBlocksAreRedAndBlueAndLaterTextAutomatic) {
  CapturedView capture;
  capture.Add("plain text\r\n");
  capture.Add("FAILED BLOCK\r\n", ColourMark::kRed);
  capture.Add("SUCCESS BLOCK\r\n", ColourMark::kBlue);
  capture.Add("after");
  const OutputView& view = capture.view;
  const QColor automatic = view.palette().color(QPalette::Text);
  EXPECT_EQ(view.ColourAt(0), automatic);
  EXPECT_EQ(view.ColourAt(12), QColor(255, 0, 0));
  EXPECT_EQ(view.ColourAt(26), QColor(0, 0, 255));
  EXPECT_EQ(view.ColourAt(41), automatic);
}

TEST(OutputView, CopyGivesTheTextAsShownWithOneBreakPerLine) {
  CapturedView capture;
  OutputView& view = capture.view;
  capture.Add("one\r\ntwo\x11\rthree\n");
  EXPECT_EQ(view.CopyText({0, view.Content().Size()}), "one\ntwo \nthree\n");
  EXPECT_EQ(view.CopyText({4, 9}), "\ntwo ");
  view.SelectAll();
  EXPECT_EQ(view.Selection(), (TextRange{0, view.Content().Size()}));
  view.Copy();
  EXPECT_EQ(QApplication::clipboard()->text(), "one\ntwo \nthree\n");
}

// Copy reads the file in pieces of 1 MiB: a CR LF across two pieces is still one break.
TEST(OutputView, CopyKeepsACrLfAcrossTwoPiecesOneBreak) {
  constexpr std::size_t kPiece = 1024 * 1024;
  CapturedView capture;
  capture.Add(std::string(kPiece - 1, 'a') + "\r\nb");
  const std::optional<QString> copy = capture.view.CopyText({kPiece - 2, kPiece + 2});
  EXPECT_EQ(copy, QStringLiteral("a\nb"));
  int calls = 0;
  const auto stop = capture.view.CopyText({0, kPiece + 2}, [&](std::size_t, std::size_t) {
    return ++calls < 2;  // the operator stops it after the first piece
  });
  EXPECT_EQ(stop, std::nullopt);
}

// A copy longer than kLongWorkBytes runs in pieces, with the event loop turning between
// them (and a progress box after a moment); it still gives all of the text.
TEST(OutputView, SelectAllAndCopyOfALongCaptureGiveAllOfIt) {
  CapturedView capture;
  const std::string line = std::string(97, 'x') + "\x17\r\n";  // shown as 97 x, a blank, LF
  const std::size_t lines = kLongWorkBytes / line.size() + 1000;
  std::string block;
  for (std::size_t i = 0; i < lines; ++i) {
    block += line;
    if (block.size() > 1000000 || i + 1 == lines) {
      capture.log.WriteToCapture(AsBytes(block), ColourMark::kNone);
      block.clear();
    }
  }
  QCoreApplication::processEvents();
  ASSERT_GT(capture.view.Content().Size(), kLongWorkBytes);
  capture.view.SelectAll();
  capture.view.Copy();
  const QString copied = QApplication::clipboard()->text();
  ASSERT_EQ(static_cast<std::size_t>(copied.size()), lines * 99);
  const QString shownLine = QString(97, QLatin1Char('x')) + QStringLiteral(" \n");
  EXPECT_EQ(copied.left(99), shownLine);
  EXPECT_EQ(copied.right(99), shownLine);
  EXPECT_EQ(copied.count(QLatin1Char('\n')), static_cast<qsizetype>(lines));
}

std::string NumberedLines(int from, int to) {
  std::string text;
  for (int i = from; i < to; ++i) text += "line " + std::to_string(i) + "\r\n";
  return text;
}

TEST(OutputView, FollowsTheEndOnlyWhileScrolledToTheBottom) {
  CapturedView capture;
  OutputView& view = capture.view;
  view.resize(300, 120);
  view.show();
  QScrollBar* bar = view.verticalScrollBar();
  capture.Add(NumberedLines(0, 200));
  EXPECT_GT(bar->maximum(), 150);
  EXPECT_EQ(bar->value(), bar->maximum());
  bar->setValue(10);  // the operator scrolls up to read
  EXPECT_FALSE(view.FollowsEnd());
  capture.Add(NumberedLines(200, 300));
  EXPECT_EQ(bar->value(), 10);
  view.SetSelection(view.Content().Line(250).start, view.Content().Line(250).end);
  EXPECT_LE(bar->value(), 250);
  EXPECT_GT(bar->value(), 200);  // the selection was brought on screen
  bar->setValue(bar->maximum());
  EXPECT_TRUE(view.FollowsEnd());
  capture.Add(NumberedLines(300, 310));
  EXPECT_EQ(bar->value(), bar->maximum());

  capture.Clear();
  EXPECT_EQ(view.Content().Size(), 0u);
  EXPECT_EQ(view.Selection(), (TextRange{0, 0}));
  EXPECT_EQ(bar->maximum(), 0);
  capture.Add("after\r\n");
  EXPECT_EQ(capture.Shown(), "after\r\n");  // read from the new file
}

void Press(OutputView& view, int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
  QKeyEvent press(QEvent::KeyPress, key, modifiers);
  QApplication::sendEvent(&view, &press);
}

// Many thousand lines: most of their blocks of lines are found again from the file when
// the view scrolls back to them.
TEST(OutputView, ScrollsThroughACaptureFarLargerThanTheScreen) {
  constexpr int kLines = 200000;
  CapturedView capture;
  OutputView& view = capture.view;
  view.resize(400, 200);
  view.show();
  for (int from = 0; from < kLines; from += 5000) capture.Add(NumberedLines(from, from + 5000));
  const OutputText& text = view.Content();
  ASSERT_EQ(text.LineCount(), static_cast<std::size_t>(kLines) + 1);
  QScrollBar* bar = view.verticalScrollBar();
  EXPECT_EQ(bar->value(), bar->maximum());

  Press(view, Qt::Key_Home, Qt::ControlModifier);
  EXPECT_EQ(bar->value(), 0);
  EXPECT_FALSE(view.FollowsEnd());
  Press(view, Qt::Key_PageDown);
  EXPECT_GT(bar->value(), 0);
  bar->setValue(123456);
  view.repaint();
  EXPECT_EQ(text.Read(text.Line(123456)), "line 123456");
  // Lines asked for in an order that keeps few blocks in the cache still come out right.
  for (const int line : {199999, 3, 150000, 77, 199998, 100001, 0, 65535}) {
    EXPECT_EQ(text.Read(text.Line(static_cast<std::size_t>(line))), "line " + std::to_string(line));
    EXPECT_EQ(text.LineOf(text.Line(static_cast<std::size_t>(line)).end + 1),
              static_cast<std::size_t>(line));  // the LF of its CR LF
  }
  Press(view, Qt::Key_End, Qt::ControlModifier);
  EXPECT_EQ(bar->value(), bar->maximum());
  EXPECT_TRUE(view.FollowsEnd());
}

}  // namespace
}  // namespace tavrin::app
