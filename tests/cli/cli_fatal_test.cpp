// The command line's fatal end, each case a death test of tavrin-cli's session.
#include <gtest/gtest.h>

#include <cstdio>
#include <thread>

#include "cli/cli_options.h"
#include "cli/cli_session.h"
#include "e2e/e2e_files.h"
#include "serial/serial_fakes.h"
#include "sim/fd_stream.h"
#include "sim/target.h"

namespace tavrin::cli {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using serial::test::FakeLine;
using test::ReadFile;

// A line whose reads fail with EIO once the upload has written its first bytes.
std::shared_ptr<FakeLine> FailingOnceStarted() {
  auto line = std::make_shared<FakeLine>();
  std::thread([line] {
    if (line->WaitForWrites(1)) line->FailReads(EIO);
  }).detach();
  return line;
}

serial::DeviceFactory Opener(std::shared_ptr<FakeLine> line) {
  return
      [line](std::string_view) { return std::make_unique<serial::test::FakeSerialDevice>(line); };
}

class CliFatalEnd : public testing::Test {
 protected:
  fs::path Out() const { return dir_ / "stdout"; }
  fs::path Err() const { return dir_ / "stderr"; }

  // In the child: stdout and stderr into files, the upload run over `link` with `options`,
  // then the process ends with the run's status (if the run did not end it first).
  [[noreturn]] void RunUpload(const CliLink& link, std::vector<std::string> options) {
    options.push_back(test::WriteUrt(dir_ / "image.urt", {1}));
    Run(link, "upload", options);
  }

  [[noreturn]] void Run(const CliLink& link, const std::string& command,
                        std::vector<std::string> options) {
    std::vector<std::string> args{command};
    args.insert(args.end(), options.begin(), options.end());
    ::setenv("TMPDIR", dir_.Path().c_str(), 1);  // a capture kept goes into dir_
    std::freopen(Out().c_str(), "w", stdout);
    std::freopen(Err().c_str(), "w", stderr);
    const int status = RunCli(std::get<CliOptions>(ParseCliOptions(args)), link);
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(status);
  }

  // Ports "good" (a simulated target on a pseudo-terminal) and "bad", with --json.
  [[noreturn]] void UploadOnGoodAndBad(const fs::path& logs) {
    OnGoodAndBad("upload", {"--port", "good", "--port", "bad", "--json", "--log-dir", logs,
                            test::WriteUrt(dir_ / "image.urt", {1})});
  }

  [[noreturn]] void OnGoodAndBad(const std::string& command, std::vector<std::string> options) {
    serial::test::PseudoTerminal pty;
    sim::FdStream line(pty.Master());
    sim::Target target(line, sim::TargetConfig{});
    target.Start();
    const auto bad = Opener(FailingOnceStarted());
    const auto open = [&](std::string_view name) {
      return name == "bad" ? bad(name) : serial::PosixDeviceFactory()(pty.SlavePath());
    };
    Run({open, {}}, command, options);
  }

  // The capture file named on stderr; empty when none was.
  fs::path KeptCapture() const {
    const std::string err = ReadFile(Err());
    constexpr std::string_view kLead = "the capture is kept in ";
    const auto start = err.find(kLead);
    if (start == std::string::npos) return {};
    const auto from = start + kLead.size();
    const auto end = err.find('\n', from);
    if (end == std::string::npos) return {};
    return fs::path(err.substr(from, end - from));
  }

  test::TempDir dir_;
};

// ReportErrorCloseAndExit mid-upload: exit 6 there, no "Terminated by user", capture kept.
TEST_F(CliFatalEnd, AReadThatFailsEndsTheRunAtOnceWithoutAFurtherBlock) {
  EXPECT_EXIT(RunUpload({Opener(FailingOnceStarted()), {}}, {"--port", "fake"}),
              testing::ExitedWithCode(6), "");
  const std::string err = ReadFile(Err());
  EXPECT_NE(err.find("Error 5: ReadFile in ReaderAndStatusProc.\n\rInput/output error"),
            std::string::npos)
      << err;
  EXPECT_EQ(ReadFile(Out()).find("Terminated by user"), std::string::npos);
  ASSERT_TRUE(fs::exists(KeptCapture())) << err;
  EXPECT_EQ(ReadFile(KeptCapture()), ReadFile(Out()));
}

// ReportErrorAndExit: link threads stuck in a read after the --timeout cancel are not
// waited for (their reads hold on for serial::test::kTestWait).
TEST_F(CliFatalEnd, LinkThreadsThatDoNotStopEndTheRunWithoutWaitingForThem) {
  const auto started = std::chrono::steady_clock::now();
  EXPECT_EXIT(
      {
        auto line = std::make_shared<FakeLine>();
        line->IgnoreStop();
        RunUpload({Opener(line), serial::LinkTimings{.closeWaitLimit = 50ms}},
                  {"--port", "fake", "--timeout", "0.3"});
      },
      testing::ExitedWithCode(6), "");
  EXPECT_LT(std::chrono::steady_clock::now() - started, serial::test::kTestWait);
  const std::string err = ReadFile(Err());
  EXPECT_NE(err.find(": Error closing port..\n\r"), std::string::npos) << err;
  EXPECT_NE(ReadFile(Out()).find("Terminated by user"), std::string::npos);  // cancel first
  EXPECT_TRUE(fs::exists(KeptCapture())) << err;
}

// "bad" fails mid-upload and ends with 6, shown no further, its capture kept; "good" goes on.
TEST_F(CliFatalEnd, WithSeveralPortsOnlyTheFailedOneEnds) {
  const auto logs = dir_ / "logs";
  EXPECT_EXIT(UploadOnGoodAndBad(logs), testing::ExitedWithCode(6), "");
  const auto events = test::JsonEvents(ReadFile(Out()));
  for (const auto& event : events) {
    EXPECT_FALSE(event["event"] == "report" && event["port"] == "bad") << event;
  }
  auto ends = test::EndsByPort(events);
  const std::string err = ReadFile(Err());
  ASSERT_EQ(ends.size(), 2u) << err;
  EXPECT_EQ(ends["good"]["status"], 0);
  EXPECT_EQ(ends["good"]["code"], 1);
  EXPECT_EQ(ends["bad"]["status"], 6);
  EXPECT_EQ(ends["bad"]["capture"], (logs / "bad.log").string());
  EXPECT_EQ(events.back()["event"], "summary");
  EXPECT_EQ(events.back()["status"], 6);
  EXPECT_NE(err.find("bad: Error 5: ReadFile in ReaderAndStatusProc.\n\r"), std::string::npos)
      << err;
  EXPECT_EQ(ReadFile(logs / "bad.log").find("Terminated by user"), std::string::npos);
  EXPECT_NE(ReadFile(logs / "good.log").find("Upload Success"), std::string::npos);
}

// comtest: "bad" fails once its test frame is written and ends at once with 6, without
// waiting for --timeout and without a word about a test frame; "good" echoes.
TEST_F(CliFatalEnd, AComTestPortWhoseLinkFailsEndsAtOnce) {
  const auto started = std::chrono::steady_clock::now();
  EXPECT_EXIT(OnGoodAndBad("comtest",
                           {"--port", "good", "--port", "bad", "--json", "--timeout", "30", "abc"}),
              testing::ExitedWithCode(6), "");
  EXPECT_LT(std::chrono::steady_clock::now() - started, 15s);
  const std::string err = ReadFile(Err());
  EXPECT_EQ(err.find("no test frame came back"), std::string::npos) << err;
  auto ends = test::EndsByPort(test::JsonEvents(ReadFile(Out())));
  ASSERT_EQ(ends.size(), 2u) << err;
  EXPECT_EQ(ends["good"]["status"], 0);
  EXPECT_EQ(ends["good"]["payload"], "abc");
  EXPECT_EQ(ends["bad"]["status"], 6);
  EXPECT_EQ(ends["bad"]["result"], "serial link failed");
}

}  // namespace
}  // namespace tavrin::cli
