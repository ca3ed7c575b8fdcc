#include "app/terminal_screen_widget.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QScrollBar>
#include <QTest>
#include <vector>

namespace tavrin::app {
namespace {

class TerminalScreenWidgetTest : public ::testing::Test {
 protected:
  TerminalScreenWidgetTest() {
    widget.SetCharSink([this](std::uint8_t byte) {
      sent.push_back(byte);
      return accept;
    });
    widget.resize(320, 240);
    widget.show();
  }

  void Focus(QEvent::Type type) {
    QFocusEvent event(type, Qt::OtherFocusReason);
    QApplication::sendEvent(&widget, &event);
  }

  TerminalScreenWidget widget;
  std::vector<std::uint8_t> sent;
  bool accept = true;
};

TEST_F(TerminalScreenWidgetTest, TypedKeysReachTheSinkOneByOneOnlyWhileConnected) {
  QTest::keyClicks(&widget, "ab");
  EXPECT_TRUE(sent.empty());

  widget.SetConnected(true);
  QTest::keyClicks(&widget, "ab");
  accept = false;                            // a dropped character does not stop the next one
  QTest::keyClick(&widget, Qt::Key_Tab);     // a character, not a focus move
  QTest::keyClick(&widget, Qt::Key_Delete);  // sends nothing
  QTest::keyClick(&widget, Qt::Key_Return);
  EXPECT_EQ(sent, (std::vector<std::uint8_t>{'a', 'b', 0x09, 0x0D}));
  accept = true;
  // A character beyond Latin-1 sends its low byte, one byte a character (U+20AC, U+1F642).
  for (const char* text : {"\u20AC", "\U0001F642"}) {
    QKeyEvent key(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString::fromUtf8(text));
    QApplication::sendEvent(&widget, &key);
  }
  EXPECT_EQ(sent, (std::vector<std::uint8_t>{'a', 'b', 0x09, 0x0D, 0xAC, 0x42}));

  widget.SetConnected(false);
  QTest::keyClick(&widget, Qt::Key_C);
  EXPECT_EQ(sent.size(), 6u);
}

TEST_F(TerminalScreenWidgetTest, KeysAndScrollBarsMoveTheModelsOffsets) {
  const terminal::TerminalScreen& screen = widget.Screen();
  ASSERT_GT(screen.VerticalExtent(), 0);
  ASSERT_GT(screen.HorizontalExtent(), 0);
  EXPECT_EQ(screen.ClientHeight(), widget.viewport()->height());

  QTest::keyClick(&widget, Qt::Key_PageDown);
  EXPECT_EQ(screen.VerticalOffset(), screen.ClientHeight());
  QTest::keyClick(&widget, Qt::Key_End);
  EXPECT_EQ(screen.VerticalOffset(), screen.VerticalExtent());
  EXPECT_EQ(widget.verticalScrollBar()->value(), screen.VerticalExtent());

  widget.verticalScrollBar()->triggerAction(QAbstractSlider::SliderPageStepSub);
  EXPECT_EQ(screen.VerticalOffset(), screen.VerticalExtent() - screen.ClientHeight());
  widget.verticalScrollBar()->setValue(7);  // a thumb let go
  EXPECT_EQ(screen.VerticalOffset(), 7);

  QTest::keyClick(&widget, Qt::Key_Right);
  // Wide enough for every column: nothing left to scroll sideways, and the offset comes
  // back to 0.
  widget.resize(terminal::kScreenColumns * screen.CharacterWidth() + 40, 240);
  QApplication::processEvents();  // the bar is hidden on the next layout pass
  EXPECT_EQ(screen.HorizontalOffset(), 0);
  EXPECT_EQ(screen.ClientWidth(), widget.viewport()->width());
}

TEST_F(TerminalScreenWidgetTest, TheCaretComesWithFocusWhileConnectedAndClearMovesIt) {
  Focus(QEvent::FocusIn);
  EXPECT_FALSE(widget.Screen().CaretShown());
  Focus(QEvent::FocusOut);

  widget.SetConnected(true);
  Focus(QEvent::FocusIn);
  EXPECT_TRUE(widget.Screen().CaretShown());
  widget.ClearScreen();
  EXPECT_EQ(widget.Screen().CursorRow(), 499);
  Focus(QEvent::FocusOut);
  EXPECT_FALSE(widget.Screen().CaretShown());
}

}  // namespace
}  // namespace tavrin::app
