#include "serial/line_status.h"

#include <gtest/gtest.h>

#include "serial/port_settings.h"

namespace tavrin::serial {
namespace {

struct TextRow {
  std::uint32_t bits;
  std::string text;
};

class CommEventTextTest : public testing::TestWithParam<TextRow> {};

TEST_P(CommEventTextTest, NamesTheEventsInTheirOrder) {
  EXPECT_EQ(CommEventText(GetParam().bits), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Words, CommEventTextTest,
    testing::Values(TextRow{0x0088, "EVENT: CTS ERR \n"}, TextRow{0, "EVENT: NULL\n"},
                    TextRow{0x01FF,
                            "EVENT: CTS DSR ERR RING RLSD BREAK RXFLAG RXCHAR TXEMPTY \n"}));

class CommErrorsTextTest : public testing::TestWithParam<TextRow> {};

TEST_P(CommErrorsTextTest, NamesTheErrorsInTheirOrder) {
  EXPECT_EQ(CommErrorsText(GetParam().bits), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Words, CommErrorsTextTest,
    testing::Values(TextRow{kCommErrorFrame, "ERROR: FRAME \n"}, TextRow{0, ""},
                    TextRow{0x9F1F,
                            "ERROR: DNS IOE OOP PTO MODE BREAK FRAME RXOVER TXFULL OVERRUN "
                            "RXPARITY \n"}));

TEST(CommErrors, ComeFromTheCountersThatGrew) {
  const LineCounters before{.frame = 3, .overrun = 1, .parity = 0, .brk = 2, .bufferOverrun = 0};
  LineCounters after = before;
  EXPECT_EQ(CommErrorsBetween(before, after), 0u);
  after.parity = 1;
  after.bufferOverrun = 4;
  EXPECT_EQ(CommErrorsBetween(before, after), kCommErrorRxParity | kCommErrorRxOver);
}

}  // namespace
}  // namespace tavrin::serial
