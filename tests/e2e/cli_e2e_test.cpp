// tavrin-cli against tavrin-target-sim processes, each target on a pseudo-terminal.

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <sstream>

#include "cli/cli_multi.h"
#include "e2e_files.h"
#include "processes.h"
#include "sim/target_config.h"
#include "transfer/report_texts.h"

namespace tavrin::test {
namespace {

using namespace std::chrono_literals;

class CliEndToEnd : public testing::Test {
 protected:
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

// Whether `out` has a line that starts with `port`, then one or more blanks, then `result`.
bool HasSummaryRow(const std::string& out, const std::string& port, const std::string& result) {
  const std::string lead = "\n" + port;
  for (auto at = out.find(lead); at != std::string::npos; at = out.find(lead, at + 1)) {
    const auto blanks = out.find_first_not_of(' ', at + lead.size());
    if (blanks > at + lead.size() && out.compare(blanks, result.size(), result) == 0) return true;
  }
  return false;
}

std::vector<std::string> Command(std::vector<std::string> head,
                                 const std::vector<std::string>& ports, const std::string& last) {
  head.insert(head.end(), ports.begin(), ports.end());
  head.push_back(last);
  return head;
}

TEST_F(CliEndToEnd, UploadSucceedsAndStdoutIsTheCaptureStream) {
  const auto log = dir_ / "session.log";
  const auto run = RunCli(Command({"upload", "--log", log}, StartTargets({{}}),
                                  WriteUrt(dir_ / "image.urt", std::vector<std::size_t>(9, 2991))));
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(sims_[0]->Stop().find("problem"), std::string::npos);  // every frame taken
  // --log saves the capture as stdout showed it, with 0x00, 0x11 and 0x17 saved as blanks.
  std::string shownAsSaved = run.out;
  std::replace_if(
      shownAsSaved.begin(), shownAsSaved.end(),
      [](char c) { return c == '\x00' || c == '\x11' || c == '\x17'; }, ' ');
  EXPECT_EQ(ReadFile(log), shownAsSaved);
  // Else only blanks, and the who-am-I answer when a read boundary sets it apart.
  std::string rest = run.out;
  const auto block = rest.find(Block(1));
  ASSERT_NE(block, std::string::npos) << run.out;
  rest.erase(block, Block(1).size());
  const std::string answer = "\xFE\x01 \x55\x66\x77\x11\x22\x33\x44\x88\x99\xAA\xBB";
  if (const auto at = rest.find(answer); at != std::string::npos) rest.erase(at, answer.size());
  EXPECT_EQ(rest.find_first_not_of(' '), std::string::npos) << run.out;
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

TEST_F(CliEndToEnd, BadFilesExit2AndUsageErrors1) {
  const std::string port = StartTargets({{}})[1];
  WriteFile(dir_ / "not.urt", "MZ not an image");
  const struct {
    std::vector<std::string> args;
    int status;
    std::string err;
  } rows[] = {
      {{"upload", "--port", port, dir_ / "missing.urt"}, 2, ""},
      {{"upload", "--port", port, dir_ / "not.urt"}, 2, "Given URT file is invalid."},
      {{"download", "--port", port, "--output", "x.dbf", dir_ / "missing.dsf"}, 2, ""},
      {{"upload"}, 1, ""},
      {{"upload", "--port", "serial:TAVRIN-NO-SUCH", "x.urt"}, 1, "no serial port has this USB"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.args.back());
    const auto run = RunCli(row.args);
    EXPECT_EQ(run.status, row.status);
    EXPECT_NE(run.err.find(row.err), std::string::npos) << run.err;
  }
}

// Through damaged frames; a region failing its CRC (status 5); --timeout while waiting.
TEST_F(CliEndToEnd, DownloadsSaveTheExpectedDbfOrSayWhyNot) {
  const std::vector<Region> regions{
      {0x1000, 0x1000 + 1000, 1}, {0x8000, 0x8000 + 5000, 0}, {0x20000, 0x20000 + 3000, 4}};
  const std::string script = WriteScript(dir_.Path(), regions);
  const std::string expected = ExpectedDbf(regions, sim::TargetConfig{}.memorySeed);
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
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const auto out = dir_ / (std::string(row.name) + ".dbf");
    SimProcess sim(row.sim);
    const auto run =
        RunCli(Command({"download", "--port", sim.Device(), "--output", out}, row.cli, script));
    EXPECT_EQ(run.status, row.status) << run.err;
    EXPECT_EQ(run.out, row.out);
    EXPECT_EQ(std::filesystem::exists(out), row.status != 4);
    EXPECT_EQ(ReadFile(out), row.status == 4 ? "" : expected);
  }
}

// A downloaded file that cannot be copied to --output is no success.
TEST_F(CliEndToEnd, ADownloadThatCannotBeSavedSaysFileAccessErrorAndExits4) {
  const std::string script = WriteScript(dir_.Path(), {{0x1000, 0x1000 + 500, 1}});
  const auto out = dir_ / "missing-folder" / "x.dbf";
  SimProcess sim({});
  const auto run = RunCli({"download", "--port", sim.Device(), "--output", out, script});
  EXPECT_EQ(run.status, 4) << run.err;
  EXPECT_NE(run.err.find("File Access Error!!!"), std::string::npos) << run.err;
  EXPECT_FALSE(std::filesystem::exists(out));
}

TEST_F(CliEndToEnd, OneRefusesTheOthersSucceedEachCaptureItsOwn) {
  const auto ports = StartTargets({{}, {"--scenario", "refuse-eot"}, {}});
  const auto logs = dir_ / "logs";
  const auto run = RunCli(Command({"upload", "--log-dir", logs}, ports,
                                  WriteUrt(dir_ / "image.urt", {2000, 2000, 2000})));
  EXPECT_EQ(run.status, 4) << run.err;
  for (std::size_t i = 0; i < sims_.size(); ++i) {
    const bool refuses = i == 1;
    // The summary names each port with its status and result.
    const std::string result = refuses ? "4  Error ( 4 ): You are trying" : "0  Upload Success";
    EXPECT_TRUE(HasSummaryRow(run.out, Port(i), result)) << run.out;
    // Its capture holds its own target's text alone.
    const std::string capture = ReadFile(logs / (cli::PortFileName(Port(i)) + ".log"));
    EXPECT_EQ(capture.find(Block(4)) != std::string::npos, refuses) << Port(i);
    EXPECT_EQ(capture.find(Block(1)) != std::string::npos, !refuses) << Port(i);
  }
  // stdout: every capture line tagged with its port, then the summary.
  std::istringstream lines(run.out);
  for (std::string line; std::getline(lines, line) && !line.starts_with("PORT ");) {
    EXPECT_TRUE(line.starts_with(Port(0) + ": ") || line.starts_with(Port(1) + ": ") ||
                line.starts_with(Port(2) + ": "))
        << line;
  }
  EXPECT_NE(run.out.find(Port(1) + ": <========== Error ( 4 ) ==========>\n"), std::string::npos);
}

// One download fetches its region with the wrong CRC again, the other target refuses.
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
  std::vector<double> progressAt = {-1};
  for (const auto& event : events) {
    if (event["event"] == "summary") continue;
    const std::string port = event["port"];
    EXPECT_EQ(seen[port]++ == 0, event["event"] == "start") << event;
    if (event["event"] == "report") {
      EXPECT_EQ(event["text"], Block(event["code"])) << event;
      if (port == Port(0)) goodReports.push_back(event["code"].get<int>());
    }
    if (event["event"] == "progress" && port == Port(0)) {
      // At most ten times a second: never two within 0.1 s (its own clock, 1 ms slack).
      EXPECT_GE(event["seconds"].get<double>() - progressAt.back(), 0.099);
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
  EXPECT_EQ(good["output"], (dir_ / (cli::PortFileName(Port(0)) + ".dbf")).string());
  EXPECT_EQ(ReadFile(good["output"].get<std::string>()), ExpectedDbf(regions, 4));
  EXPECT_GT(good["line_efficiency"].get<double>(), 0.5);
  EXPECT_EQ(ends.at(Port(1))["status"], 4);
  EXPECT_EQ(ends.at(Port(1))["code"], 4);
  EXPECT_GE(progressAt.size(), 6u);
  // The human texts go to stderr.
  for (const char* text :
       {"PORT ", "regions fetched again: 1\n", "every region fetched again matches its CRC now"}) {
    EXPECT_NE(run.err.find(text), std::string::npos) << text << " in " << run.err;
  }
}

TEST_F(CliEndToEnd, CtrlCCancelsEveryPortWith23) {
  const auto ports = StartTargets({{"--scenario", "silent"}, {"--scenario", "silent"}});
  const auto run =
      RunCli(Command({"upload", "--json"}, ports, WriteUrt(dir_ / "image.urt", {100})), 20s, 500ms);
  EXPECT_EQ(run.status, 4) << run.err;
  auto ends = EndsByPort(JsonEvents(run.out));
  for (std::size_t i = 0; i < sims_.size(); ++i) {
    EXPECT_EQ(ends[Port(i)]["status"], 4) << Port(i);
    EXPECT_EQ(ends[Port(i)]["code"], 23) << Port(i);
  }
}

// Argument lists of `count` targets with seeds 1, 2, ... and `args`, on noisy lines.
std::vector<std::vector<std::string>> Seeded(int count, const std::vector<std::string>& args) {
  std::vector<std::vector<std::string>> all;
  for (int seed = 1; seed <= count; ++seed) {
    all.push_back({"--seed", std::to_string(seed)});
    all.back().insert(all.back().end(), args.begin(), args.end());
  }
  return all;
}
using CliNoisyLine = CliEndToEnd;

// Under a sanitizer, fewer targets and no judging of the rate of exact downloads.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr int kNoisyDownloads = 8;
#else
constexpr int kNoisyDownloads = 30;
#endif

// One byte in a thousand of what the target sends is damaged (small packets get through).
TEST_F(CliNoisyLine, DownloadsWithRetriesEndExactOrSayWhichRegionIsWrong) {
  const std::vector<Region> regions{
      {0x1000, 0x1000 + 600, 1}, {0x8000, 0x8000 + 600, 2}, {0x20000, 0x20000 + 600, 3}};
  const auto ports =
      StartTargets(Seeded(kNoisyDownloads, {"--noise", "0.001", "--packet-size", "100"}));
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
    exact += dbf == expected;
    EXPECT_EQ(end["status"], dbf == expected ? 0 : 5);
    // Each wrong region (616 bytes with its header, when the sizes are right) is named.
    const auto& failing = end["regions_still_failing"];
    EXPECT_EQ(failing.empty(), dbf == expected);
    for (std::size_t r = 0; r < regions.size() && dbf.size() == expected.size(); ++r) {
      if (dbf.compare(616 * r, 616, expected, 616 * r, 616) == 0) continue;
      EXPECT_NE(std::find(failing.begin(), failing.end(), r + 1), failing.end()) << r + 1;
    }
  }
  RecordProperty("exact", exact);
  if (kNoisyDownloads == 30) {
    EXPECT_GE(exact * 10, kNoisyDownloads * 9) << run.err;
  }
}

// The last frame, the largest, is often the one refused (0x13) after "Upload Success".
TEST_F(CliNoisyLine, UploadsWithConfirmNeverEndZeroAfterTheLastFrameWasRefused) {
  const auto ports = StartTargets(
      Seeded(12, {"--noise-in", "0.0001", "--refuse-bad-frames", "--frame-timeout", "500"}));
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

TEST(CliPorts, TheTableAndTheJsonListTheSamePorts) {
  const auto json = RunCli({"ports", "--json"});
  const auto table = RunCli({"ports"});
  ASSERT_EQ(json.status, 0) << json.err;
  ASSERT_EQ(table.status, 0) << table.err;
  const auto ports = Json::parse(json.out).at("ports");
  std::string expected = ports.empty() ? "" : "DEVICE\n";  // a heading, then a line a port
  for (const auto& port : ports) {
    expected += port.at("device").get<std::string>() + "\n";
  }
  std::string shown;  // the table's first column
  std::istringstream lines(table.out);
  for (std::string line; std::getline(lines, line);) shown += line.substr(0, line.find(' ')) + "\n";
  EXPECT_EQ(shown, expected);
}

// Missing, held locked here, group-only for nobody (as root): each cause names the real one.
TEST(CliOpenFailure, TheReportStaysAndTheCauseFollowsIt) {
  SimProcess sim({});
  const std::string device = sim.Device();
  const auto expectCause = [](const CliRun& run, const std::string& cause) {
    EXPECT_EQ(run.status, 3) << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find("COM Port Open: Port is not available.\ntavrin-cli: " + cause),
              std::string::npos)
        << run.err;
  };
  expectCause(RunCli({"upload", "--port", "/dev/tavrin-no-such-port", "x.urt"}),
              "No such device: /dev/tavrin-no-such-port does not exist. ");

  const int held = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_TRUE(held >= 0 && ::ioctl(held, TIOCEXCL) == 0 && ::flock(held, LOCK_EX | LOCK_NB) == 0);
  const std::string command = ReadFile("/proc/self/comm");
  expectCause(RunCli({"upload", "--port", device, "x.urt"}),
              "Busy: " + device + " is locked (flock) by process " + std::to_string(::getpid()) +
                  " (" + command.substr(0, command.find('\n')) + ")");
  ::close(held);

  const passwd* nobody = ::getpwnam("nobody");
  if (::geteuid() != 0 || !nobody) GTEST_SKIP() << "only root can run as another user";
  struct stat st {};
  ASSERT_TRUE(::chmod(device.c_str(), 0660) == 0 && ::stat(device.c_str(), &st) == 0);
  const group* owner = ::getgrgid(st.st_gid);
  ASSERT_NE(owner, nullptr);
  const CliRun run =
      RunCliAs(nobody->pw_uid, nobody->pw_gid, {"upload", "--port", device, "x.urt"});
  if (run.status == 126 || run.status == 127) GTEST_SKIP() << "nobody may not run " << run.err;
  const std::string group = owner->gr_name;
  const std::string user = nobody->pw_name;
  expectCause(run, "Permission denied: " + device + " belongs to group " + group + ", and user " +
                       user + " is not in it. Add them with: sudo usermod -aG " + group + " " +
                       user);
}

}  // namespace
}  // namespace tavrin::test

namespace tavrin::test {
namespace {

struct ProgramRun {
  const char* program;  // under the build directory
  std::vector<std::string> args;
  int status;
  std::string out;  // a part of stdout
  std::string err;  // a part of stderr
};

// The three programs share one parser: --help and --version answer and change nothing, a
// bad value is named with its option, `--` ends the options.
TEST(ProgramOptions, HelpVersionAndBadValuesAlike) {
  const char* cli = "src/cli/tavrin-cli";
  const char* sim = "sim/tavrin-target-sim";
  const char* files = "sim/tavrin-sample-files";
  const std::string version = " 1.1.0 TVR-STB-001 ";
  const ProgramRun rows[] = {
      {cli, {"upload", "--help"}, 0, "Usage: tavrin-cli upload [OPTIONS] FILE.URT", ""},
      {cli, {"--version"}, 0, "tavrin-cli" + version, ""},
      {cli,
       {"upload", "--port=x", "--baud=fast", "x.urt"},
       1,
       "",
       "tavrin-cli: --baud: 'fast' is not a positive number\n"},
      {sim, {"--help"}, 0, "--scenario NAME", ""},
      {sim, {"--version"}, 0, "tavrin-target-sim" + version, ""},
      {sim, {"--noise=2"}, 2, "", "tavrin-target-sim: --noise: '2' is not a rate from 0 to 1\n"},
      {files, {"--help"}, 0, "Usage: tavrin-sample-files [OPTIONS] DIR", ""},
      {files, {"--version"}, 0, "tavrin-sample-files" + version, ""},
      {files, {"--out", "x"}, 1, "", "tavrin-sample-files: unknown option --out\n"},
      {files, {"--", "--dir"}, 0, "--dir/sample.urt\n--dir/sample.dsf\n", ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.program) + " " + testing::PrintToString(row.args));
    const TempDir cwd;
    const auto run = RunProgram(row.program, row.args, cwd.Path());
    EXPECT_EQ(run.status, row.status) << run.err;
    EXPECT_NE(run.out.find(row.out), std::string::npos) << run.out;
    EXPECT_NE(run.err.find(row.err), std::string::npos) << run.err;
    // Nothing is made but what `--` asked for.
    const bool made = std::filesystem::exists(cwd / "--dir");
    EXPECT_EQ(made, row.args.front() == "--");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(cwd.Path()), {}), made ? 1 : 0);
  }
}

}  // namespace
}  // namespace tavrin::test
