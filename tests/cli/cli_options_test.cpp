// The command line's options, port file names, and the summary of several ports.
#include <gtest/gtest.h>

#include "cli/cli_multi.h"
#include "cli/cli_options.h"
#include "cli/port_run.h"
#include "cli/run_outcome.h"

namespace tavrin::cli {
namespace {

TEST(CliOptions, TakenOrRefusedAsAUsageError) {
  const struct {
    std::vector<std::string> args;
    std::string error;  // a part of the usage error; empty: the options are taken
  } rows[] = {
      {{"download", "--port", "a", "--port", "b", "--output", "x", "s"},
       "--output must contain {port}"},
      {{"upload", "--port", "a", "--port", "b", "--log", "x.log", "x.urt"},
       "--log must contain {port}"},
      {{"comtest", "--port", "a", "--port", "b", "--log-dir", "logs", "hi"}, ""},
      {{"upload", "--port", "a", "--retries", "2", "x.urt"}, "download only"},
      {{"download", "--port", "a", "--confirm", "2", "--output", "x", "s"}, "upload only"},
      {{"download", "--port", "a", "--retries", "x", "--output", "x", "s"}, "--retries needs"},
      {{"download", "--port", "a", "--retries", "101", "--output", "x", "s"}, "--retries needs"},
      {{"upload", "--port", "a", "--confirm", "0", "x.urt"}, "--confirm needs"},
      {{"upload", "--port", "a", "--confirm", "2.5", "x.urt"}, ""},
      {{"upload", "--port", "", "x.urt"}, "--port needs"},
      {{"script", "show", "--json", "s.dsf"}, "--json is not for script show"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::PrintToString(row.args));
    const auto parsed = ParseCliOptions(row.args);
    const std::string error =
        std::holds_alternative<std::string>(parsed) ? std::get<std::string>(parsed) : "";
    EXPECT_EQ(error.empty(), row.error.empty()) << error;
    EXPECT_NE(error.find(row.error), std::string::npos) << error;
  }
}

// Port names become safe file names, and stand for {port}.
TEST(PortFileNames, AreSafeAndStandForPort) {
  for (const auto& [given, file] :
       {std::pair{"ttyUSB0", "ttyUSB0"}, std::pair{"/dev/pts/3", "pts_3"},
        std::pair{"pts/3", "pts_3"}, std::pair{"serial:A50285BI", "serial_A50285BI"},
        std::pair{"/tmp/x y", "_tmp_x_y"}, std::pair{"..", "_"}}) {
    EXPECT_EQ(PortFileName(given), file);
    EXPECT_EQ(WithPort("out/{port}-{port}.dbf", PortFileName(given)),
              std::string("out/") + file + "-" + file + ".dbf");
  }
}

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
  outcomes[0].baud = 115200;
  EXPECT_DOUBLE_EQ(outcomes[0].LineEfficiency(), 1.0);  // 11520 bytes/s fill 115200 baud
}

}  // namespace
}  // namespace tavrin::cli
