#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <thread>
#include <vector>

#include "serial/error_reporter.h"
#include "serial/status_log.h"
#include "support/recorders.h"

namespace tavrin::serial {
namespace {

TEST(StatusLog, NumbersEntriesFromTheFirstMessage) {
  StatusLog log;
  log.UpdateStatus("Write aborted\r\n");
  const auto entries = log.Entries();
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0], "1:Status message go here:\r\n");
  EXPECT_EQ(entries[1], "2:Write aborted\r\n");
}

TEST(StatusLog, ConcurrentUpdatesGetDistinctNumbers) {
  StatusLog log;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 250; ++i) log.UpdateStatus("x");
    });
  }
  for (auto& thread : threads) thread.join();
  ASSERT_TRUE(log.WaitForCount(1001, std::chrono::milliseconds(0)));
  const auto entries = log.Entries();
  for (std::size_t i = 0; i < entries.size(); ++i) {
    EXPECT_EQ(entries[i].substr(0, entries[i].find(':')), std::to_string(i + 1));
  }
}

struct ReportRow {
  const char* name;
  int error;
  std::string text;

  friend void PrintTo(const ReportRow& row, std::ostream* os) { *os << row.name; }
};

class ErrorReportTextTest : public testing::TestWithParam<ReportRow> {};

// A code the system cannot describe still gives the report, with an empty description.
TEST_P(ErrorReportTextTest, HasCodeStepAndTheSystemsDescription) {
  EXPECT_EQ(FormatErrorReport(GetParam().error, "GetCommState"), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Codes, ErrorReportTextTest,
    testing::Values(ReportRow{"Known", EACCES, "Error 13: GetCommState.\n\rPermission denied\r\n"},
                    ReportRow{"Io", EIO, "Error 5: GetCommState.\n\rInput/output error\r\n"},
                    ReportRow{"Unknown", 9999, "Error 9999: GetCommState.\n\r\r\n"},
                    ReportRow{"Negative", -1, "Error -1: GetCommState.\n\r\r\n"}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(ErrorReporter, ShowsTheReportAndEndsOnlyForTheFatalVariants) {
  test::RecordingErrorSink sink;
  ErrorReporter reporter(sink);
  reporter.ReportError("ReadFile", EIO);
  EXPECT_EQ(sink.EndProcessCalls(), 0);
  bool closed = false;
  reporter.ReportErrorCloseAndExit("WriteFile", EIO, [&] { closed = true; });
  EXPECT_TRUE(closed);
  EXPECT_EQ(sink.EndProcessCalls(), 1);
  ASSERT_EQ(sink.Errors().size(), 2u);
  EXPECT_EQ(sink.Errors()[0], "Error 5: ReadFile.\n\rInput/output error\r\n");
  EXPECT_EQ(sink.DebugLines()[0], sink.Errors()[0]);
}

}  // namespace
}  // namespace tavrin::serial
