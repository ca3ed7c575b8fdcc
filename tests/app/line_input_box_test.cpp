// Enter in the line input box: what goes to the target, and the line break it always gets.
#include <gtest/gtest.h>

#include <QTest>

#include "app/line_input_box.h"

namespace tavrin::app {
namespace {

struct EnterRow {
  const char* name;
  QString text;
  bool connected;
  std::string expected;       // bytes sent ("" : nothing)
  int anchor = -1, end = -1;  // the selection; none: the caret at the end
};

class LineInputEnter : public ::testing::TestWithParam<EnterRow> {};

// Return or the keypad's Enter: the line where the selection starts is sent.
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
  QTextCursor cursor = box.textCursor();
  cursor.movePosition(QTextCursor::End);
  if (row.anchor >= 0) {
    cursor.setPosition(row.anchor);
    cursor.setPosition(row.end, QTextCursor::KeepAnchor);
  }
  box.setTextCursor(cursor);
  if (row.anchor < 0) {
    QTest::keyClick(&box, Qt::Key_Return);
    EXPECT_EQ(box.toPlainText(), row.text + "\n");
  } else {
    QTest::keyClick(&box, Qt::Key_Enter, Qt::KeypadModifier);
  }
  EXPECT_EQ(sent, row.expected.empty() ? std::vector<std::string>{}
                                       : std::vector<std::string>{row.expected});
}

INSTANTIATE_TEST_SUITE_P(
    LineInputBox, LineInputEnter,
    ::testing::Values(EnterRow{"Plain", "reboot", true, "reboot\r"},
                      EnterRow{"SelectionStartsTheLine", "one\ntwo\nthree", true, "two\r", 5, 10},
                      EnterRow{"CutAtNonLatinCharacter", QString::fromUtf8("ok\u20ac!"), true,
                               "ok\r"},
                      EnterRow{"NotConnectedSendsNothing", "reboot", false, ""}),
    [](const auto& row) { return std::string(row.param.name); });

}  // namespace
}  // namespace tavrin::app
