#include "app/output_view.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QScrollBar>
#include <chrono>
#include <future>
#include <random>

#include "support/temp_files.h"

namespace tavrin::app {
namespace {

using namespace std::chrono_literals;

using tavrin::test::AsBytes;

TEST(OutputViewSink, ManyBlocksFromAWorkerArriveCompleteAndInOrderInOneTurn) {
  OutputView view;
  OutputViewSink sink(view);
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
      sink.Show(AsBytes(bytes), mark);
      bytesSent += bytes;
      coloursSent.insert(coloursSent.end(), bytes.size(), mark);
    }
  });
  ASSERT_EQ(worker.wait_for(20s), std::future_status::ready) << "a worker waited for the UI";
  EXPECT_EQ(view.Content().Size(), 0u);  // nothing reaches the view off the UI thread
  QCoreApplication::processEvents();     // the one posted drain
  ASSERT_EQ(view.Content().Bytes(), bytesSent);
  std::vector<ColourMark> shown(bytesSent.size(), ColourMark::kNone);
  for (const ColourSpan& span : view.Content().ColoursIn({0, bytesSent.size()})) {
    std::fill(shown.begin() + static_cast<std::ptrdiff_t>(span.range.start),
              shown.begin() + static_cast<std::ptrdiff_t>(span.range.end), span.colour);
  }
  EXPECT_EQ(shown, coloursSent);
}

// A script of sink calls: a letter shows itself, 'C' clears, 'D' lets the UI thread
// drain; the view's text at the end.
struct ClearRow {
  const char* script;
  const char* shown;
};

class SinkClearTest : public ::testing::TestWithParam<ClearRow> {};

TEST_P(SinkClearTest, TextBeforeAClearNeverComesBack) {
  OutputView view;
  OutputViewSink sink(view);
  for (const char* step = GetParam().script; *step != '\0'; ++step) {
    if (*step == 'C') {
      sink.ClearOutput();
    } else if (*step == 'D') {
      QCoreApplication::processEvents();
    } else {
      sink.Show(AsBytes(std::string_view(step, 1)), ColourMark::kNone);
    }
  }
  QCoreApplication::processEvents();
  EXPECT_EQ(view.Content().Bytes(), GetParam().shown);
}

INSTANTIATE_TEST_SUITE_P(Scripts, SinkClearTest,
                         ::testing::Values(ClearRow{"abCcd", "cd"}, ClearRow{"abDCcd", "cd"},
                                           ClearRow{"CabDcd", "abcd"}));

TEST(OutputView, ReportBlocksAreRedAndBlueAndLaterTextAutomatic) {
  OutputView view;
  view.Append(AsBytes("plain text\r\n"), ColourMark::kNone);
  view.Append(AsBytes("FAILED BLOCK\r\n"), ColourMark::kRed);
  view.Append(AsBytes("SUCCESS BLOCK\r\n"), ColourMark::kBlue);
  view.Append(AsBytes("after"), ColourMark::kNone);
  const QColor automatic = view.palette().color(QPalette::Text);
  EXPECT_EQ(view.ColourAt(0), automatic);
  EXPECT_EQ(view.ColourAt(12), QColor(255, 0, 0));
  EXPECT_EQ(view.ColourAt(26), QColor(0, 0, 255));
  EXPECT_EQ(view.ColourAt(41), automatic);
}

TEST(OutputView, CopyGivesTheTextAsShownWithOneBreakPerLine) {
  OutputView view;
  view.Append(AsBytes("one\r\ntwo\x11\rthree\n"), ColourMark::kNone);
  EXPECT_EQ(view.CopyText({0, view.Content().Size()}), "one\ntwo \nthree\n");
  EXPECT_EQ(view.CopyText({4, 9}), "\ntwo ");
  view.SelectAll();
  EXPECT_EQ(view.Selection(), (TextRange{0, view.Content().Size()}));
  view.Copy();
  EXPECT_EQ(QApplication::clipboard()->text(), "one\ntwo \nthree\n");
}

std::string NumberedLines(int from, int to) {
  std::string text;
  for (int i = from; i < to; ++i) text += "line " + std::to_string(i) + "\r\n";
  return text;
}

TEST(OutputView, FollowsTheEndOnlyWhileScrolledToTheBottom) {
  OutputView view;
  view.resize(300, 120);
  view.show();
  QScrollBar* bar = view.verticalScrollBar();
  view.Append(AsBytes(NumberedLines(0, 200)), ColourMark::kNone);
  EXPECT_GT(bar->maximum(), 150);
  EXPECT_EQ(bar->value(), bar->maximum());
  bar->setValue(10);  // the operator scrolls up to read
  EXPECT_FALSE(view.FollowsEnd());
  view.Append(AsBytes(NumberedLines(200, 300)), ColourMark::kNone);
  EXPECT_EQ(bar->value(), 10);
  view.SetSelection(view.Content().Line(250).start, view.Content().Line(250).end);
  EXPECT_LE(bar->value(), 250);
  EXPECT_GT(bar->value(), 200);  // the selection was brought on screen
  bar->setValue(bar->maximum());
  EXPECT_TRUE(view.FollowsEnd());
  view.Append(AsBytes(NumberedLines(300, 310)), ColourMark::kNone);
  EXPECT_EQ(bar->value(), bar->maximum());

  view.ClearText();
  EXPECT_EQ(view.Content().Size(), 0u);
  EXPECT_EQ(view.Selection(), (TextRange{0, 0}));
  EXPECT_EQ(bar->maximum(), 0);
}

}  // namespace
}  // namespace tavrin::app
