#include "cli/cli_multi.h"

#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <map>
#include <memory>
#include <thread>
#include <vector>

#include "cli/port_lookup.h"
#include "cli/port_run.h"

namespace tavrin::cli {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr auto kTick = 100ms;  // the board is drawn, and progress sent, at most this often
constexpr std::string_view kDevPrefix = "/dev/";

// Ctrl+C and SIGTERM reach the run as a readable file descriptor rather than as a
// handler, so nothing but the main thread ever sees them. Blocked before any thread
// starts, so that every thread inherits the mask.
class SignalWatch {
 public:
  SignalWatch() {
    sigemptyset(&set_);
    sigaddset(&set_, SIGINT);
    sigaddset(&set_, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &set_, &previous_);
    fd_ = signalfd(-1, &set_, SFD_CLOEXEC | SFD_NONBLOCK);
  }
  ~SignalWatch() {
    if (fd_ >= 0) ::close(fd_);
    pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
  }
  SignalWatch(const SignalWatch&) = delete;
  SignalWatch& operator=(const SignalWatch&) = delete;
  int Fd() const { return fd_; }
  // The signal that came, or 0.
  int Raised() {
    signalfd_siginfo info{};
    if (fd_ < 0 || ::read(fd_, &info, sizeof info) != static_cast<ssize_t>(sizeof info)) return 0;
    return static_cast<int>(info.ssi_signo);
  }

 private:
  sigset_t set_{};
  sigset_t previous_{};
  int fd_ = -1;
};

// The ports' threads say here that they have ended; the main thread's poll wakes on it.
class Finished {
 public:
  Finished() : fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}
  ~Finished() {
    if (fd_ >= 0) ::close(fd_);
  }
  Finished(const Finished&) = delete;
  Finished& operator=(const Finished&) = delete;
  void One() {
    ++count_;
    const std::uint64_t one = 1;
    if (fd_ >= 0) [[maybe_unused]]
      auto written = ::write(fd_, &one, sizeof one);
  }
  void Drain() {
    std::uint64_t value = 0;
    if (fd_ >= 0) [[maybe_unused]]
      auto got = ::read(fd_, &value, sizeof value);
  }
  std::size_t Count() const { return count_; }
  int Fd() const { return fd_; }

 private:
  int fd_;
  std::atomic<std::size_t> count_{0};
};

// Every --port looked up; nullopt (after the message) on a usage error: a name that
// names no port or several, or two names for one port or one file name.
std::optional<std::vector<PortTarget>> LookUpTargets(const CliOptions& options,
                                                     const serial::PortList& ports) {
  std::vector<PortTarget> targets;
  std::map<std::string, std::string> devices;  // device -> the name given for it
  std::map<std::string, std::string> files;    // file name -> the name given for it
  for (const auto& given : options.portNames) {
    const PortLookup lookup = LookUpPort(given, ports);
    if (!lookup.error.empty()) {
      std::fprintf(stderr, "tavrin-cli: --port %s: %s\n", given.c_str(), lookup.error.c_str());
      return std::nullopt;
    }
    PortTarget target{given, lookup.portName, PortFileName(given)};
    const auto device = serial::DevicePath(target.portName);
    if (const auto [at, added] = devices.emplace(device, given); !added) {
      std::fprintf(stderr, "tavrin-cli: --port %s and --port %s name the same port\n",
                   at->second.c_str(), given.c_str());
      return std::nullopt;
    }
    if (const auto [at, added] = files.emplace(target.fileName, given);
        !added && options.portNames.size() > 1) {
      std::fprintf(stderr, "tavrin-cli: --port %s and --port %s give the same file name %s\n",
                   at->second.c_str(), given.c_str(), target.fileName.c_str());
      return std::nullopt;
    }
    targets.push_back(std::move(target));
  }
  return targets;
}

// The main thread while the ports run: Ctrl+C, the board, and --json progress.
class Watch {
 public:
  Watch(std::span<const std::unique_ptr<PortRun>> runs, const RunShared& shared)
      : runs_(runs), shared_(shared), sent_(runs.size()) {
    for (const auto& run : runs_) width_ = std::max(width_, run->Target().given.size());
  }

  void Until(Finished& finished, SignalWatch& signals, RunControl& control) {
    while (finished.Count() < runs_.size()) {
      std::array<pollfd, 2> fds{pollfd{signals.Fd(), POLLIN, 0}, pollfd{finished.Fd(), POLLIN, 0}};
      ::poll(fds.data(), fds.size(), static_cast<int>(kTick.count()));
      Take(signals, control);
      finished.Drain();
      Tick();
    }
    Tick();
    shared_.console.EndBoard();
  }

  // A signal cancels every port; the first is said at once, so that the user knows it
  // was taken.
  void Take(SignalWatch& signals, RunControl& control) {
    const int signal = signals.Raised();
    if (signal == 0) return;
    if (!control.Interrupted()) shared_.console.Line("tavrin-cli: " + CancelledBy(signal));
    control.Interrupt(signal);
  }

 private:
  struct Sent {
    std::uint64_t version = 0;
    Clock::time_point at{};
  };

  void Tick() {
    const auto now = Clock::now();
    std::vector<std::string> board;
    for (std::size_t i = 0; i < runs_.size(); ++i) {
      const Progress progress = runs_[i]->Snapshot();
      const std::string& port = runs_[i]->Target().given;
      if (shared_.console.Board()) {
        const auto ended = runs_[i]->EndedWith();
        const std::string text = ended ? "ended: " + *ended : ProgressText(progress);
        board.push_back(shared_.captureStream
                            ? text
                            : port + std::string(width_ - port.size() + 2, ' ') + text);
      }
      const bool moving =
          progress.phase == Progress::Phase::kFrames || progress.phase == Progress::Phase::kRegion;
      if (shared_.json && moving && progress.version != sent_[i].version &&
          now - sent_[i].at >= kTick) {
        shared_.json->ProgressOf(port, progress);
        sent_[i] = {progress.version, now};
      }
    }
    shared_.console.ShowBoard(std::move(board));
  }

  std::span<const std::unique_ptr<PortRun>> runs_;
  const RunShared& shared_;
  std::vector<Sent> sent_;
  std::size_t width_ = 0;
};

void PrintSummary(const RunShared& shared, std::span<const PortOutcome> outcomes, int status,
                  double seconds) {
  if (shared.captureStream) return;  // one port: stdout stays the capture stream
  const std::string table = SummaryTable(outcomes);
  if (shared.json) {
    shared.console.Write(table);
    shared.json->Summary(status, seconds, outcomes);
  } else {
    std::fwrite(table.data(), 1, table.size(), stdout);
    std::fflush(stdout);
  }
}

// Whether stdout and stderr are one terminal (an interactive run): what is written to
// either lands on the same screen.
bool StdoutIsStderrsTerminal() {
  struct stat out {};
  struct stat err {};
  return ::isatty(STDOUT_FILENO) == 1 && ::isatty(STDERR_FILENO) == 1 &&
         ::fstat(STDOUT_FILENO, &out) == 0 && ::fstat(STDERR_FILENO, &err) == 0 &&
         out.st_rdev == err.st_rdev;
}

}  // namespace

std::string PortFileName(std::string_view given) {
  if (given.starts_with(kDevPrefix)) given.remove_prefix(kDevPrefix.size());
  std::string name;
  for (const char c : given) {
    const bool kept =
        std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '_';
    name += kept ? c : '_';
  }
  // A name that would stand for a directory becomes one blank-free character.
  if (name.empty() || name == "." || name == "..") return std::string(1, '_');
  return name;
}

int RunPorts(const CliOptions& options, const CliLink& link) {
  const serial::PortList ports = serial::ListPorts();
  const auto targets = LookUpTargets(options, ports);
  if (!targets) return exit_status::kUsage;

  SignalWatch signals;  // before any thread starts
  RunControl control;
  const bool captureStream = targets->size() == 1 && !options.json;
  // The one port's capture stream is raw bytes, not whole lines: on stderr's terminal it
  // leaves no room for a board.
  const bool sharedTerminal = StdoutIsStderrsTerminal();
  const bool board = ::isatty(STDERR_FILENO) == 1 && !(captureStream && sharedTerminal);
  Console console(board, stderr, sharedTerminal ? stdout : nullptr);
  std::optional<JsonEvents> json;
  if (options.json) json.emplace(&console);
  std::optional<TaggedStdout> lines;
  if (!captureStream && !options.json) lines.emplace(&console);
  const RunShared shared{options,
                         link,
                         ports,
                         control,
                         console,
                         json ? &*json : nullptr,
                         lines ? &*lines : nullptr,
                         captureStream};

  std::vector<std::unique_ptr<PortRun>> runs;
  for (const auto& target : *targets) runs.push_back(std::make_unique<PortRun>(shared, target));
  const auto started = Clock::now();
  std::vector<PortOutcome> outcomes(runs.size());
  Finished finished;
  std::vector<std::thread> threads;
  threads.reserve(runs.size());
  for (std::size_t i = 0; i < runs.size(); ++i) {
    threads.emplace_back([&runs, &outcomes, &finished, i] {
      outcomes[i] = runs[i]->Execute();
      finished.One();
    });
  }
  Watch watch(runs, shared);
  watch.Until(finished, signals, control);
  for (auto& thread : threads) thread.join();
  watch.Take(signals, control);  // one that came as the last port ended

  const int status =
      control.Interrupted() ? kSignalStatusBase + control.Signal() : CombinedStatus(outcomes);
  PrintSummary(shared, outcomes, status,
               std::chrono::duration<double>(Clock::now() - started).count());
  bool abandoned = false;
  for (auto& run : runs) {
    if (!run->Abandoned()) continue;
    abandoned = true;
    run->DropTemporaryFiles();
    static_cast<void>(run.release());  // its engine's threads may still use it
  }
  runs.clear();
  if (abandoned) {
    // A port's engine was left running: the process ends without waiting for its threads.
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(status);
  }
  return status;
}

}  // namespace tavrin::cli
