#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <thread>
#include <vector>

#include "serial/error_reporter.h"
#include "serial/status_log.h"

namespace tavrin::serial {
namespace {

TEST(StatusLog, ConcurrentUpdatesGetDistinctNumbers) {
  StatusLog log;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 250; ++i) log.UpdateStatus("x");
    });
  }
  for (auto& thread : threads) thread.join();
  const auto entries = log.Entries();
  ASSERT_EQ(entries.size(), 1001u);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    EXPECT_EQ(entries[i].substr(0, entries[i].find(':')), std::to_string(i + 1));
  }
}

// A code the system cannot describe still gives the report, with an empty description.
TEST(ErrorReport, HasCodeStepAndTheSystemsDescription) {
  EXPECT_EQ(FormatErrorReport(EACCES, "GetCommState"),
            "Error 13: GetCommState.\n\rPermission denied\r\n");
  EXPECT_EQ(FormatErrorReport(EIO, "ReadFile"), "Error 5: ReadFile.\n\rInput/output error\r\n");
  EXPECT_EQ(FormatErrorReport(9999, "GetCommState"), "Error 9999: GetCommState.\n\r\r\n");
  EXPECT_EQ(FormatErrorReport(-1, "GetCommState"), "Error -1: GetCommState.\n\r\r\n");
}

}  // namespace
}  // namespace tavrin::serial
