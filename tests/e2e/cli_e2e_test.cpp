// tavrin-cli against tavrin-target-sim, each a process of its own, over pseudo-terminals:
// one target, several at once through one tavrin-cli, and many through noisy lines.

#include <gtest/gtest.h>

#include <memory>
#include <sstream>

#include "e2e_files.h"
#include "processes.h"
#include "sim/target_config.h"
#include "transfer/report_texts.h"

namespace tavrin::test {
namespace {

using namespace std::chrono_literals;

class CliEndToEnd : public testing::Test {
 protected:
  std::string Image(std::size_t frames, std::size_t payload = 2000) {
    return WriteUrt(dir_ / "image.urt", std::vector<std::size_t>(frames, payload)).string();
  }

  // Starts a target for each argument list; the --port options of all of them.
  std::vector<std::string> StartTargets(const std::vector<std::vector<std::string>>& args) {
    std::vector<std::string> ports;
    for (const auto& a : args) {
      sims_.push_back(std::make_unique<SimProcess>(a));
      EXPECT_FALSE(sims_.back()->Device().empty());
      ports.insert(ports.end(), {"--port", sims_.back()->Device()});
    }
    return ports;
  }
  std::string Port(std::size_t i) const { return sims_[i]->Device(); }

  TempDir dir_;
  std::vector<std::unique_ptr<SimProcess>> sims_;
};

// `head`, the `ports` options, then `last`.
std::vector<std::string> Command(std::vector<std::string> head,
                                 const std::vector<std::string>& ports, const std::string& last) {
  head.insert(head.end(), ports.begin(), ports.end());
  head.push_back(last);
  return head;
}

// The name a port's files get: the device without "/dev/", '/' as '_'.
std::string FileName(std::string device) {
  if (device.starts_with("/dev/")) device.erase(0, 5);
  std::replace(device.begin(), device.end(), '/', '_');
  return device;
}

TEST_F(CliEndToEnd, UploadSucceedsAndStdoutIsTheCaptureStream) {
  const auto log = dir_ / "session.log";
  const auto record = dir_ / "received.bin";
  const auto image = Image(9, 2991);
  const auto run = RunCli(Command({"upload", "--log", log.string()},
                                  StartTargets({{"--record", record.string()}}), image));
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(sims_[0]->Stop().find("problem"), std::string::npos);
  EXPECT_EQ(ReadFile(record), ReadFile(image).substr(28));  // every frame, byte for byte
  // --log saves the capture as stdout showed it, with 0x00, 0x11 and 0x17 saved as blanks.
  std::string shownAsSaved = run.out;
  for (char& c : shownAsSaved) {
    if (c == '\x00' || c == '\x11' || c == '\x17') c = ' ';
  }
  EXPECT_EQ(ReadFile(log), shownAsSaved);
  EXPECT_NE(run.err.find("Log file created successfully. "), std::string::npos) << run.err;
  // Around the success block the target's control bytes show as blanks; the who-am-I
  // answer (FE 01 00 and the identity) shows when a read boundary sets it apart.
  std::string rest = run.out;
  const auto block = rest.find(Block(1));
  ASSERT_NE(block, std::string::npos) << run.out;
  rest.erase(block, Block(1).size());
  const std::string answer = "\xFE\x01 \x55\x66\x77\x11\x22\x33\x44\x88\x99\xAA\xBB";
  if (const auto at = rest.find(answer); at != std::string::npos) rest.erase(at, answer.size());
  EXPECT_EQ(rest.find_first_not_of(' '), std::string::npos) << run.out;
}

TEST_F(CliEndToEnd, RefusalsExitWith4AndShowTheirReport) {
  for (const auto& [scenario, code] :
       {std::pair{"refuse-eot", 4}, std::pair{"refuse-dc3", 19}, std::pair{"refuse-etb", 23},
        std::pair{"refuse-eot-after-frames", 4}}) {
    SCOPED_TRACE(scenario);
    SimProcess sim({"--scenario", scenario});
    const auto run = RunCli({"upload", "--port", sim.Device(), Image(5)});
    EXPECT_EQ(run.status, 4);
    EXPECT_NE(run.out.find(Block(code)), std::string::npos) << run.out;
  }
}

TEST_F(CliEndToEnd, ComTestEchoesAndScriptShowListsTheColumns) {
  const auto comtest = RunCli(Command({"comtest"}, StartTargets({{}}), "abc"));
  EXPECT_EQ(comtest.status, 0) << comtest.err;
  EXPECT_EQ(comtest.out, "abc\n");
  const auto show = RunCli({"script", "show", WriteScript(dir_.Path(), {{0x10000, 0x1FFFF, 1}})});
  EXPECT_EQ(show.status, 0);
  for (const char* text : {"Start Address", "10000", "1FFFF", "FLASH"}) {
    EXPECT_NE(show.out.find(text), std::string::npos) << text << " in " << show.out;
  }
}

// Usage errors exit 1 and bad files 2, before any transfer.
TEST_F(CliEndToEnd, BadFilesExit2AndUsageErrors1) {
  const std::string port = StartTargets({{}})[1];
  WriteFile(dir_ / "not.urt", "MZ not an image");
  const struct {
    std::vector<std::string> args;
    int status;
    std::string err;
  } rows[] = {
      {{"upload", "--port", port, dir_ / "missing.urt"}, 2, ""},
      {{"upload", "--port", port, dir_ / "not.urt"},
       2,
       "Unable to upload\nGiven URT file is invalid."},
      {{"download", "--port", port, "--output", "x.dbf", dir_ / "missing.dsf"}, 2, ""},
      {{"upload"}, 1, ""},
      {{"upload", "--port", "serial:TAVRIN-NO-SUCH", "x.urt"},
       1,
       "tavrin-cli: --port serial:TAVRIN-NO-SUCH: no serial port has this USB serial number"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.args.back());
    const auto run = RunCli(row.args);
    EXPECT_EQ(run.status, row.status);
    EXPECT_NE(run.err.find(row.err), std::string::npos) << run.err;
  }
}

// A download exact through frames the target sends damaged, one with a region that fails
// its CRC check (saved, with the warning and status 5), and one cancelled by --timeout
// while it waits for a region (nothing saved).
TEST_F(CliEndToEnd, DownloadsSaveTheExpectedDbfOrSayWhyNot) {
  const std::vector<Region> regions{
      {0x1000, 0x1000 + 1000, 1}, {0x8000, 0x8000 + 5000, 0}, {0x20000, 0x20000 + 3000, 4}};
  const std::string expected = ExpectedDbf(regions, sim::TargetConfig{}.memorySeed);
  const std::string script = WriteScript(dir_.Path(), regions);
  const std::string warning = transfer::CrcWarningBlock(1).text;
  const struct {
    const char* name;
    std::vector<std::string> sim;
    std::vector<std::string> cli;
    int status;
    std::string out;
  } rows[] = {
      {"BadFrames", {"--fault", "bad-sum", "--fault", "oversize"}, {}, 0, Block(2) + Block(3)},
      {"WrongCrc", {"--fault", "wrong-crc"}, {}, 5, Block(2) + warning + Block(3)},
      {"Delayed", {"--region-delay", "60000"}, {"--timeout", "1.5"}, 4, Block(2) + Block(23)},
  };
  const auto out = dir_ / "out.dbf";
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    std::filesystem::remove(out);
    SimProcess sim(row.sim);
    const auto run =
        RunCli(Command({"download", "--port", sim.Device(), "--output", out}, row.cli, script));
    EXPECT_EQ(run.status, row.status) << run.err;
    EXPECT_EQ(run.out, row.out);
    if (row.status == 4) {
      EXPECT_FALSE(std::filesystem::exists(out));
    } else {
      EXPECT_EQ(ReadFile(out), expected);
    }
  }
}

TEST_F(CliEndToEnd, OneRefusesTheOthersSucceedEachCaptureItsOwn) {
  const auto ports = StartTargets({{}, {"--scenario", "refuse-eot"}, {}});
  const auto logs = dir_ / "logs";
  const auto run = RunCli(Command({"upload", "--log-dir", logs}, ports, Image(3)));
  EXPECT_EQ(run.status, 4) << run.err;
  std::vector<std::string> lines;
  std::istringstream in(run.out);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  for (std::size_t i = 0; i < sims_.size(); ++i) {
    const bool refuses = i == 1;
    // The summary names each port with its status and result.
    const auto row = std::find_if(lines.begin(), lines.end(), [&](const std::string& line) {
      return line.starts_with(Port(i) + " ") &&
             line.find(refuses ? "  4  Error ( 4 ): You are trying to download same version"
                               : "  0  Upload Success") != std::string::npos;
    });
    EXPECT_NE(row, lines.end()) << Port(i) << " in " << run.out;
    // Its capture holds its own target's text alone.
    const std::string capture = ReadFile(logs / (FileName(Port(i)) + ".log"));
    EXPECT_EQ(capture.find(Block(4)) != std::string::npos, refuses) << Port(i);
    EXPECT_EQ(capture.find(Block(1)) != std::string::npos, !refuses) << Port(i);
  }
  // stdout: every capture line tagged with its port, then the summary.
  ASSERT_FALSE(lines.empty());
  for (const auto& line : lines) {
    if (line.starts_with("PORT ")) break;
    EXPECT_TRUE(line.starts_with(Port(0) + ": ") || line.starts_with(Port(1) + ": ") ||
                line.starts_with(Port(2) + ": "))
        << line;
  }
  EXPECT_NE(run.out.find(Port(1) + ": <========== Error ( 4 ) ==========>\n"), std::string::npos);
}

// --json: one download fetches its region with the wrong CRC again and ends exact, the
// other target refuses. Each port's start comes first, the summary closes the stream.
TEST_F(CliEndToEnd, JsonEventsFollowTheSchema) {
  const std::vector<Region> regions{{0, 20000, 1}, {0x8000, 0x8000 + 3000, 2}};
  const auto ports = StartTargets(
      {{"--seed", "4", "--fault", "wrong-crc", "--baud", "115200"}, {"--scenario", "refuse-eot"}});
  const auto run =
      RunCli(Command({"download", "--json", "--retries", "2", "--output", dir_ / "{port}.dbf"},
                     ports, WriteScript(dir_.Path(), regions)),
             60s);
  EXPECT_EQ(run.status, 4) << run.err;
  const auto events = JsonEvents(run.out);
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.back()["event"], "summary");
  EXPECT_EQ(events.back()["status"], 4);
  EXPECT_EQ(events.back()["failed"], Json::array({Port(1)}));
  std::map<std::string, std::size_t> seen;  // events of each port so far
  std::vector<int> goodReports;
  std::vector<double> progressAt;
  for (const auto& event : events) {
    if (event["event"] == "summary") continue;
    const std::string port = event["port"];
    EXPECT_EQ(seen[port]++ == 0, event["event"] == "start") << event;
    if (event["event"] == "report") {
      EXPECT_EQ(event["text"], Block(event["code"])) << event;
      if (port == Port(0)) goodReports.push_back(event["code"].get<int>());
    }
    if (event["event"] == "progress" && port == Port(0)) {
      progressAt.push_back(event["seconds"].get<double>());
    }
  }
  // The region is fetched again alone, in a download that ends like any other.
  EXPECT_EQ(goodReports, (std::vector<int>{2, 3, 2, 3}));
  const auto ends = EndsByPort(events);
  const Json& good = ends.at(Port(0));
  EXPECT_EQ(good["status"], 0);
  EXPECT_EQ(good["regions_fetched_again"], Json::array({1}));
  EXPECT_EQ(good["regions_still_failing"], Json::array());
  EXPECT_EQ(good["output"], (dir_ / (FileName(Port(0)) + ".dbf")).string());
  EXPECT_EQ(ReadFile(good["output"].get<std::string>()), ExpectedDbf(regions, 4));
  EXPECT_GT(good["line_efficiency"].get<double>(), 0.5);
  EXPECT_EQ(ends.at(Port(1))["status"], 4);
  EXPECT_EQ(ends.at(Port(1))["code"], 4);
  // Progress at most ten times a second: never two within 0.1 s (its own clock, 1 ms slack).
  EXPECT_GE(progressAt.size(), 5u);
  for (std::size_t i = 1; i < progressAt.size(); ++i) {
    EXPECT_GE(progressAt[i] - progressAt[i - 1], 0.099);
  }
  // The human texts go to stderr: the table and the lines of the fetch again.
  for (const char* text :
       {"PORT ", "regions fetched again: 1\n", "every region fetched again matches its CRC now"}) {
    EXPECT_NE(run.err.find(text), std::string::npos) << text << " in " << run.err;
  }
}

TEST_F(CliEndToEnd, CtrlCCancelsEveryPortWith23) {
  const auto ports = StartTargets({{"--scenario", "silent"}, {"--scenario", "silent"}});
  const auto run = RunCli(Command({"upload", "--json"}, ports, Image(1, 100)), 20s, 500ms);
  EXPECT_EQ(run.status, 4) << run.err;
  const auto ends = EndsByPort(JsonEvents(run.out));
  ASSERT_EQ(ends.size(), 2u);
  for (const auto& [port, end] : ends) {
    EXPECT_EQ(end["status"], 4) << port;
    EXPECT_EQ(end["code"], 23) << port;
  }
}

// Many seeded targets at once through lines that damage bytes, one tavrin-cli for all of
// them: downloads with --retries must end exact, or say which region is wrong; uploads with
// --confirm must never end 0 after the target refused their last frame.
class CliNoisyLine : public CliEndToEnd {
 protected:
  // Targets with seeds 1..count and `args`; the --port options of all of them.
  std::vector<std::string> StartNoisy(int count, const std::vector<std::string>& args) {
    std::vector<std::vector<std::string>> all;
    for (int seed = 1; seed <= count; ++seed) {
      all.push_back({"--seed", std::to_string(seed)});
      all.back().insert(all.back().end(), args.begin(), args.end());
    }
    return StartTargets(all);
  }
};

// Region `r` (1-based) of a DBF whose blocks all have headers: each header ends with the
// little-endian offset just past its data.
std::string RegionInDbf(const std::string& dbf, int r) {
  std::size_t at = 0;
  for (int block = 1; at + 16 <= dbf.size(); ++block) {
    std::size_t end = 0;
    for (std::size_t b = 0; b < 4; ++b) {
      end |= static_cast<std::size_t>(static_cast<std::uint8_t>(dbf[at + 12 + b])) << (8 * b);
    }
    if (end < at + 16 || end > dbf.size()) return {};
    if (block == r) return dbf.substr(at + 16, end - at - 16);
    at = end;
  }
  return {};
}

// Under a sanitizer every process runs several times slower, so fewer targets share the
// machine; the rate of exact downloads is judged only at full speed.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr int kNoisyDownloads = 8;
constexpr bool kJudgeExactRate = false;
#else
constexpr int kNoisyDownloads = 30;
constexpr bool kJudgeExactRate = true;
#endif

// The line corrupts, drops and doubles one byte in a thousand of what the target sends
// (small packets, so that a frame gets through often enough). --timeout cuts a stalled
// download and --retries makes it again; a region that fails its CRC is fetched again.
TEST_F(CliNoisyLine, DownloadsWithRetriesEndExactOrSayWhichRegionIsWrong) {
  const std::vector<Region> regions{
      {0x1000, 0x1000 + 600, 1}, {0x8000, 0x8000 + 600, 2}, {0x20000, 0x20000 + 600, 3}};
  const auto ports = StartNoisy(kNoisyDownloads, {"--noise", "0.001", "--packet-size", "100"});
  // Four tries of at most 20 s each bound the run.
  const auto run = RunCli(Command({"download", "--json", "--retries", "3", "--timeout", "20",
                                   "--output", dir_ / "{port}.dbf"},
                                  ports, WriteScript(dir_.Path(), regions)),
                          110s);
  ASSERT_NE(run.status, -1) << "tavrin-cli did not end in time";
  auto ends = EndsByPort(JsonEvents(run.out));
  int exact = 0;
  for (std::size_t i = 0; i < sims_.size(); ++i) {
    const Json& end = ends[Port(i)];
    SCOPED_TRACE("seed " + std::to_string(i + 1) + ": " + end.dump());
    ASSERT_TRUE(end.is_object());
    if (end["output"].is_null()) continue;  // nothing saved: it says so by its status
    const std::string dbf = ReadFile(end["output"].get<std::string>());
    const std::string expected = ExpectedDbf(regions, i + 1);
    if (dbf == expected) {
      ++exact;
      EXPECT_EQ(end["status"], 0);
      continue;
    }
    // Saved wrong: only with status 5 and the wrong regions named as still failing.
    EXPECT_EQ(end["status"], 5);
    const auto& failing = end["regions_still_failing"];
    for (int r = 1; r <= static_cast<int>(regions.size()); ++r) {
      if (RegionInDbf(dbf, r) == RegionInDbf(expected, r)) continue;
      EXPECT_NE(std::find(failing.begin(), failing.end(), r), failing.end()) << "region " << r;
    }
  }
  RecordProperty("exact", exact);
  if (kJudgeExactRate) {
    EXPECT_GE(exact * 10, kNoisyDownloads * 9) << run.err;
  }
}

// The line damages what the target receives, and the target refuses a damaged frame with
// 0x13. The last frame is the largest, so it is often the one refused, after tavrin-cli
// has written it and reported "Upload Success".
TEST_F(CliNoisyLine, UploadsWithConfirmNeverEndZeroAfterTheLastFrameWasRefused) {
  const auto ports =
      StartNoisy(12, {"--noise-in", "0.0001", "--refuse-bad-frames", "--frame-timeout", "500"});
  const auto run = RunCli(Command({"upload", "--json", "--confirm", "2", "--timeout", "20"}, ports,
                                  WriteUrt(dir_ / "image.urt", {300, 300, 2500})),
                          60s);
  ASSERT_NE(run.status, -1) << "tavrin-cli did not end in time";
  auto ends = EndsByPort(JsonEvents(run.out));
  int lastRefused = 0;
  for (std::size_t i = 0; i < sims_.size(); ++i) {
    const std::string problems = sims_[i]->Stop();
    const Json& end = ends[Port(i)];
    SCOPED_TRACE("seed " + std::to_string(i + 1) + ": " + end.dump() + "\n" + problems);
    ASSERT_TRUE(end.is_object());
    if (problems.find("refused frame 3 ") != std::string::npos) {
      ++lastRefused;
      EXPECT_NE(end["status"], 0);
    } else if (problems.find("problem") == std::string::npos) {
      EXPECT_EQ(end["status"], 0);  // the target took everything it was sent
    }
  }
  RecordProperty("last_frame_refused", lastRefused);
  EXPECT_GE(lastRefused, 1) << "no target refused its last frame: the case was not tried";
}

}  // namespace
}  // namespace tavrin::test
