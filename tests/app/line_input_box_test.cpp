// Enter in the line input box: what goes to the target, and the line break it always gets.
#include <gtest/gtest.h>

#include <QKeyEvent>
#include <QTest>

#include "app/line_input_box.h"

namespace tavrin::app {
namespace {

struct EnterRow {
  const char* name;
  QString text;  // the box's text; the caret ends up at its end
  bool connected;
  std::string expected;  // bytes sent ("" : nothing)
};

void PrintTo(const EnterRow& row, std::ostream* os) {
  *os << row.name;
}

class LineInputEnter : public ::testing::TestWithParam<EnterRow> {};

TEST_P(LineInputEnter, SendsTheCaretLineAndInsertsALineBreak) {
  const EnterRow& row = GetParam();
  std::vector<std::string> sent;
  LineInputBox box(
      nullptr, [&] { return row.connected; },
      [&](std::span<const std::uint8_t> bytes) {
        sent.emplace_back(bytes.begin(), bytes.end());
        return true;
      });
  box.setPlainText(row.text);
  box.moveCursor(QTextCursor::End);
  QTest::keyClick(&box, Qt::Key_Return);
  if (row.expected.empty()) {
    EXPECT_TRUE(sent.empty());
  } else {
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0], row.expected);
  }
  EXPECT_EQ(box.toPlainText(), row.text + "\n");
}

INSTANTIATE_TEST_SUITE_P(
    LineInputBox, LineInputEnter,
    ::testing::Values(
        EnterRow{"Plain", "reboot", true, "reboot\r"}, EnterRow{"Empty", "", true, "\r"},
        EnterRow{"LastLineOnly", "first\nsecond", true, "second\r"},
        EnterRow{"First80Of100", QString(100, 'a'), true, std::string(80, 'a') + "\r"},
        EnterRow{"CutAtTopBitCharacter",
                 QString::fromUtf8("ab\xc3\xa9"
                                   "cd"),
                 true, "ab\r"},
        EnterRow{"CutAtNonLatinCharacter", QString::fromUtf8("ok\xe2\x82\xac!"), true, "ok\r"},
        EnterRow{"NotConnectedSendsNothing", "reboot", false, ""}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(LineInputBox, TheLineWhereTheSelectionStartsIsSent) {
  std::string sent;
  LineInputBox box(
      nullptr, [] { return true; },
      [&](std::span<const std::uint8_t> bytes) {
        sent.assign(bytes.begin(), bytes.end());
        return true;
      });
  box.setPlainText("one\ntwo\nthree");
  QTextCursor cursor = box.textCursor();
  cursor.setPosition(5);  // in "two"
  cursor.setPosition(10, QTextCursor::KeepAnchor);
  box.setTextCursor(cursor);
  QTest::keyClick(&box, Qt::Key_Enter, Qt::KeypadModifier);
  EXPECT_EQ(sent, "two\r");
}

}  // namespace
}  // namespace tavrin::app
