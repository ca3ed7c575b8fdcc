#include <gtest/gtest.h>

#include <string>

#include "terminal/line_input.h"

namespace tavrin::terminal {
namespace {

struct LineRow {
  const char* name;
  std::string line;
  std::string sent;
};

class LineInputTest : public ::testing::TestWithParam<LineRow> {};

TEST_P(LineInputTest, SendsTheLineUpToItsEndThenCarriageReturn) {
  const auto bytes = EncodeInputLine(GetParam().line);
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), GetParam().sent);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, LineInputTest,
    ::testing::Values(LineRow{"Empty", "", "\r"},
                      LineRow{"HundredCharsSendFirst80",
                              std::string(80, 'a') + std::string(20, 'b'),
                              std::string(80, 'a') + "\r"},
                      LineRow{"TopBitByteCutsTheLine",
                              "abc\xe9"
                              "def",
                              "abc\r"},
                      LineRow{"NulCutsTheLine", std::string("ab\0cd", 5), "ab\r"},
                      LineRow{"ControlCharactersPass", "a\tb\x01\x7f", "a\tb\x01\x7f\r"},
                      LineRow{"CutBeyond80IsIgnored", std::string(80, 'z') + "\xff",
                              std::string(80, 'z') + "\r"}),
    [](const ::testing::TestParamInfo<LineRow>& row) { return row.param.name; });

}  // namespace
}  // namespace tavrin::terminal
