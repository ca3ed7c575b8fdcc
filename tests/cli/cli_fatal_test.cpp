// The command line's fatal end: after a fatal report of the serial link the run exits at
// once with status 6, shows no further report block and leaves the capture on disk; with
// several ports only the failed one ends so, and the others go on. Each case runs
// tavrin-cli's session in a child process (a death test) over fake devices.
#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <mutex>
#include <thread>

#include <nlohmann/json.hpp>
#include <sstream>

#include "cli/cli_options.h"
#include "cli/cli_session.h"
#include "serial/serial_fakes.h"
#include "sim/memory_link.h"
#include "sim/target.h"

namespace tavrin::cli {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// A device whose reads do not see the stop signal, as a driver stuck in a read: the link
// threads will not stop. Its first read returns only after a long hold, and then says so
// on stderr, which a run that ended at once never shows.
class StuckReads final : public serial::SerialDevice {
 public:
  static constexpr const char* kLetGo = "stuck read let go\n";

  serial::IoResult Read(std::span<std::uint8_t>, std::chrono::milliseconds,
                        serial::StopFd) override {
    std::unique_lock lock(mutex_);
    never_.wait_for(lock, 3s);
    std::fputs(kLetGo, stderr);
    return {serial::IoStatus::kStopped, 0, 0};
  }
  serial::IoResult Write(std::span<const std::uint8_t> bytes, std::chrono::milliseconds,
                         serial::StopFd) override {
    return {serial::IoStatus::kOk, bytes.size(), 0};
  }
  serial::DeviceResult PurgeReceive() override { return {}; }
  serial::DeviceResult PurgeBoth() override { return {}; }
  serial::DeviceResult SetDtr(bool) override { return {}; }
  serial::DeviceResult SetRts(bool) override { return {}; }
  serial::LineReading<serial::ModemLines> GetModemLines() override { return {}; }
  serial::LineReading<serial::LineCounters> GetLineCounters() override { return {}; }
  std::size_t InputQueued() override { return 0; }
  std::size_t OutputQueued() override { return 0; }

 private:
  std::mutex mutex_;
  std::condition_variable never_;
};

// The link's end of an in-memory line to a simulated target.
class LineEnd final : public serial::SerialDevice {
 public:
  explicit LineEnd(serial::SerialDevice& end) : end_(end) {}
  serial::IoResult Read(std::span<std::uint8_t> into, std::chrono::milliseconds timeout,
                        serial::StopFd stop) override {
    return end_.Read(into, timeout, stop);
  }
  serial::IoResult Write(std::span<const std::uint8_t> bytes, std::chrono::milliseconds timeout,
                         serial::StopFd stop) override {
    return end_.Write(bytes, timeout, stop);
  }
  serial::DeviceResult PurgeReceive() override { return end_.PurgeReceive(); }
  serial::DeviceResult PurgeBoth() override { return end_.PurgeBoth(); }
  serial::DeviceResult SetDtr(bool on) override { return end_.SetDtr(on); }
  serial::DeviceResult SetRts(bool on) override { return end_.SetRts(on); }
  serial::LineReading<serial::ModemLines> GetModemLines() override { return {}; }
  serial::LineReading<serial::LineCounters> GetLineCounters() override { return {}; }
  std::size_t InputQueued() override { return end_.InputQueued(); }
  std::size_t OutputQueued() override { return end_.OutputQueued(); }

 private:
  serial::SerialDevice& end_;
};

class CliFatalEnd : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::path(testing::TempDir()) / "cli_fatal_XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    // An upload image with one frame; the target never answers, so the run stays in the
    // attention phase.
    std::string image(28, '\0');
    image[0] = 'B';
    image[1] = 'U';
    image[24] = 1;
    image += std::string(
        "\x02\x00\x00\x01"
        "A"
        "\x00\x00\x00\x41"
        "\x03",
        10);
    std::ofstream(dir_ / "image.urt", std::ios::binary) << image;
  }
  void TearDown() override {
    const std::string err = ReadFile(Err());
    const auto at = err.find(kKeptIn);
    if (at != std::string::npos) {
      const auto begin = at + kKeptIn.size();
      std::error_code ignored;
      fs::remove_all(fs::path(err.substr(begin, err.find('\n', begin) - begin)).parent_path(),
                     ignored);
    }
    fs::remove_all(dir_);
  }

  fs::path Out() const { return dir_ / "stdout"; }
  fs::path Err() const { return dir_ / "stderr"; }

  // In the child: stdout and stderr into files, the upload run over `link`, then the
  // process ends with the run's status (if the run did not end it first).
  [[noreturn]] void RunUpload(const CliLink& link, std::vector<std::string> extra) {
    std::vector<std::string> args{"upload", "--port", "fake"};
    args.insert(args.end(), extra.begin(), extra.end());
    args.push_back((dir_ / "image.urt").string());
    Run(link, args);
  }

  [[noreturn]] void Run(const CliLink& link, const std::vector<std::string>& args) {
    std::freopen(Out().c_str(), "w", stdout);
    std::freopen(Err().c_str(), "w", stderr);
    const auto options = std::get<CliOptions>(ParseCliOptions(args));
    const int status = RunCli(options, link);
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(status);
  }

  // Ports "good" (a simulated target on an in-memory line) and "bad" (a device whose
  // reads fail once the upload has begun), with --json and --log-dir.
  [[noreturn]] void RunGoodAndBad(const fs::path& logs) {
    auto bad = std::make_shared<serial::test::FakeLine>();
    std::thread([bad] {
      if (bad->WaitForWrites(1)) bad->FailReads(EIO);
    }).detach();
    auto line = std::make_shared<sim::MemoryLink>();
    auto target = std::make_shared<sim::Target>(line->TargetEnd(), sim::TargetConfig{});
    target->Start();
    const auto open = [bad, line,
                       target](std::string_view name) -> std::unique_ptr<serial::SerialDevice> {
      if (name == "bad") return std::make_unique<serial::test::FakeSerialDevice>(bad);
      return std::make_unique<LineEnd>(line->PcEnd());
    };
    Run({open, {}}, {"upload", "--port", "good", "--port", "bad", "--json", "--log-dir",
                     logs.string(), (dir_ / "image.urt").string()});
  }

  // The capture file named on stderr; empty when none was.
  fs::path KeptCapture() const {
    const std::string err = ReadFile(Err());
    const auto at = err.find(kKeptIn);
    if (at == std::string::npos) return {};
    const auto begin = at + kKeptIn.size();
    return err.substr(begin, err.find('\n', begin) - begin);
  }

  static constexpr std::string_view kKeptIn = "the capture is kept in ";
  fs::path dir_;
};

// ReportErrorCloseAndExit: the device fails a read in the middle of the upload. The run
// ends there: the transfer is not cancelled, so no "Terminated by user" block follows.
TEST_F(CliFatalEnd, AReadThatFailsEndsTheRunAtOnceWithoutAFurtherBlock) {
  EXPECT_EXIT(
      {
        auto line = std::make_shared<serial::test::FakeLine>();
        std::thread([line] {
          if (line->WaitForWrites(1)) line->FailReads(EIO);  // the attention phase runs
        }).detach();
        RunUpload({[line](std::string_view) {
                     return std::make_unique<serial::test::FakeSerialDevice>(line);
                   },
                   {}},
                  {});
      },
      testing::ExitedWithCode(6), "");
  const std::string err = ReadFile(Err());
  EXPECT_NE(err.find("Error 5: ReadFile in ReaderAndStatusProc.\n\r"), std::string::npos) << err;
  EXPECT_EQ(ReadFile(Out()).find("Terminated by user"), std::string::npos);
  const fs::path capture = KeptCapture();
  ASSERT_FALSE(capture.empty()) << err;
  EXPECT_TRUE(fs::exists(capture));
  EXPECT_EQ(ReadFile(capture), ReadFile(Out()));
}

// ReportErrorAndExit: the link threads do not stop when the port is closed after the
// --timeout cancel. The run ends with "Error closing port." and does not wait for them.
TEST_F(CliFatalEnd, LinkThreadsThatDoNotStopEndTheRunWithoutWaitingForThem) {
  EXPECT_EXIT(RunUpload({[](std::string_view) { return std::make_unique<StuckReads>(); },
                         serial::LinkTimings{.closeWaitLimit = 50ms}},
                        {"--timeout", "0.3"}),
              testing::ExitedWithCode(6), "");
  const std::string err = ReadFile(Err());
  EXPECT_NE(err.find(": Error closing port..\n\r"), std::string::npos) << err;
  EXPECT_EQ(err.find(StuckReads::kLetGo), std::string::npos) << err;
  const std::string out = ReadFile(Out());
  EXPECT_NE(out.find("Terminated by user"), std::string::npos);  // the cancel came first
  EXPECT_TRUE(fs::exists(KeptCapture())) << err;
}

// Two ports: one device fails a read in the middle of the upload, the other carries its
// upload to the end. The failed port ends with 6 and nothing more of it is shown; its
// capture is kept as it stood; the other succeeds; the run's status is the highest, 6,
// and it ends without waiting for the failed port's threads.
TEST_F(CliFatalEnd, WithSeveralPortsOnlyTheFailedOneEnds) {
  // An image for the simulated target's identity: Id1 at 12, Id2 at 16, Id3 at 20.
  std::string image(28, '\0');
  image.replace(0, 2, "BU");
  image.replace(12, 11, "\x11\x22\x33\x44\x55\x66\x77\x88\x99\xAA\xBB");
  image[24] = 1;
  image += std::string(
      "\x02\x00\x00\x01"
      "A"
      "\x00\x00\x00\x41"
      "\x03",
      10);
  std::ofstream(dir_ / "image.urt", std::ios::binary) << image;
  const auto logs = dir_ / "logs";
  EXPECT_EXIT(RunGoodAndBad(logs), testing::ExitedWithCode(6), "");
  std::map<std::string, nlohmann::json> ends;
  std::vector<nlohmann::json> events;
  std::istringstream lines(ReadFile(Out()));
  for (std::string line; std::getline(lines, line);) {
    events.push_back(nlohmann::json::parse(line));
    if (events.back()["event"] == "end") ends[events.back()["port"]] = events.back();
  }
  const std::string err = ReadFile(Err());
  ASSERT_EQ(ends.size(), 2u) << err;
  EXPECT_EQ(ends["good"]["status"], 0);
  EXPECT_EQ(ends["good"]["code"], 1);
  EXPECT_EQ(ends["bad"]["status"], 6);
  EXPECT_EQ(ends["bad"]["capture"], (logs / "bad.log").string());
  EXPECT_EQ(events.back()["event"], "summary");
  EXPECT_EQ(events.back()["status"], 6);
  for (const auto& event : events) {
    EXPECT_FALSE(event["event"] == "report" && event["port"] == "bad") << event;
  }
  EXPECT_NE(err.find("bad: Error 5: ReadFile in ReaderAndStatusProc.\n\r"), std::string::npos)
      << err;
  EXPECT_EQ(ReadFile(logs / "bad.log").find("Terminated by user"), std::string::npos);
  EXPECT_NE(ReadFile(logs / "good.log").find("Upload Success"), std::string::npos);
}

}  // namespace
}  // namespace tavrin::cli
