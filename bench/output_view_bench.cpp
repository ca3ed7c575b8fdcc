// tavrin_output_view_bench: whether the output window keeps up with a target that prints
// without pause. The window's output view (Qt offscreen, shown, 1200 x 800) is fed
// through the real capture path, the capture log with an OutputViewSink over it:
//   - a "reader" thread appends lines of text at the line rate of 921600 baud (10 bits a
//     byte, ~92 KB/s), in reads like the reader thread's: every 1 to 20 ms, whatever
//     arrived since the last read, at most 3000 bytes a read;
//   - a "transfer" thread appends a red or a blue report block every 2 s.
// On the UI thread a 10 ms timer notes the largest gap between its ticks. At the end the
// view's bytes are compared with the capture file's.
//
//   tavrin_output_view_bench [--seconds N] [--baud N]
//
// Targets (PASS/FAIL each; exit status 1 when one is missed):
//   largest timer gap <= 50 ms; UI thread CPU <= 0.25 of a core; the view holds every
//   byte of the capture file, in order; resident memory grows by < 4x the text held.
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <thread>

#include "app/output_view.h"
#include "serial/error_reporter.h"
#include "terminal/capture_log.h"
#include "transfer/report_texts.h"

namespace tavrin::bench {
namespace {

using Clock = std::chrono::steady_clock;

constexpr unsigned kBitsPerByte = 10;  // start bit, 8 data bits, stop bit
constexpr std::size_t kReadBufferSize = 3000;
constexpr int kMinReadGapMs = 1;
constexpr int kMaxReadGapMs = 20;
constexpr auto kReportInterval = std::chrono::seconds{2};
constexpr int kTimerMs = 10;
constexpr double kMaxGapMs = 50;
constexpr double kMaxUiCpuShare = 0.25;
constexpr double kMaxMemoryGrowth = 4.0;
constexpr int kViewWidth = 1200;
constexpr int kViewHeight = 800;

struct Options {
  int seconds = 60;
  unsigned baud = 921600;
};

// Reports of the capture log (none are expected) go to standard error.
class StderrErrorSink final : public serial::ErrorSink {
 public:
  void ShowError(std::string text) override {
    std::fprintf(stderr, "capture: %s", text.c_str());
    errors.fetch_add(1);
  }
  void EndProcess() override {}
  std::atomic<int> errors{0};
};

// Stops the feeding threads: they sleep on it between reads, so a stop wakes them.
class StopFlag {
 public:
  void Raise() {
    {
      std::lock_guard lock(mutex_);
      raised_ = true;
    }
    wake_.notify_all();
  }
  // Sleeps until `when`; false when the stop came first.
  bool SleepUntil(Clock::time_point when) {
    std::unique_lock lock(mutex_);
    return !wake_.wait_until(lock, when, [this] { return raised_; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable wake_;
  bool raised_ = false;
};

// Lines of text such as a target's boot log prints: numbered, 20 to 120 characters.
class LineSource {
 public:
  explicit LineSource(unsigned seed) : random_(seed) {}
  std::string Next(std::size_t count) {
    while (buffered_.size() < count) AddLine();
    std::string out = buffered_.substr(0, count);
    buffered_.erase(0, count);
    return out;
  }

 private:
  void AddLine() {
    static constexpr std::string_view kWords =
        "loader init flash sector erase ok crc region tuner demux video audio "
        "eeprom block partition status ready boot kernel module service ";
    std::uniform_int_distribution<std::size_t> length(20, 120);
    std::uniform_int_distribution<std::size_t> from(0, kWords.size() - 1);
    std::string line = std::to_string(lineNumber_++) + ": ";
    const std::size_t target = length(random_);
    while (line.size() < target) line += kWords[from(random_)];
    line += "\r\n";
    buffered_ += line;
  }

  std::mt19937 random_;
  std::string buffered_;
  unsigned lineNumber_ = 0;
};

std::span<const std::uint8_t> Bytes(const std::string& text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// The reader thread's part: what the line has carried since the last read, as reads.
void FeedText(terminal::CaptureLog& log, StopFlag& stop, const Options& options,
              Clock::time_point start, Clock::time_point end) {
  LineSource source(1);
  std::mt19937 random(2);
  std::uniform_int_distribution<int> gap(kMinReadGapMs, kMaxReadGapMs);
  const double bytesPerSecond = static_cast<double>(options.baud) / kBitsPerByte;
  std::uint64_t sent = 0;
  auto next = start;
  while (next < end && stop.SleepUntil(next)) {
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    const auto due = static_cast<std::uint64_t>(elapsed * bytesPerSecond);
    while (sent < due) {
      const std::size_t read =
          static_cast<std::size_t>(std::min<std::uint64_t>(due - sent, kReadBufferSize));
      log.WriteToCapture(Bytes(source.Next(read)), terminal::ColourMark::kNone);
      sent += read;
    }
    next += std::chrono::milliseconds{gap(random)};
  }
}

// The transfer thread's part: a report block now and then, red and blue in turn.
void FeedReports(terminal::CaptureLog& log, StopFlag& stop, Clock::time_point start,
                 Clock::time_point end) {
  bool red = false;
  for (auto next = start + kReportInterval; next < end && stop.SleepUntil(next);
       next += kReportInterval) {
    const auto block = transfer::ReportBlockFor(red ? transfer::result::kTerminated
                                                    : transfer::result::kUploadSuccess);
    log.WriteToCapture(Bytes(block->text), block->colour);
    red = !red;
  }
}

long ResidentBytes() {
  std::ifstream statm("/proc/self/statm");
  long pages = 0;
  long resident = 0;
  statm >> pages >> resident;
  return resident * sysconf(_SC_PAGESIZE);
}

double ThreadCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The machine's one-minute load average: other work on the machine delays the UI
// thread too, and shows in the timer's gaps.
double LoadAverage() {
  double load[1] = {0};
  return getloadavg(load, 1) == 1 ? load[0] : 0;
}

const char* Verdict(bool pass) {
  return pass ? "PASS" : "FAIL";
}

std::optional<Options> ParseArguments(int argc, char** argv) {
  Options options;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string_view arg = argv[i];
    const int value = std::atoi(argv[i + 1]);
    if (value <= 0) return std::nullopt;
    if (arg == "--seconds") {
      options.seconds = value;
    } else if (arg == "--baud") {
      options.baud = static_cast<unsigned>(value);
    } else {
      return std::nullopt;
    }
  }
  if (argc % 2 == 0) return std::nullopt;
  return options;
}

int Run(QApplication& app, const Options& options) {
  char pattern[] = "/tmp/tavrin-view-bench.XXXXXX";
  if (::mkdtemp(pattern) == nullptr) {
    std::fprintf(stderr, "tavrin_output_view_bench: cannot create a work directory\n");
    return 1;
  }
  const std::filesystem::path dir = pattern;

  app::OutputView view;
  view.resize(kViewWidth, kViewHeight);
  view.show();
  app::OutputViewSink sink(view);
  StderrErrorSink errors;
  serial::ErrorReporter reporter(errors);
  terminal::CaptureLog log(dir, sink, reporter);
  QApplication::processEvents();
  const long residentBefore = ResidentBytes();

  double largestGapMs = 0;
  double largestCpuGapMs = 0;  // the UI thread's own work between two ticks
  double cpuAtTick = 0;
  QElapsedTimer sinceTick;
  QTimer ticker;
  ticker.setTimerType(Qt::PreciseTimer);
  QObject::connect(&ticker, &QTimer::timeout, [&] {
    largestGapMs = std::max(largestGapMs, static_cast<double>(sinceTick.nsecsElapsed()) / 1e6);
    sinceTick.restart();
    const double cpu = ThreadCpuSeconds();
    largestCpuGapMs = std::max(largestCpuGapMs, (cpu - cpuAtTick) * 1e3);
    cpuAtTick = cpu;
  });

  const auto start = Clock::now() + std::chrono::milliseconds{100};
  const auto end = start + std::chrono::seconds{options.seconds};
  StopFlag stop;
  std::thread reader(FeedText, std::ref(log), std::ref(stop), std::cref(options), start, end);
  std::thread transfer(FeedReports, std::ref(log), std::ref(stop), start, end);
  const double cpuBefore = ThreadCpuSeconds();
  QElapsedTimer wall;
  wall.start();
  cpuAtTick = cpuBefore;
  sinceTick.start();
  ticker.start(kTimerMs);
  QTimer::singleShot(std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()),
                     &app, &QApplication::quit);
  QApplication::exec();
  ticker.stop();
  stop.Raise();
  reader.join();
  transfer.join();
  sink.Drain();
  const double uiCpu = ThreadCpuSeconds() - cpuBefore;
  const double elapsed = static_cast<double>(wall.nsecsElapsed()) / 1e9;
  const long residentAfter = ResidentBytes();

  const std::string captured = ReadFile(log.Path());
  const std::string_view shown = view.Content().Bytes();
  const bool complete = !captured.empty() && shown == captured && errors.errors == 0;
  const double held = static_cast<double>(shown.size());
  const double growth = static_cast<double>(residentAfter - residentBefore) / held;
  const double cpuShare = uiCpu / elapsed;

  std::printf("output view, %u baud, %d s: %zu bytes in %zu lines, %.1f s elapsed\n", options.baud,
              options.seconds, shown.size(), view.Content().LineCount(), elapsed);
  std::printf("  largest gap of a %d ms timer  %8.1f ms  <= %.0f ms    %s\n", kTimerMs,
              largestGapMs, kMaxGapMs, Verdict(largestGapMs <= kMaxGapMs));
  std::printf("  (UI thread CPU between two ticks at most %.1f ms; load average %.2f)\n",
              largestCpuGapMs, LoadAverage());
  std::printf("  UI thread CPU                %8.3f     <= %.2f core %s\n", cpuShare,
              kMaxUiCpuShare, Verdict(cpuShare <= kMaxUiCpuShare));
  std::printf("  view holds the capture file  %8s                %s\n", complete ? "yes" : "no",
              Verdict(complete));
  std::printf("  resident memory growth       %8.2f x  <  %.0f x      %s (%.1f MB for %.1f MB)\n",
              growth, kMaxMemoryGrowth, Verdict(growth < kMaxMemoryGrowth),
              static_cast<double>(residentAfter - residentBefore) / 1e6, held / 1e6);
  std::fflush(stdout);
  log.CloseAndDelete();
  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);
  return largestGapMs <= kMaxGapMs && cpuShare <= kMaxUiCpuShare && complete &&
                 growth < kMaxMemoryGrowth
             ? 0
             : 1;
}

}  // namespace
}  // namespace tavrin::bench

int main(int argc, char** argv) {
  const auto options = tavrin::bench::ParseArguments(argc, argv);
  if (!options) {
    std::fprintf(stderr, "usage: tavrin_output_view_bench [--seconds N] [--baud N]\n");
    return 2;
  }
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  return tavrin::bench::Run(app, *options);
}
