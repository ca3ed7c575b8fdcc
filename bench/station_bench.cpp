// tavrin_station_bench: a production station loading 20 boxes in a row on one port at
// 115200 baud, each box a fresh simulated target paced like a UART, put on the line when
// the station starts looking for the next box (the operator had it waiting).
//
//   tavrin_station_bench [--units N] [--gap S] [--bin DIR]
//
// For every box after the first:
//   changeover = the next box's first frame - the moment the previous box was taken away
//                (when the station reported its unit, the bench removes it)
// and over the time the station only waits (from a box's removal to the next box's
// answer) the CPU share of tavrin-cli (user + system from /proc, over wall time).
// Targets: changeover <= gap + 0.5 s for every box, CPU share while waiting <= 0.005.
// Exits 1 when a target is missed or a unit is not loaded, 2 on a usage error.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <spawn.h>
#include <sys/eventfd.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "bench/bench_files.h"
#include "sim/fd_stream.h"
#include "sim/paced_stream.h"
#include "sim/target.h"

extern char** environ;

namespace tavrin::bench {
namespace {

using Clock = std::chrono::steady_clock;
using Json = nlohmann::json;
using namespace std::chrono_literals;

constexpr unsigned kBaud = 115200;
constexpr std::uint32_t kImageBytes = 16 * 1024;  // 1.4 s of line a box
constexpr double kChangeoverAllowance = 0.5;      // s beyond the gap
constexpr double kMaxWaitingCpuShare = 0.005;
constexpr auto kEventLimit = 60s;

struct Options {
  unsigned units = 20;
  double gap = 2.0;
  std::string binaryDir = TAVRIN_BINARY_DIR;
};

double Seconds(Clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

// The station: tavrin-cli station --json, its events read as they come.
class StationProcess {
 public:
  StationProcess(const std::string& program, const std::vector<std::string>& args,
                 const std::string& errors) {
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errors.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ) != 0) {
      pid_ = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    out_ = out[0];
  }
  ~StationProcess() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) ::close(out_);
  }
  bool Started() const { return pid_ > 0; }

  // The next event and when it was read; nullopt at the end or after `limit`.
  std::optional<std::pair<Json, Clock::time_point>> Next(std::chrono::milliseconds limit) {
    const auto until = Clock::now() + limit;
    for (;;) {
      if (const auto end = buffer_.find('\n'); end != std::string::npos) {
        auto event = Json::parse(buffer_.substr(0, end), nullptr, false);
        buffer_.erase(0, end + 1);
        if (!event.is_discarded()) return std::make_pair(event, Clock::now());
        continue;
      }
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now());
      pollfd ready{out_, POLLIN, 0};
      if (left.count() <= 0 || ::poll(&ready, 1, static_cast<int>(left.count())) <= 0) {
        return std::nullopt;
      }
      char chunk[4096];
      const ssize_t got = ::read(out_, chunk, sizeof chunk);
      if (got <= 0) return std::nullopt;
      buffer_.append(chunk, static_cast<std::size_t>(got));
    }
  }
  // Reads events until one of `name` for `unit` comes.
  std::optional<std::pair<Json, Clock::time_point>> Until(const std::string& name, unsigned unit,
                                                          const std::string& state = {}) {
    while (auto event = Next(kEventLimit)) {
      const Json& e = event->first;
      if (e["event"] == name && e.value("unit", 0u) == unit &&
          (state.empty() || e.value("state", "") == state)) {
        return event;
      }
    }
    return std::nullopt;
  }
  // User + system seconds the station has taken so far.
  double CpuSeconds() const {
    std::ifstream stat("/proc/" + std::to_string(pid_) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const auto close = text.rfind(')');
    if (close == std::string::npos) return 0;
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    double ticks = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
      if (i == 14 || i == 15) ticks += std::stod(field);  // utime, stime
    }
    return ticks / static_cast<double>(::sysconf(_SC_CLK_TCK));
  }
  int Wait() {
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  std::string buffer_;
};

// One box on the line: a fresh simulated target on the pseudo-terminal's master side.
class Box {
 public:
  explicit Box(int master)
      : stop_(::eventfd(0, EFD_CLOEXEC)),
        line_(master, stop_),
        paced_(line_, kBaud, clock_),
        target_(paced_, sim::TargetConfig{}) {
    target_.Start();
  }
  ~Box() {
    const std::uint64_t one = 1;
    [[maybe_unused]] auto written = ::write(stop_, &one, sizeof one);
    target_.Stop();
    ::close(stop_);
  }

 private:
  int stop_;
  sim::FdStream line_;
  sim::SteadyPaceClock clock_;
  sim::PacedStream paced_;
  sim::Target target_;
};

std::optional<Options> Parse(int argc, char** argv) {
  Options options;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string name = argv[i];
    if (name == "--units") {
      options.units = static_cast<unsigned>(std::stoul(argv[i + 1]));
    } else if (name == "--gap") {
      options.gap = std::stod(argv[i + 1]);
    } else if (name == "--bin") {
      options.binaryDir = argv[i + 1];
    } else {
      return std::nullopt;
    }
  }
  if (argc % 2 == 0 || options.units < 2) return std::nullopt;
  return options;
}

int Run(const Options& options) {
  char pattern[] = "/tmp/tavrin-station-bench.XXXXXX";
  if (!::mkdtemp(pattern)) return 1;
  const std::string dir = pattern;
  const std::string image = dir + "/image.urt";
  if (!WriteUploadImage(image, kImageBytes)) return 1;

  int master = -1;
  int slave = -1;
  if (::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) return 1;
  ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
  termios raw{};
  ::tcgetattr(slave, &raw);
  ::cfmakeraw(&raw);
  ::tcsetattr(slave, TCSANOW, &raw);
  const std::string device = ::ttyname(slave);  // the slave stays open: no hang-up between boxes

  char gap[32];
  std::snprintf(gap, sizeof gap, "%g", options.gap);
  StationProcess station(
      options.binaryDir + "/src/cli/tavrin-cli",
      {"station", "--json", "--port", device, "--baud", std::to_string(kBaud), "--units",
       std::to_string(options.units), "--gap", gap, "--journal", dir + "/journal.db", image},
      dir + "/station.err");
  if (!station.Started()) return 1;

  std::vector<double> changeovers;
  double waitingCpu = 0;
  double waitingWall = 0;
  int failures = 0;
  std::optional<Clock::time_point> removedAt;
  double cpuAtRemoval = 0;
  std::unique_ptr<Box> box;
  for (unsigned unit = 1; unit <= options.units; ++unit) {
    // The operator has the next box waiting: it is on the line as soon as the station looks.
    if (!station.Until("state", unit, "waiting-for-box")) break;
    ::tcflush(master, TCIFLUSH);  // what was sent before the box was there never reached it
    box = std::make_unique<Box>(master);
    const auto answered = station.Until("unit_start", unit);
    const auto first = station.Until("progress", unit);
    if (!answered || !first) break;
    if (removedAt) {
      changeovers.push_back(Seconds(first->second - *removedAt));
      if (changeovers.back() > options.gap + kChangeoverAllowance) {
        std::printf("  unit %u: answered %.3f s and first frame %.3f s after the removal\n", unit,
                    Seconds(answered->second - *removedAt), changeovers.back());
      }
      waitingCpu += station.CpuSeconds() - cpuAtRemoval;
      waitingWall += Seconds(answered->second - *removedAt);
    }
    const auto ended = station.Until("unit", unit);
    if (!ended) break;
    if (ended->first["outcome"] != "loaded") ++failures;
    box.reset();  // taken away
    ::tcflush(master, TCIFLUSH);
    removedAt = Clock::now();
    cpuAtRemoval = station.CpuSeconds();
  }
  box.reset();
  const int status = station.Wait();
  ::close(master);
  ::close(slave);

  if (changeovers.size() + 1 != options.units) {
    std::fprintf(stderr, "station-bench: only %zu of %u units came (see %s/station.err)\n",
                 changeovers.size() + 1, options.units, dir.c_str());
    return 1;
  }
  const auto [low, high] = std::minmax_element(changeovers.begin(), changeovers.end());
  double mean = 0;
  for (double c : changeovers) mean += c / static_cast<double>(changeovers.size());
  const double share = waitingWall > 0 ? waitingCpu / waitingWall : 0;
  const double limit = options.gap + kChangeoverAllowance;
  std::printf("station-20-units-115200: %u units, gap %.1f s\n", options.units, options.gap);
  std::printf(
      "  changeover (box taken away -> next box's first frame): min %.3f s, mean %.3f s, "
      "max %.3f s (target <= %.1f s)\n",
      *low, mean, *high, limit);
  std::printf("  CPU while waiting: %.3f s over %.1f s = %.4f (target <= %.3f)\n", waitingCpu,
              waitingWall, share, kMaxWaitingCpuShare);
  std::printf("  units not loaded: %d; station exit status %d\n", failures, status);
  const bool ok = *high <= limit && share <= kMaxWaitingCpuShare && failures == 0 && status == 0;
  std::printf("  %s\n", ok ? "PASS" : "FAIL");
  std::error_code ignored;
  if (ok) std::filesystem::remove_all(dir, ignored);
  return ok ? 0 : 1;
}

}  // namespace
}  // namespace tavrin::bench

int main(int argc, char** argv) {
  const auto options = tavrin::bench::Parse(argc, argv);
  if (!options) {
    std::fprintf(stderr, "usage: tavrin_station_bench [--units N] [--gap S] [--bin DIR]\n");
    return 2;
  }
  return tavrin::bench::Run(*options);
}
