#include "cli/cli_session.h"

#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "cli/cli_views.h"
#include "cli/port_lookup.h"
#include "cli/port_table.h"
#include "core/port_core.h"
#include "core/product_identity.h"
#include "scripts/command_image.h"
#include "scripts/script_list_rows.h"
#include "serial/port_diagnosis.h"
#include "serial/usb_latency.h"
#include "terminal/capture_log.h"
#include "transfer/report_texts.h"

namespace tavrin::cli {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr auto kCancelGrace = 5s;         // a cancelled transfer must end within this
constexpr auto kComTestDefaultWait = 5s;  // comtest without --timeout
constexpr auto kMainPollPeriod = 100ms;   // the main thread looks at signals this often

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
  bool Raised() {
    signalfd_siginfo info{};
    return fd_ >= 0 && ::read(fd_, &info, sizeof info) == static_cast<ssize_t>(sizeof info);
  }

 private:
  sigset_t set_{};
  sigset_t previous_{};
  int fd_ = -1;
};

// A private temporary directory for the run, removed at its end (a fatal end leaves it:
// the capture stays on disk, as the window's would).
class TempDir {
 public:
  TempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/tavrin-cli.XXXXXX";
    if (::mkdtemp(pattern.data())) path_ = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  const std::filesystem::path& Path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// --trace: every byte on the line, hex, with the time since the start.
class Tracer final : public core::LineTrace {
 public:
  explicit Tracer(bool enabled) : enabled_(enabled) {}
  void Sent(std::span<const std::uint8_t> bytes) override { Dump("PC>", bytes); }
  void Received(std::span<const std::uint8_t> bytes) override { Dump("<TG", bytes); }

 private:
  void Dump(const char* direction, std::span<const std::uint8_t> bytes) {
    if (!enabled_ || bytes.empty()) return;
    const double t = std::chrono::duration<double>(Clock::now() - start_).count();
    char head[64];
    std::snprintf(head, sizeof head, "%10.6f %s %zu:", t, direction, bytes.size());
    // One write a block: a call per byte would slow the line it is meant to show.
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string line = head;
    line.reserve(line.size() + bytes.size() * 3 + 1);
    for (std::uint8_t b : bytes) {
      line += ' ';
      line += kHex[b >> 4];
      line += kHex[b & 0x0F];
    }
    line += '\n';
    std::lock_guard lock(mutex_);
    std::fwrite(line.data(), 1, line.size(), stderr);
  }

  bool enabled_;
  std::mutex mutex_;
  Clock::time_point start_ = Clock::now();
};

// Keeps the payload of the first test frame that comes back.
class FirstPayload final : public serial::ComTestView {
 public:
  void ShowReceived(std::vector<std::uint8_t> payload) override {
    {
      std::lock_guard lock(mutex_);
      if (payload_) return;
      payload_ = std::string(payload.begin(), payload.end());
    }
    arrived_.notify_all();
  }
  std::optional<std::string> Wait(Clock::duration limit, SignalWatch& signals) {
    const auto until = Clock::now() + limit;
    std::unique_lock lock(mutex_);
    while (!payload_ && Clock::now() < until && !signals.Raised()) {
      arrived_.wait_for(lock, kMainPollPeriod);
    }
    return payload_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::optional<std::string> payload_;
};

// Real ports; a USB adapter whose latency timer slows every frame is named on stderr, and
// the errno of an open that fails is kept in `openError` to say why.
core::CoreConfig CoreConfigFor(const std::filesystem::path& tempDir, core::LineTrace* trace,
                               int& openError, const CliLink& link) {
  core::CoreConfig config;
  config.tempDir = tempDir;
  config.deviceFactory = link.deviceFactory;
  config.linkTimings = link.timings;
  config.latencyNotice = [](const std::string& note) {
    std::fprintf(stderr, "tavrin-cli: %s\n", note.c_str());
  };
  config.openFailure = [&openError](int error) { openError = error; };
  config.trace = trace;
  return config;
}

// Everything a run with a serial port needs, in the order it must be built.
struct Session {
  Session(const CliOptions& options, const CliLink& link)
      : errors(options.trace, [this] { EndFatally(); }),
        view(::isatty(STDERR_FILENO) == 1,
             options.command == Command::kDownload
                 ? std::optional<std::filesystem::path>(options.output)
                 : std::nullopt),
        tracer(options.trace),
        core({output, view, errors, firstPayload},
             CoreConfigFor(temp.Path(), options.trace ? &tracer : nullptr, openError, link)) {}

  // The serial link failed fatally: the run ends here, on the reporting thread, with
  // nothing more on stdout (no report block of a transfer that would be cancelled now),
  // the capture file left on disk and no wait for any thread.
  [[noreturn]] void EndFatally() {
    output.Close();
    if (!temp.Path().empty()) {
      const auto capture = temp.Path() / terminal::kCaptureFileName;
      std::fprintf(stderr, "tavrin-cli: the capture is kept in %s\n", capture.c_str());
    }
    std::fflush(stderr);
    std::_Exit(exit_status::kLinkFailed);
  }

  int openError = 0;  // the errno of a port that could not be opened (main thread)
  TempDir temp;
  StdoutSink output;
  StderrErrorSink errors;
  CliTransferView view;
  Tracer tracer;
  FirstPayload firstPayload;
  core::PortCore core;
};

void PrintFileAccessError() {
  std::fprintf(stderr, "%s: %s\n", std::string(scripts::kFileAccessErrorCaption).c_str(),
               std::string(scripts::kFileAccessErrorText).c_str());
}

// After "Port is not available.": why, and what to do, in one line.
void PrintOpenFailureCause(const std::string& portName, int error, const serial::PortList& ports) {
  const auto diagnosis =
      serial::DiagnoseOpenFailure(portName, error, serial::SystemDiagnosisEnvironment());
  std::fprintf(stderr, "tavrin-cli: %s\n",
               serial::DescribeOpenFailure(diagnosis, ports.ports).c_str());
}

int Connect(Session& session, const CliOptions& options, const serial::PortList& ports) {
  switch (session.core.Connect(options.port)) {
    case serial::OpenOutcome::kConnected:
      std::fprintf(stderr, "Connected: %s\n", serial::ConnectionSummary(options.port).c_str());
      return exit_status::kSuccess;
    case serial::OpenOutcome::kOpenedNotConnected:
      session.core.Disconnect();
      return exit_status::kPortNotAvailable;
    case serial::OpenOutcome::kNotAvailable:
      std::fprintf(stderr, "%s: %s\n", std::string(serial::kPortOpenCaption).c_str(),
                   std::string(serial::kPortNotAvailable).c_str());
      PrintOpenFailureCause(options.port.portName, session.openError, ports);
      return exit_status::kPortNotAvailable;
    case serial::OpenOutcome::kFailed:
      return exit_status::kLinkFailed;
  }
  return exit_status::kLinkFailed;
}

// Waits for the transfer to end; Ctrl+C and --timeout cancel it.
bool WaitForTransfer(Session& session, const CliOptions& options, SignalWatch& signals) {
  const auto started = Clock::now();
  std::optional<Clock::time_point> cancelledAt;
  while (!session.core.WaitTransfer(
      std::chrono::duration_cast<std::chrono::milliseconds>(kMainPollPeriod))) {
    const bool timedOut =
        options.timeoutSeconds &&
        Clock::now() - started > std::chrono::duration<double>(*options.timeoutSeconds);
    if (!cancelledAt && (signals.Raised() || timedOut)) {
      if (timedOut) std::fprintf(stderr, "tavrin-cli: --timeout expired, cancelling\n");
      session.core.Cancel();
      cancelledAt = Clock::now();
    }
    if (cancelledAt && Clock::now() - *cancelledAt > kCancelGrace) return false;
  }
  return true;
}

void SaveLog(Session& session, const CliOptions& options) {
  if (options.log.empty()) return;
  const auto result = session.core.SaveLog(options.log);
  std::fprintf(stderr, "%s: %s\n", result.caption.c_str(), result.text.c_str());
}

int TransferStatus(Session& session, const CliOptions& options) {
  const int result = session.view.FinalResult();
  if (result == 0) return exit_status::kBadFile;  // the transfer never started
  if (options.command == Command::kUpload) {
    return result == transfer::result::kUploadSuccess ? exit_status::kSuccess
                                                      : exit_status::kTransferFailed;
  }
  if (result != transfer::result::kDownloadSuccess || !session.view.Saved()) {
    return exit_status::kTransferFailed;
  }
  return session.view.AnyCrcMismatch() ? exit_status::kCrcMismatch : exit_status::kSuccess;
}

int RunTransfer(const CliOptions& options, const serial::PortList& ports, const CliLink& link) {
  SignalWatch signals;
  Session session(options, link);
  if (session.temp.Path().empty()) {
    std::fprintf(stderr, "tavrin-cli: cannot create a temporary directory\n");
    return exit_status::kLinkFailed;
  }
  if (const int status = Connect(session, options, ports); status != exit_status::kSuccess) {
    return status;
  }

  if (options.command == Command::kUpload) {
    session.core.StartUpload(options.argument);
  } else if (session.core.StartDownload(options.argument) != core::DownloadStart::kStarted) {
    PrintFileAccessError();
    session.core.Disconnect();
    return exit_status::kBadFile;
  }
  const bool ended = WaitForTransfer(session, options, signals);
  if (!ended) {
    std::fprintf(stderr, "tavrin-cli: the transfer did not end after its cancel\n");
    std::fflush(stdout);
    std::_Exit(exit_status::kTransferFailed);
  }
  session.core.Disconnect();
  SaveLog(session, options);
  return TransferStatus(session, options);
}

int RunComTest(const CliOptions& options, const serial::PortList& ports, const CliLink& link) {
  SignalWatch signals;
  Session session(options, link);
  if (const int status = Connect(session, options, ports); status != exit_status::kSuccess) {
    return status;
  }
  session.core.SetComTestActive(true);
  const auto sent = session.core.SendTestText(options.argument);
  std::optional<std::string> payload;
  if (sent == serial::TestSendResult::kTooLong) {
    std::fprintf(stderr, "%s: %s\n", std::string(serial::kTestTooLongCaption).c_str(),
                 std::string(serial::kTestTextTooLong).c_str());
  } else if (sent == serial::TestSendResult::kSent) {
    const auto limit = options.timeoutSeconds
                           ? std::chrono::duration_cast<Clock::duration>(
                                 std::chrono::duration<double>(*options.timeoutSeconds))
                           : std::chrono::duration_cast<Clock::duration>(kComTestDefaultWait);
    payload = session.firstPayload.Wait(limit, signals);
    if (!payload) std::fprintf(stderr, "tavrin-cli: no test frame came back\n");
  }
  session.core.SetComTestActive(false);
  session.core.Disconnect();
  if (!payload) return exit_status::kTransferFailed;
  std::fwrite(payload->data(), 1, payload->size(), stdout);
  std::fputc('\n', stdout);
  return exit_status::kSuccess;
}

int ShowScript(const CliOptions& options) {
  const auto rows = scripts::ReadScriptListRows(options.argument);
  if (!rows) {
    PrintFileAccessError();
    return exit_status::kBadFile;
  }
  const auto& c = scripts::kScriptListColumns;
  std::printf("%-14s %-14s %-12s %-16s %s\n", std::string(c[0]).c_str(), std::string(c[1]).c_str(),
              std::string(c[2]).c_str(), std::string(c[3]).c_str(), std::string(c[4]).c_str());
  for (const auto& row : *rows) {
    std::printf("%-14s %-14s %-12s %-16s %s\n", row.startAddress.c_str(), row.endAddress.c_str(),
                row.memoryType.c_str(), row.imageType.c_str(), row.deviceId.c_str());
  }
  return exit_status::kSuccess;
}

int ShowPorts(const CliOptions& options) {
  const serial::PortList list = serial::ListPorts();
  if (!list.error.empty()) {
    std::fprintf(stderr, "tavrin-cli: the serial ports cannot be listed: %s\n", list.error.c_str());
    return exit_status::kPortNotAvailable;
  }
  const auto rows = PortRows(list.ports, serial::kSysfsRoot);
  if (rows.empty()) std::fprintf(stderr, "tavrin-cli: no serial ports were found\n");
  const std::string text = options.json ? PortJson(rows) : rows.empty() ? "" : PortTable(rows);
  std::fwrite(text.data(), 1, text.size(), stdout);
  return exit_status::kSuccess;
}

// The port --port names, looked up in the port list; a usage error when it names none
// or several.
std::optional<CliOptions> WithPortLookedUp(const CliOptions& options,
                                           const serial::PortList& ports) {
  const PortLookup lookup = LookUpPort(options.port.portName, ports);
  if (!lookup.error.empty()) {
    std::fprintf(stderr, "tavrin-cli: --port %s: %s\n", options.port.portName.c_str(),
                 lookup.error.c_str());
    return std::nullopt;
  }
  CliOptions resolved = options;
  resolved.port.portName = lookup.portName;
  return resolved;
}

int RunOnPort(const CliOptions& options, const CliLink& link) {
  const serial::PortList ports = serial::ListPorts();
  const auto resolved = WithPortLookedUp(options, ports);
  if (!resolved) return exit_status::kUsage;
  return options.command == Command::kComTest ? RunComTest(*resolved, ports, link)
                                              : RunTransfer(*resolved, ports, link);
}

}  // namespace

int RunCli(const CliOptions& options) {
  return RunCli(options, CliLink{});
}

int RunCli(const CliOptions& options, const CliLink& link) {
  switch (options.command) {
    case Command::kUpload:
    case Command::kDownload:
    case Command::kComTest:
      return RunOnPort(options, link);
    case Command::kScriptShow:
      return ShowScript(options);
    case Command::kPorts:
      return ShowPorts(options);
    case Command::kHelp:
    case Command::kVersion:
      break;
  }
  return exit_status::kUsage;
}

std::string VersionText() {
  const auto& id = core::kProductIdentity;
  return "tavrin-cli " + std::to_string(id.major) + "." + std::to_string(id.minor) + "." +
         std::to_string(id.build) + " " + id.projectId + " " + core::BuildDate();
}

}  // namespace tavrin::cli
