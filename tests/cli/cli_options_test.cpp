// The options of several ports, --json, --log-dir, --retries and --confirm: what is taken,
// and what is refused as a usage error.
#include <gtest/gtest.h>

#include "cli/cli_multi.h"
#include "cli/cli_options.h"
#include "cli/port_run.h"
#include "cli/run_outcome.h"

namespace tavrin::cli {
namespace {

struct OptionsRow {
  std::vector<std::string> args;
  std::string error;  // a part of the usage error; empty: the options are taken
};

class CliOptionsRows : public testing::TestWithParam<OptionsRow> {};

TEST_P(CliOptionsRows, TakenOrRefused) {
  const auto parsed = ParseCliOptions(GetParam().args);
  if (GetParam().error.empty()) {
    EXPECT_TRUE(std::holds_alternative<CliOptions>(parsed)) << std::get<std::string>(parsed);
  } else {
    ASSERT_TRUE(std::holds_alternative<std::string>(parsed));
    EXPECT_NE(std::get<std::string>(parsed).find(GetParam().error), std::string::npos)
        << std::get<std::string>(parsed);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, CliOptionsRows,
    testing::Values(
        OptionsRow{{"download", "--port", "a", "--port", "b", "--output", "x.dbf", "s.dsf"},
                   "--output must contain {port}"},
        OptionsRow{{"upload", "--port", "a", "--port", "b", "--log", "x.log", "x.urt"},
                   "--log must contain {port}"},
        OptionsRow{{"comtest", "--port", "a", "--port", "b", "--log-dir", "logs", "hi"}, ""},
        OptionsRow{{"upload", "--port", "a", "--retries", "2", "x.urt"}, "download only"},
        OptionsRow{{"download", "--port", "a", "--confirm", "2", "--output", "x", "s"},
                   "upload only"},
        OptionsRow{{"download", "--port", "a", "--retries", "x", "--output", "x", "s"},
                   "--retries needs"},
        OptionsRow{{"download", "--port", "a", "--retries", "101", "--output", "x", "s"},
                   "--retries needs"},
        OptionsRow{{"upload", "--port", "a", "--confirm", "0", "x.urt"}, "--confirm needs"},
        OptionsRow{{"upload", "--port", "a", "--confirm", "2.5", "x.urt"}, ""},
        OptionsRow{{"upload", "--port", "", "x.urt"}, "--port needs"},
        OptionsRow{{"script", "show", "--json", "s.dsf"}, "--json is not for script show"}));

struct NameRow {
  const char* given;
  const char* file;
};

class PortFileNames : public testing::TestWithParam<NameRow> {};

TEST_P(PortFileNames, AreSafeAndStandForPort) {
  EXPECT_EQ(PortFileName(GetParam().given), GetParam().file);
  EXPECT_EQ(WithPort("out/{port}-{port}.dbf", PortFileName(GetParam().given)),
            std::string("out/") + GetParam().file + "-" + GetParam().file + ".dbf");
}

INSTANTIATE_TEST_SUITE_P(Rows, PortFileNames,
                         testing::Values(NameRow{"ttyUSB0", "ttyUSB0"},
                                         NameRow{"/dev/pts/3", "pts_3"}, NameRow{"pts/3", "pts_3"},
                                         NameRow{"serial:A50285BI", "serial_A50285BI"},
                                         NameRow{"/tmp/x y", "_tmp_x_y"}, NameRow{"..", "_"}));

// The result is the report block's heading and problem.
TEST(RunOutcome, SummaryColumnsLineUpAndTheStatusIsTheHighest) {
  EXPECT_EQ(ResultText(-2),
            "Error ( -2 ): Packet size greater than 3000.  Tavrin does't support it");
  EXPECT_EQ(ResultText(0), "");
  std::vector<PortOutcome> outcomes(2);
  outcomes[0].port = "ttyUSB10";
  outcomes[0].result = ResultText(1);
  outcomes[0].seconds = 2;
  outcomes[0].bytes = 23040;
  outcomes[1].port = "pts/3";
  outcomes[1].status = 4;
  outcomes[1].result = ResultText(23);
  EXPECT_EQ(SummaryTable(outcomes),
            "PORT      STATUS  RESULT              SECONDS  BYTES/S\n"
            "ttyUSB10       0  Upload Success         2.00    11520\n"
            "pts/3          4  Terminated by user     0.00        0\n");
  EXPECT_EQ(CombinedStatus(outcomes), 4);
  EXPECT_EQ(CombinedStatus({}), 0);
  outcomes[0].baud = 115200;
  EXPECT_DOUBLE_EQ(outcomes[0].LineEfficiency(), 1.0);  // 11520 bytes/s fill 115200 baud
}

}  // namespace
}  // namespace tavrin::cli
