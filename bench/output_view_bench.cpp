// tavrin_output_view_bench: whether the output window keeps up with a target that prints
// without pause. The window's output view (Qt offscreen, shown, 1200 x 800) is fed
// through the real capture path, the capture log with an OutputViewSink over it:
//   - a "reader" thread appends lines of text at the line rate of 921600 baud (10 bits a
//     byte, ~92 KB/s), in reads like the reader thread's: every 1 to 20 ms, whatever
//     arrived since the last read, at most 3000 bytes a read;
//   - a "transfer" thread appends a red or a blue report block every 2 s.
// On the UI thread a 10 ms timer notes the largest gap between its ticks. At the end the
// view's text (read through its index) is compared with the capture file.
//
// A second run floods the view: 1 GiB of such text, appended in reads of 3000 bytes as
// fast as the view takes it (the feeder keeps at most a few megabytes ahead of what the
// view has shown), then jumps to the top and to the end and finds a text written near
// the start while the view shows the end.
//
//   tavrin_output_view_bench [--run paced|flood|both] [--seconds N] [--baud N]
//                            [--flood-mib N] [--linger S]
//
// --linger S keeps the flooded window up for S seconds after the run, scrolled to the
// found text with the Find dialog open (to look at it on a desktop).
//
// Targets (PASS/FAIL each; exit status 1 when one is missed):
//   paced: largest timer gap <= 50 ms; UI thread CPU <= 0.25 of a core; the view shows
//   every byte of the capture file, in order; resident memory grows by < 4x the text.
//   flood: resident memory grows by <= 64 MB over the whole run; largest timer gap
//   <= 50 ms; jumping to the top and to the end <= 50 ms each; Find of the text near
//   the start, from the end, <= 2 s; the view shows every byte of the capture.
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <thread>

#include <QImage>
#include <QKeyEvent>
#include <QLineEdit>
#include <QScrollBar>

#include "app/find_dialog.h"
#include "app/find_text.h"
#include "app/output_view.h"
#include "app/user_prompts.h"
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

constexpr double kFloodMaxGrowthMb = 64;
constexpr double kMaxJumpMs = 50;
constexpr double kMaxFindMs = 2000;
constexpr std::size_t kFloodAhead = 1024 * 1024;  // bytes the feeder may be ahead
constexpr std::size_t kMarkerAt = 1024 * 1024;    // where the text to find is written
constexpr const char* kMarker = "the marker line near the start 8d1e";

enum class Runs : std::uint8_t { kPaced, kFlood, kBoth };

struct Options {
  Runs runs = Runs::kBoth;
  int seconds = 60;
  unsigned baud = 921600;
  int floodMib = 1024;
  int lingerSeconds = 0;
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
  if (argc % 2 == 0) return std::nullopt;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string_view arg = argv[i];
    const std::string_view text = argv[i + 1];
    if (arg == "--run") {
      if (text == "paced") {
        options.runs = Runs::kPaced;
      } else if (text == "flood") {
        options.runs = Runs::kFlood;
      } else if (text == "both") {
        options.runs = Runs::kBoth;
      } else {
        return std::nullopt;
      }
      continue;
    }
    const int value = std::atoi(argv[i + 1]);
    if (value <= 0 && arg != "--linger") return std::nullopt;
    if (arg == "--seconds") {
      options.seconds = value;
    } else if (arg == "--baud") {
      options.baud = static_cast<unsigned>(value);
    } else if (arg == "--flood-mib") {
      options.floodMib = value;
    } else if (arg == "--linger") {
      options.lingerSeconds = std::max(0, value);
    } else {
      return std::nullopt;
    }
  }
  return options;
}

// The view shows every byte of the capture file, in order, and as many lines as a count
// of the file's breaks gives.
bool ShowsTheFile(const app::OutputView& view, const std::filesystem::path& path) {
  const app::OutputText& text = view.Content();
  std::ifstream file(path, std::ios::binary);
  std::vector<std::uint8_t> expected(4 * 1024 * 1024);
  std::vector<std::uint8_t> shown(expected.size());
  std::size_t offset = 0;
  for (;;) {
    file.read(reinterpret_cast<char*>(expected.data()),
              static_cast<std::streamsize>(expected.size()));
    const auto n = static_cast<std::size_t>(file.gcount());
    if (n == 0) break;
    if (text.ReadAt(std::span(shown).first(n), offset) != n ||
        !std::equal(expected.begin(), expected.begin() + static_cast<std::ptrdiff_t>(n),
                    shown.begin())) {
      return false;
    }
    offset += n;
  }
  return offset == text.Size() && offset > 0;
}

int RunPaced(const Options& options) {
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
  QEventLoop loop;
  QTimer::singleShot(std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()),
                     &loop, &QEventLoop::quit);
  loop.exec();
  ticker.stop();
  stop.Raise();
  reader.join();
  transfer.join();
  sink.Drain();
  const double uiCpu = ThreadCpuSeconds() - cpuBefore;
  const double elapsed = static_cast<double>(wall.nsecsElapsed()) / 1e9;
  const long residentAfter = ResidentBytes();

  const bool complete = ShowsTheFile(view, log.Path()) && errors.errors == 0;
  const double held = static_cast<double>(view.Content().Size());
  const double growth = static_cast<double>(residentAfter - residentBefore) / held;
  const double cpuShare = uiCpu / elapsed;

  std::printf("output view, %u baud, %d s: %zu bytes in %zu lines, %.1f s elapsed\n", options.baud,
              options.seconds, view.Content().Size(), view.Content().LineCount(), elapsed);
  std::printf("  largest gap of a %d ms timer  %8.1f ms  <= %.0f ms    %s\n", kTimerMs,
              largestGapMs, kMaxGapMs, Verdict(largestGapMs <= kMaxGapMs));
  std::printf("  (UI thread CPU between two ticks at most %.1f ms; load average %.2f)\n",
              largestCpuGapMs, LoadAverage());
  std::printf("  UI thread CPU                %8.3f     <= %.2f core %s\n", cpuShare,
              kMaxUiCpuShare, Verdict(cpuShare <= kMaxUiCpuShare));
  std::printf("  view shows the capture file  %8s                %s\n", complete ? "yes" : "no",
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

// The Find dialog's message boxes are counted, not shown.
class CountingPrompts final : public app::UserPrompts {
 public:
  void Message(QWidget*, const QString&, const QString&, app::PromptIcon) override { ++messages; }
  bool AskYesNo(QWidget*, const QString&, const QString&, app::PromptIcon) override {
    return false;
  }
  std::optional<QString> OpenFile(QWidget*, const app::FileDialogSpec&) override {
    return std::nullopt;
  }
  std::optional<QString> SaveFile(QWidget*, const app::FileDialogSpec&) override {
    return std::nullopt;
  }
  int messages = 0;
};

// Holds the flooding thread back while it is more than kFloodAhead bytes ahead of what
// the view has shown; the UI thread tells it what that is.
class FloodGate {
 public:
  void SetShown(std::uint64_t shown) {
    {
      std::lock_guard lock(mutex_);
      shown_ = shown;
    }
    wake_.notify_all();
  }
  void Stop() {
    {
      std::lock_guard lock(mutex_);
      stopped_ = true;
    }
    wake_.notify_all();
  }
  // False when the run was stopped.
  bool WaitForRoom(std::uint64_t written) {
    std::unique_lock lock(mutex_);
    while (!stopped_ && written - shown_ >= kFloodAhead) {
      wake_.wait_for(lock, std::chrono::milliseconds{100});
    }
    return !stopped_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable wake_;
  std::uint64_t shown_ = 0;
  bool stopped_ = false;
};

// Lines as LineSource makes them, made once and handed out again and again, so that the
// flood is not held up by making text; a line to find is written once, near the start.
void Flood(terminal::CaptureLog& log, FloodGate& gate, std::uint64_t total,
           std::atomic<std::uint64_t>& markerAt, std::atomic<bool>& done) {
  LineSource source(3);
  const std::string pool = source.Next(1024 * 1024);
  std::size_t from = 0;
  std::uint64_t written = 0;
  bool marked = false;
  while (written < total && gate.WaitForRoom(written)) {
    if (!marked && written >= kMarkerAt) {
      const std::string marker = std::string("\r\n") + kMarker + "\r\n";
      markerAt = written + 2;
      log.WriteToCapture(Bytes(marker), terminal::ColourMark::kNone);
      written += marker.size();
      marked = true;
      continue;
    }
    if (from == pool.size()) from = 0;
    const std::size_t n = static_cast<std::size_t>(
        std::min<std::uint64_t>({kReadBufferSize, total - written, pool.size() - from}));
    log.WriteToCapture(std::span(reinterpret_cast<const std::uint8_t*>(pool.data()) + from, n),
                       terminal::ColourMark::kNone);
    from += n;
    written += n;
  }
  done = true;
}

void PressKey(QWidget& widget, int key, Qt::KeyboardModifiers modifiers) {
  QKeyEvent press(QEvent::KeyPress, key, modifiers);
  QApplication::sendEvent(&widget, &press);
}

// Counts the paints of a widget.
class PaintCounter final : public QObject {
 public:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) ++paints;
    return false;
  }
  int paints = 0;
};

// Milliseconds `step` takes, with the view painted afterwards (negative when it was not).
template <typename Step>
double TimedMs(app::OutputView& view, Step&& step) {
  PaintCounter counter;
  view.viewport()->installEventFilter(&counter);
  QElapsedTimer timer;
  timer.start();
  step();
  // Painted into an image: a window of the offscreen platform may never be exposed.
  QImage image(view.viewport()->size(), QImage::Format_ARGB32_Premultiplied);
  view.viewport()->render(&image);
  const double ms = static_cast<double>(timer.nsecsElapsed()) / 1e6;
  view.viewport()->removeEventFilter(&counter);
  return counter.paints > 0 ? ms : -1;
}

void Linger(int seconds) {
  QEventLoop loop;
  QTimer::singleShot(std::chrono::seconds{seconds}, &loop, &QEventLoop::quit);
  loop.exec();
}

int RunFlood(const Options& options) {
  char pattern[] = "/tmp/tavrin-view-flood.XXXXXX";
  if (::mkdtemp(pattern) == nullptr) {
    std::fprintf(stderr, "tavrin_output_view_bench: cannot create a work directory\n");
    return 1;
  }
  const std::filesystem::path dir = pattern;
  const std::uint64_t total = static_cast<std::uint64_t>(options.floodMib) * 1024 * 1024;

  app::OutputView view;
  view.resize(kViewWidth, kViewHeight);
  view.setWindowTitle(QStringLiteral("output view after the flood"));
  view.show();
  app::OutputViewSink sink(view);
  StderrErrorSink errors;
  serial::ErrorReporter reporter(errors);
  auto log = std::make_unique<terminal::CaptureLog>(dir, sink, reporter);
  QApplication::processEvents();
  const long residentBefore = ResidentBytes();
  long residentPeak = residentBefore;

  // The runs turn their own event loops: quitting the application's would close the view.
  QEventLoop loop;
  FloodGate gate;
  std::atomic<std::uint64_t> markerAt{0};
  std::atomic<bool> done{false};
  double largestGapMs = 0;
  QElapsedTimer sinceTick;
  QTimer ticker;
  ticker.setTimerType(Qt::PreciseTimer);
  PaintCounter paints;
  view.viewport()->installEventFilter(&paints);
  double largestCpuGapMs = 0;  // the UI thread's own work between two ticks
  double cpuAtTick = ThreadCpuSeconds();
  QObject::connect(&ticker, &QTimer::timeout, [&] {
    largestGapMs = std::max(largestGapMs, static_cast<double>(sinceTick.nsecsElapsed()) / 1e6);
    sinceTick.restart();
    const double cpu = ThreadCpuSeconds();
    largestCpuGapMs = std::max(largestCpuGapMs, (cpu - cpuAtTick) * 1e3);
    cpuAtTick = cpu;
    residentPeak = std::max(residentPeak, ResidentBytes());
    gate.SetShown(view.Content().Size());
    if (done && view.Content().Size() >= log->StreamOffset()) loop.quit();
  });
  std::thread feeder(Flood, std::ref(*log), std::ref(gate), total, std::ref(markerAt),
                     std::ref(done));
  QElapsedTimer wall;
  wall.start();
  sinceTick.start();
  ticker.start(kTimerMs);
  loop.exec();
  ticker.stop();
  view.viewport()->removeEventFilter(&paints);
  gate.Stop();
  feeder.join();
  sink.Drain();
  const double elapsed = static_cast<double>(wall.nsecsElapsed()) / 1e9;

  // Jumps, as the keys make them, each with the screen painted.
  const double topMs = TimedMs(view, [&] { PressKey(view, Qt::Key_Home, Qt::ControlModifier); });
  const bool atTop = view.verticalScrollBar()->value() == 0;
  const double endMs = TimedMs(view, [&] { PressKey(view, Qt::Key_End, Qt::ControlModifier); });
  const bool atEnd = view.FollowsEnd();
  const double middleMs = TimedMs(
      view, [&] { view.verticalScrollBar()->setValue(view.verticalScrollBar()->maximum() / 2); });

  // Find from the end: nothing selected, the view at the end of the capture.
  view.SetSelection(view.Content().Size(), view.Content().Size());
  CountingPrompts prompts;
  app::FindDialog find(&view, prompts, &view);
  find.ShowFind();
  find.FindTextEdit()->setText(QString::fromLatin1(kMarker));
  const double findMs = TimedMs(view, [&] { find.FindNext(); });
  const std::size_t marker = markerAt.load();
  const bool found = view.Selection() == app::TextRange{marker, marker + std::strlen(kMarker)} &&
                     prompts.messages == 0 && !view.FollowsEnd();
  // Informational: a text that is nowhere, searched for through the whole capture.
  bool started = false;
  QElapsedTimer scan;
  scan.start();
  const auto absent =
      app::FindNextMatch(app::SourceOf(view.Content()), "no such text 5c3a", {{}, true}, started);
  const double scanMs = static_cast<double>(scan.nsecsElapsed()) / 1e6;
  started = false;
  scan.restart();
  (void)app::FindNextMatch(app::SourceOf(view.Content()), "no such text 5c3a", {{}, false},
                           started);
  const double scanFoldMs = static_cast<double>(scan.nsecsElapsed()) / 1e6;

  residentPeak = std::max(residentPeak, ResidentBytes());
  const double growthMb = static_cast<double>(residentPeak - residentBefore) / 1e6;
  const bool complete = ShowsTheFile(view, log->Path()) && errors.errors == 0 && !absent.match;

  std::printf("output view flooded: %.0f MiB in %zu lines, %.1f s (%.0f MB/s)\n",
              static_cast<double>(view.Content().Size()) / 1048576.0, view.Content().LineCount(),
              elapsed, static_cast<double>(view.Content().Size()) / 1e6 / elapsed);
  std::printf("  (the view was painted %d times meanwhile)\n", paints.paints);
  std::printf("  resident memory growth       %8.1f MB <= %.0f MB   %s\n", growthMb,
              kFloodMaxGrowthMb, Verdict(growthMb <= kFloodMaxGrowthMb));
  std::printf("  largest gap of a %d ms timer  %8.1f ms <= %.0f ms    %s\n", kTimerMs, largestGapMs,
              kMaxGapMs, Verdict(largestGapMs <= kMaxGapMs));
  std::printf("  (UI thread CPU between two ticks at most %.1f ms)\n", largestCpuGapMs);
  std::printf("  jump to the top (Ctrl+Home)  %8.2f ms <= %.0f ms    %s\n", topMs, kMaxJumpMs,
              Verdict(topMs >= 0 && topMs <= kMaxJumpMs && atTop));
  std::printf("  jump to the end (Ctrl+End)   %8.2f ms <= %.0f ms    %s\n", endMs, kMaxJumpMs,
              Verdict(endMs >= 0 && endMs <= kMaxJumpMs && atEnd));
  std::printf("  (scroll bar to the middle %.2f ms)\n", middleMs);
  std::printf("  Find near the start, from the end %6.1f ms <= %.0f ms  %s\n", findMs, kMaxFindMs,
              Verdict(findMs <= kMaxFindMs && found));
  std::printf("  (Find through all of it, nothing found: %.0f ms, match case off %.0f ms)\n",
              scanMs, scanFoldMs);
  std::printf("  view shows the capture file  %8s                %s\n", complete ? "yes" : "no",
              Verdict(complete));
  std::printf("  (load average %.2f)\n", LoadAverage());
  std::fflush(stdout);

  if (options.lingerSeconds > 0) {
    PressKey(view, Qt::Key_Home, Qt::ControlModifier);
    std::printf("showing the top\n");
    std::fflush(stdout);
    Linger(options.lingerSeconds);
    // The dialog opened again, so that its first search starts at the start of the text.
    view.SetSelection(view.Content().Size(), view.Content().Size());
    PressKey(view, Qt::Key_End, Qt::ControlModifier);
    find.reject();
    find.ShowFind();
    find.FindNext();
    std::printf("showing the match\n");
    std::fflush(stdout);
    Linger(options.lingerSeconds);
  }
  log->CloseAndDelete();
  log.reset();
  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);
  return growthMb <= kFloodMaxGrowthMb && largestGapMs <= kMaxGapMs && topMs >= 0 &&
                 topMs <= kMaxJumpMs && atTop && endMs >= 0 && endMs <= kMaxJumpMs && atEnd &&
                 findMs <= kMaxFindMs && found && complete
             ? 0
             : 1;
}

}  // namespace
}  // namespace tavrin::bench

int main(int argc, char** argv) {
  const auto options = tavrin::bench::ParseArguments(argc, argv);
  if (!options) {
    std::fprintf(stderr,
                 "usage: tavrin_output_view_bench [--run paced|flood|both] [--seconds N] "
                 "[--baud N] [--flood-mib N] [--linger S]\n");
    return 2;
  }
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  using tavrin::bench::Runs;
  int status = 0;
  if (options->runs != Runs::kFlood) status |= tavrin::bench::RunPaced(*options);
  if (options->runs != Runs::kPaced) status |= tavrin::bench::RunFlood(*options);
  return status;
}
