// tavrin_line_bench: how much of the line an upload or a download keeps busy, and how much
// CPU tavrin-cli takes meanwhile, against tavrin-target-sim paced like a real UART.
//
//   tavrin_line_bench [--case NAME]... [--repeat N] [--trace] [--work DIR] [--bin DIR]
//
// For every case the simulated target is started on a pseudo-terminal at the case's
// speed, tavrin-cli runs the transfer as a child process, and its wall time and CPU time
// (user + system, from wait4) give:
//   line efficiency = payload bytes / (elapsed s x baud / 10)
//   CPU share       = CPU s / elapsed s
// where the payload is the URT frame bytes of an upload and the region data bytes of a
// download. A case of several boxes runs one tavrin-cli for all of them: each box moves
// the case's bytes in that elapsed time, and the CPU share is that of all of them. With --repeat
// the fastest run of each case is judged: other load on the machine only ever adds time, so the
// fastest run is the closest to what the programs themselves cost; the slowest is shown beside it.
// Exits 1 when any target is missed or a transfer fails, 2 on a usage error.
#include <stdlib.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bench/bench_files.h"
#include "bench/child_process.h"

namespace tavrin::bench {
namespace {

constexpr unsigned kBitsPerByte = 10;           // start bit, 8 data bits, stop bit
constexpr const char* kLargestPacket = "2979";  // region data bytes in a data packet
constexpr std::uint32_t kKiB = 1024;

enum class Direction { kUpload, kDownload };

struct Targets {
  double minEfficiency;
  double maxCpuShare;
};

constexpr Targets kUploadTargets{0.97, 0.02};
constexpr Targets kDownloadTargets{0.95, 0.05};
// A line that hands its bytes over a few at a time must not cost more CPU than an upload.
constexpr Targets kFineGrainedTargets{0.95, 0.02};
constexpr Targets kFourBoxTargets{0.95, 0.05};

// How the simulated target's line behaves beyond its speed.
struct LineShape {
  unsigned chunk = 0;      // --chunk: what it sends arrives in groups of 1..chunk bytes
  unsigned latencyMs = 0;  // --latency: what it sends arrives this much later
};

struct BenchCase {
  std::string_view name;
  Direction direction;
  std::uint32_t bytes;  // URT frame bytes, or region data bytes, of each target
  unsigned baud;
  std::optional<Targets> targets;  // none: the figures are shown, not judged
  LineShape line = {};
  unsigned boxes = 1;  // simulated targets served at once by one tavrin-cli (--port each)
};

constexpr std::array kCases{
    BenchCase{"upload-256KiB-115200", Direction::kUpload, 256 * kKiB, 115200, kUploadTargets},
    BenchCase{"upload-1MiB-921600", Direction::kUpload, 1024 * kKiB, 921600, kUploadTargets},
    BenchCase{"download-256KiB-115200", Direction::kDownload, 256 * kKiB, 115200, kDownloadTargets},
    BenchCase{"download-1MiB-921600", Direction::kDownload, 1024 * kKiB, 921600, kDownloadTargets},
    // A UART without a deep FIFO: the line arrives 1-4 bytes every couple of hundred
    // microseconds, and the receive path pays its cost per wake-up.
    BenchCase{"download-128KiB-115200-chunk4", Direction::kDownload, 128 * kKiB, 115200,
              kFineGrainedTargets, LineShape{4, 0}},
    // A USB serial adapter with its default 16 ms latency timer (no low-latency mode):
    // every frame waits that much longer for the target's ENQ. No target: it shows what
    // low-latency mode is worth, beside upload-1MiB-921600.
    BenchCase{"upload-1MiB-921600-latency16", Direction::kUpload, 1024 * kKiB, 921600, std::nullopt,
              LineShape{0, 16}},
    // A production line: four boxes loaded at once by one tavrin-cli. Each line must stay
    // as busy as one box's would; the CPU share is that of all four together.
    BenchCase{"upload-256KiB-115200-x4", Direction::kUpload, 256 * kKiB, 115200, kFourBoxTargets,
              LineShape{}, 4},
};

struct Options {
  std::vector<std::string> cases;  // empty: all
  int repeat = 1;
  bool trace = false;
  std::string workDir;  // empty: a temporary one, removed at the end
  std::string binaryDir = TAVRIN_BINARY_DIR;
};

struct Measurement {
  ChildRun run;
  std::string problem;       // empty when the transfer did what it should
  double simCpuSeconds = 0;  // the simulated target's, over the whole case
};

// The time the case's bytes take on the line, in seconds.
double LineSeconds(const BenchCase& c) {
  return static_cast<double>(c.bytes) * kBitsPerByte / c.baud;
}

std::chrono::milliseconds RunLimit(const BenchCase& c) {
  return std::chrono::milliseconds{static_cast<long>(LineSeconds(c) * 3000) + 30'000};
}

std::string CliPath(const Options& options) {
  return options.binaryDir + "/src/cli/tavrin-cli";
}

std::string SimPath(const Options& options) {
  return options.binaryDir + "/sim/tavrin-target-sim";
}

// The downloaded file of one box: tavrin-cli names it after the port ("{port}": the
// device without "/dev/", '/' as '_').
std::filesystem::path DownloadedFile(const std::filesystem::path& dir, std::string device) {
  if (device.starts_with("/dev/")) device.erase(0, 5);
  std::replace(device.begin(), device.end(), '/', '_');
  return dir / ("bench-" + device + ".dbf");
}

// The CLI's arguments for the case, after its input file has been written; nullopt when
// it could not be.
std::optional<std::vector<std::string>> PrepareCase(const BenchCase& c,
                                                    const std::filesystem::path& dir,
                                                    const std::vector<std::string>& devices) {
  std::vector<std::string> args{c.direction == Direction::kUpload ? "upload" : "download", "--baud",
                                std::to_string(c.baud)};
  for (const auto& device : devices) args.insert(args.end(), {"--port", device});
  if (c.direction == Direction::kUpload) {
    const auto image = dir / "bench.urt";
    if (!WriteUploadImage(image, c.bytes)) return std::nullopt;
    args.push_back(image.string());
    return args;
  }
  const auto script = dir / "bench.dsf";
  if (!WriteRegionScript(dir, script, c.bytes)) return std::nullopt;
  std::error_code ignored;
  for (const auto& device : devices) {
    std::filesystem::remove(DownloadedFile(dir, device), ignored);  // only this run's are judged
  }
  args.insert(args.end(), {"--output", (dir / "bench-{port}.dbf").string(), script.string()});
  return args;
}

// Empty when the transfer succeeded. Exit status 0 of a download also means that the
// region's data matched the CRC the target sent with it.
std::string CheckResult(const BenchCase& c, const ChildRun& run, const std::filesystem::path& dir,
                        const std::vector<std::string>& devices) {
  if (!run.started) return "tavrin-cli did not start";
  if (run.timedOut) return "tavrin-cli did not end in time";
  if (run.exitStatus != 0) return "tavrin-cli exit status " + std::to_string(run.exitStatus);
  if (c.direction == Direction::kDownload) {
    for (const auto& device : devices) {
      std::error_code error;
      const auto size = std::filesystem::file_size(DownloadedFile(dir, device), error);
      if (error || size != DownloadedFileSize(c.bytes)) return "downloaded file has the wrong size";
    }
  }
  return {};
}

Measurement Measure(const BenchCase& c, const Options& options, const std::filesystem::path& dir) {
  std::vector<std::string> simArgs{"--baud", std::to_string(c.baud)};
  if (c.direction == Direction::kDownload) {
    simArgs.insert(simArgs.end(), {"--packet-size", kLargestPacket});
  }
  if (c.line.chunk > 0) simArgs.insert(simArgs.end(), {"--chunk", std::to_string(c.line.chunk)});
  if (c.line.latencyMs > 0) {
    simArgs.insert(simArgs.end(), {"--latency", std::to_string(c.line.latencyMs)});
  }
  std::vector<std::unique_ptr<SimTarget>> sims;
  std::vector<std::string> devices;
  for (unsigned box = 1; box <= c.boxes; ++box) {
    const auto log = dir / (std::string(c.name) + ".sim" + std::to_string(box) + ".log");
    sims.push_back(std::make_unique<SimTarget>(SimPath(options), simArgs, log));
    if (sims.back()->Device().empty()) return {{}, "tavrin-target-sim did not start"};
    devices.push_back(sims.back()->Device());
  }
  auto args = PrepareCase(c, dir, devices);
  if (!args) return {{}, "cannot write the input file"};
  if (options.trace) args->push_back("--trace");
  Measurement m;
  m.run = RunToEnd(CliPath(options), *args, dir / (std::string(c.name) + ".cli.log"), RunLimit(c));
  for (auto& sim : sims) {
    sim->Stop();
    m.simCpuSeconds += sim->CpuSeconds();
  }
  m.problem = CheckResult(c, m.run, dir, devices);
  return m;
}

// Runs the case `options.repeat` times; the fastest good run, and the slowest elapsed
// time. A failed run is the result.
Measurement MeasureFastest(const BenchCase& c, const Options& options,
                           const std::filesystem::path& dir, double& slowest) {
  Measurement fastest;
  slowest = 0;
  for (int i = 0; i < options.repeat; ++i) {
    Measurement m = Measure(c, options, dir);
    if (!m.problem.empty()) return m;
    slowest = std::max(slowest, m.run.elapsedSeconds);
    if (i == 0 || m.run.elapsedSeconds < fastest.run.elapsedSeconds) fastest = m;
  }
  return fastest;
}

const char* Verdict(bool pass) {
  return pass ? "PASS" : "FAIL";
}

void PrintHeading() {
  std::printf("%-29s %8s %7s %7s %9s %9s %-17s %7s %-16s %9s\n", "case", "bytes", "baud", "line s",
              "elapsed s", "slowest s", "efficiency", "CPU s", "CPU share", "sim CPU s");
}

// A figure with its target and verdict ("0.9712>=0.97 PASS"), or alone when the case has
// no target.
std::string Judged(double value, const char* relation, std::optional<double> target, bool pass) {
  char text[48];
  if (target) {
    std::snprintf(text, sizeof text, "%.4f%s%.2f %s", value, relation, *target, Verdict(pass));
  } else {
    std::snprintf(text, sizeof text, "%.4f (shown)", value);
  }
  return text;
}

// One row; false when the case missed a target or failed.
bool Report(const BenchCase& c, const Measurement& m, double slowest) {
  if (!m.problem.empty()) {
    std::printf("%-29s %8u %7u  FAIL: %s\n", std::string(c.name).c_str(), c.bytes, c.baud,
                m.problem.c_str());
    return false;
  }
  const double elapsed = m.run.elapsedSeconds;
  const double efficiency = static_cast<double>(c.bytes) / (elapsed * c.baud / kBitsPerByte);
  const double cpuShare = m.run.cpuSeconds / elapsed;
  const bool efficient = !c.targets || efficiency >= c.targets->minEfficiency;
  const bool frugal = !c.targets || cpuShare <= c.targets->maxCpuShare;
  const auto target = [&](double Targets::*field) {
    return c.targets ? std::optional<double>((*c.targets).*field) : std::nullopt;
  };
  std::printf("%-29s %8u %7u %7.3f %9.3f %9.3f %-17s %7.3f %-16s %9.3f\n",
              std::string(c.name).c_str(), c.bytes, c.baud, LineSeconds(c), elapsed, slowest,
              Judged(efficiency, ">=", target(&Targets::minEfficiency), efficient).c_str(),
              m.run.cpuSeconds,
              Judged(cpuShare, "<=", target(&Targets::maxCpuShare), frugal).c_str(),
              m.simCpuSeconds);
  std::fflush(stdout);
  return efficient && frugal;
}

bool Selected(const BenchCase& c, const Options& options) {
  if (options.cases.empty()) return true;
  for (const auto& name : options.cases) {
    if (name == c.name) return true;
  }
  return false;
}

std::optional<Options> ParseArguments(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--trace") {
      options.trace = true;
      continue;
    }
    if (i + 1 >= argc) return std::nullopt;
    const std::string value = argv[++i];
    if (arg == "--case") {
      const bool known =
          std::ranges::any_of(kCases, [&](const BenchCase& c) { return c.name == value; });
      if (!known) return std::nullopt;
      options.cases.push_back(value);
    } else if (arg == "--repeat") {
      options.repeat = std::atoi(value.c_str());
      if (options.repeat < 1) return std::nullopt;
    } else if (arg == "--work") {
      options.workDir = value;
    } else if (arg == "--bin") {
      options.binaryDir = value;
    } else {
      return std::nullopt;
    }
  }
  return options;
}

void PrintUsage() {
  std::fprintf(stderr,
               "usage: tavrin_line_bench [--case NAME]... [--repeat N] [--trace] [--work DIR]\n"
               "                         [--bin DIR]\n"
               "  --repeat  run each case N times and judge the fastest run\n"
               "  --trace   run tavrin-cli with --trace (its log is kept in the work directory)\n"
               "  --work    keep inputs and logs in DIR\n"
               "  --bin     build directory holding src/cli/tavrin-cli and sim/tavrin-target-sim\n"
               "  cases:");
  for (const auto& c : kCases) std::fprintf(stderr, " %s", std::string(c.name).c_str());
  std::fprintf(stderr, "\n");
}

std::filesystem::path MakeWorkDir(const Options& options) {
  if (!options.workDir.empty()) {
    std::error_code ignored;
    std::filesystem::create_directories(options.workDir, ignored);
    return options.workDir;
  }
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/tavrin-bench.XXXXXX";
  return ::mkdtemp(pattern.data()) ? pattern : std::string{};
}

int Run(const Options& options) {
  const auto dir = MakeWorkDir(options);
  if (dir.empty()) {
    std::fprintf(stderr, "tavrin_line_bench: cannot create a work directory\n");
    return 1;
  }
  PrintHeading();
  bool allPass = true;
  for (const auto& c : kCases) {
    if (!Selected(c, options)) continue;
    double slowest = 0;
    const Measurement m = MeasureFastest(c, options, dir, slowest);
    allPass = Report(c, m, slowest) && allPass;
  }
  const bool keep = !options.workDir.empty() || options.trace || !allPass;
  if (keep) {
    std::printf("inputs and logs: %s\n", dir.c_str());
  } else {
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
  }
  std::printf("%s\n", allPass ? "all targets met" : "some targets missed");
  return allPass ? 0 : 1;
}

}  // namespace
}  // namespace tavrin::bench

int main(int argc, char** argv) {
  const auto options = tavrin::bench::ParseArguments(argc, argv);
  if (!options) {
    tavrin::bench::PrintUsage();
    return 2;
  }
  return tavrin::bench::Run(*options);
}
