#include "cli/cli_term.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>

#include "cli/cli_commands.h"
#include "cli/cli_multi.h"
#include "cli/cli_views.h"
#include "cli/port_lookup.h"
#include "cli/port_parts.h"
#include "cli/port_run.h"
#include "cli/raw_terminal.h"
#include "cli/term_keys.h"
#include "cli/term_parts.h"
#include "cli/term_screen.h"
#include "core/port_core.h"
#include "scripts/script_result.h"
#include "serial/port_diagnosis.h"
#include "serial/write_queue.h"

namespace tavrin::cli {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr auto kStatusTick = 100ms;  // the progress on the bottom line is redrawn this often
constexpr auto kIdleTick = 1000ms;   // otherwise the loop still looks round this often
constexpr std::size_t kKeyRead = 256;
// A pipe's bytes go out in pieces of this size, each let through after the one before has
// had its line time, so that the writer's queue (kMaxWriterPackets) never fills.
constexpr std::size_t kPipePiece = 256;
constexpr double kBitsPerByte = 10;  // start, 8 data, stop

// What a question on the bottom line is for.
enum class Asking { kUpload, kScript, kDbf, kSave, kBaud };

class TermSession {
 public:
  TermSession(const CliOptions& options, const CliLink& link, PortTarget target);
  int Run();

 private:
  int Connect();
  int Loop();
  std::optional<int> TakeKeys(std::span<const std::uint8_t> bytes);
  std::optional<int> Command(std::uint8_t key);
  void TakePipe(std::span<const std::uint8_t> bytes);
  void Ask(Asking asking, std::string question, std::string text);
  void Answered(Asking asking, const std::string& text);
  void StartUpload(const std::string& path);
  void StartDownload(const std::string& script, const std::string& dbf);
  void ChangeBaud(const std::string& text);
  bool RefuseWhileBusy();
  void RefreshBottom();
  void CancelAfterTimeout(Clock::time_point now);
  std::string StatusText() const;
  int End(int status);
  [[noreturn]] void EndFatally();
  void KeepCaptures();

  const CliOptions& options_;
  const PortTarget target_;
  const bool keysFromTerminal_;
  serial::PortSettings settings_;
  TermSignals signals_;  // before the engine's threads start
  Wake wake_;
  RawTerminal terminal_;
  TermScreen screen_;
  TermVoice voice_;
  TermTrace trace_;
  CliTransferView view_;
  std::atomic<bool> fatal_{false};
  PortErrorSink errors_;
  FirstPayload comTestView_;  // the COM test is not offered here
  TempDir temp_;
  int openError_ = 0;
  std::unique_ptr<core::PortCore> core_;
  KeyDecoder keys_;

  std::optional<PromptEditor> prompt_;
  Asking asking_ = Asking::kUpload;
  std::string lastUpload_;
  std::string lastScript_;
  std::string lastDbf_ = "download.dbf";
  std::string lastSave_ = "tavrin.log";
  std::string bottomShown_;
  bool bottomIsQuestion_ = false;
  std::string transferName_;
  bool transferDownload_ = false;
  Clock::time_point transferStart_{};
  bool timeoutCancelled_ = false;
  std::uint64_t bytesBefore_ = 0;

  bool inputOpen_ = true;
  std::optional<Clock::time_point> lingerUntil_;
  std::optional<Clock::time_point> pacedUntil_;
};

DisplayMode ModeOf(const TermOptions& options) {
  DisplayMode mode;
  mode.terminal = ::isatty(STDOUT_FILENO) == 1;
  mode.utf8 = Utf8Terminal();
  mode.timestamps = options.timestamps;
  mode.hex = options.hex;
  return mode;
}

TermSession::TermSession(const CliOptions& options, const CliLink& link, PortTarget target)
    : options_(options),
      target_(std::move(target)),
      keysFromTerminal_(::isatty(STDIN_FILENO) == 1),
      settings_(options.port),
      terminal_(STDIN_FILENO),
      screen_(STDOUT_FILENO, STDERR_FILENO, ModeOf(options.term), LocalTimeText,
              ::isatty(STDOUT_FILENO) == 1 && ::isatty(STDERR_FILENO) == 1),
      voice_(screen_, wake_),
      trace_(screen_),
      view_(voice_),
      errors_(voice_, false,
              [this] {
                fatal_ = true;
                wake_.Raise();
              }),
      keys_(Utf8Terminal(), terminal_.EraseCharacter()) {
  settings_.portName = target_.portName;
  core::CoreConfig config;
  config.tempDir = temp_.Path();
  config.deviceFactory = link.deviceFactory;
  config.linkTimings = link.timings;
  config.latencyNotice = [this](const std::string& note) { voice_.Note(note); };
  config.openFailure = [this](int error) { openError_ = error; };
  if (options.trace) config.trace = &trace_;
  core_ = std::make_unique<core::PortCore>(core::CoreHost{screen_, view_, errors_, comTestView_},
                                           std::move(config));
}

int TermSession::Run() {
  if (temp_.Path().empty()) {
    voice_.Note("cannot create a temporary directory");
    return exit_status::kLinkFailed;
  }
  if (const int status = Connect(); status != exit_status::kSuccess) {
    screen_.Close();
    return status;
  }
  voice_.Note("the capture is written to " + core_->CapturePath().string());
  if (keysFromTerminal_) {
    // Said once the keys are raw: from then on every key typed counts.
    if (!terminal_.MakeRaw()) voice_.Note("the terminal cannot be put in raw mode");
    voice_.Note("Ctrl+T h lists the commands, Ctrl+T q quits");
  }
  return Loop();
}

int TermSession::Connect() {
  switch (core_->Connect(settings_)) {
    case serial::OpenOutcome::kConnected:
      voice_.Say("Connected: " + serial::ConnectionSummary(settings_));
      return exit_status::kSuccess;
    case serial::OpenOutcome::kOpenedNotConnected:
      core_->Disconnect();
      return exit_status::kPortNotAvailable;
    case serial::OpenOutcome::kNotAvailable: {
      voice_.Say(std::string(serial::kPortOpenCaption) + ": " +
                 std::string(serial::kPortNotAvailable));
      const auto diagnosis = serial::DiagnoseOpenFailure(target_.portName, openError_,
                                                         serial::SystemDiagnosisEnvironment());
      voice_.Note(serial::DescribeOpenFailure(diagnosis, serial::ListPorts().ports));
      return exit_status::kPortNotAvailable;
    }
    case serial::OpenOutcome::kFailed:
      break;
  }
  return exit_status::kLinkFailed;
}

int TermSession::Loop() {
  std::array<std::uint8_t, kPipePiece> buffer{};
  for (;;) {
    if (fatal_) EndFatally();
    const auto now = Clock::now();
    if (lingerUntil_ && now >= *lingerUntil_) return End(exit_status::kSuccess);
    if (pacedUntil_ && now >= *pacedUntil_) pacedUntil_.reset();
    CancelAfterTimeout(now);
    auto wait = core_->TransferActive() ? kStatusTick : kIdleTick;
    for (const auto& until : {lingerUntil_, pacedUntil_}) {
      if (until) wait = std::min(wait, std::chrono::ceil<std::chrono::milliseconds>(*until - now));
    }
    std::array<pollfd, 3> fds{pollfd{signals_.Fd(), POLLIN, 0}, pollfd{wake_.Fd(), POLLIN, 0},
                              pollfd{STDIN_FILENO, POLLIN, 0}};
    const bool reading = inputOpen_ && !pacedUntil_;
    ::poll(fds.data(), reading ? 3 : 2, static_cast<int>(std::max(wait, 1ms).count()));
    for (int signal = signals_.Next(); signal != 0; signal = signals_.Next()) {
      if (signal == SIGWINCH) {
        screen_.Resized();
      } else {
        return End(SignalStatus(signal));
      }
    }
    wake_.Drain();
    if (fatal_) EndFatally();
    if (reading && (fds[2].revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) != 0) {
      const std::size_t size = keysFromTerminal_ ? kKeyRead : kPipePiece;
      const ssize_t got = ::read(STDIN_FILENO, buffer.data(), std::min(size, buffer.size()));
      if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
      if (got <= 0 && keysFromTerminal_) return End(SignalStatus(SIGHUP));  // the terminal hung up
      if (got <= 0) {
        inputOpen_ = false;
        lingerUntil_ =
            Clock::now() + std::chrono::duration_cast<Clock::duration>(
                               std::chrono::duration<double>(options_.term.lingerSeconds));
        continue;
      }
      const std::span<const std::uint8_t> bytes(buffer.data(), static_cast<std::size_t>(got));
      if (keysFromTerminal_) {
        if (const auto status = TakeKeys(bytes)) return End(*status);
      } else {
        TakePipe(bytes);
      }
    }
    RefreshBottom();
  }
}

// Keys one by one: a command may open a question, which then takes the keys after it; the
// keys after its answer (a paste) go on as keys again, or to the next question.
std::optional<int> TermSession::TakeKeys(std::span<const std::uint8_t> bytes) {
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (prompt_) {
      const auto state = prompt_->Feed(bytes.subspan(i));
      if (state == PromptEditor::State::kEditing) return std::nullopt;
      i += prompt_->Used() - 1;
      const PromptEditor answered = *prompt_;
      prompt_.reset();
      if (state == PromptEditor::State::kDone) Answered(asking_, answered.Text());
      RefreshBottom();
      continue;
    }
    for (const auto& action : keys_.Feed(bytes.subspan(i, 1))) {
      switch (action.kind) {
        case KeyAction::Kind::kSend:
          core_->QueueCharWrite(action.value);
          break;
        case KeyAction::Kind::kInterrupt:
          return SignalStatus(SIGINT);
        case KeyAction::Kind::kCommand:
          if (const auto status = Command(action.value)) return status;
          break;
      }
    }
  }
  return std::nullopt;
}

std::optional<int> TermSession::Command(std::uint8_t key) {
  switch (key) {
    case 'u':
      if (!RefuseWhileBusy()) Ask(Asking::kUpload, "Upload file (URT): ", lastUpload_);
      break;
    case 'd':
      if (!RefuseWhileBusy()) Ask(Asking::kScript, "Download script (DSF): ", lastScript_);
      break;
    case 'c':
      if (core_->TransferActive()) {
        core_->Cancel();
      } else {
        voice_.Note("no transfer to cancel");
      }
      break;
    case 'p':
      if (core_->TransferActive()) {
        core_->TogglePause();
      } else {
        voice_.Note("no transfer to pause");
      }
      break;
    case 's':
      Ask(Asking::kSave, "Save capture as: ", lastSave_);
      break;
    case 'r':
      core_->ClearLog();
      break;
    case 'b':
      if (!RefuseWhileBusy()) {
        Ask(Asking::kBaud, "Baud rate: ", std::to_string(settings_.baudRate));
      }
      break;
    case 'q':
      return exit_status::kSuccess;
    case 'h':
    case '?':
      screen_.Message(TermHelpText());
      break;
    default:
      voice_.Note("no such command: Ctrl+T h lists them");
      break;
  }
  return std::nullopt;
}

bool TermSession::RefuseWhileBusy() {
  if (!core_->TransferActive()) return false;
  voice_.Note("a transfer is running: Ctrl+T c cancels it");
  return true;
}

// A pipe's bytes as they come, one piece at a time, each given its line time.
void TermSession::TakePipe(std::span<const std::uint8_t> bytes) {
  if (!core_->SendLine(bytes)) voice_.Note("input could not be sent: the port takes no more");
  const double seconds =
      static_cast<double>(bytes.size()) * kBitsPerByte / static_cast<double>(settings_.baudRate);
  pacedUntil_ = Clock::now() +
                std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

void TermSession::Ask(Asking asking, std::string question, std::string text) {
  if (!screen_.Mode().terminal) {
    voice_.Note("questions are asked on the bottom line: stdout must be the terminal");
    return;
  }
  asking_ = asking;
  prompt_.emplace(std::move(question), std::move(text));
  RefreshBottom();
}

void TermSession::Answered(Asking asking, const std::string& text) {
  const std::string path = PathTyped(text, std::getenv("HOME"));
  if (path.empty()) return;
  switch (asking) {
    case Asking::kUpload:
      lastUpload_ = path;
      StartUpload(path);
      break;
    case Asking::kScript:
      lastScript_ = path;
      Ask(Asking::kDbf, "Save DBF as: ", lastDbf_);
      break;
    case Asking::kDbf:
      lastDbf_ = path;
      StartDownload(lastScript_, path);
      break;
    case Asking::kSave: {
      lastSave_ = path;
      const auto result = core_->SaveLog(path);
      voice_.Say(result.caption + ": " + result.text);
      break;
    }
    case Asking::kBaud:
      ChangeBaud(path);
      break;
  }
}

void TermSession::StartUpload(const std::string& path) {
  if (RefuseWhileBusy()) return;
  view_.BeginTransfer(false, std::nullopt);
  bytesBefore_ = view_.Snapshot().bytes;
  transferStart_ = Clock::now();
  timeoutCancelled_ = false;
  transferName_ = std::filesystem::path(path).filename().string();
  transferDownload_ = false;
  if (!core_->StartUpload(path)) voice_.Note("the upload could not start");
}

void TermSession::StartDownload(const std::string& script, const std::string& dbf) {
  if (RefuseWhileBusy()) return;
  view_.BeginTransfer(true, std::filesystem::path(dbf));
  bytesBefore_ = view_.Snapshot().bytes;
  transferStart_ = Clock::now();
  timeoutCancelled_ = false;
  transferName_ = std::filesystem::path(script).filename().string();
  transferDownload_ = true;
  switch (core_->StartDownload(script)) {
    case core::DownloadStart::kStarted:
      break;
    case core::DownloadStart::kScriptUnreadable:
      voice_.Say(std::string(scripts::kFileAccessErrorCaption) + ": " +
                 std::string(scripts::kFileAccessErrorText));
      break;
    case core::DownloadStart::kBusy:
      voice_.Note("a transfer is running: Ctrl+T c cancels it");
      break;
  }
}

// The window changes the line only while not connected: the port is closed, set and opened
// again.
void TermSession::ChangeBaud(const std::string& text) {
  const auto baud = BaudTyped(text);
  if (!baud) {
    voice_.Note("not a baud rate: " + text);
    return;
  }
  if (RefuseWhileBusy()) return;
  core_->Disconnect();
  settings_.baudRate = *baud;
  if (Connect() != exit_status::kSuccess) {
    voice_.Note("not connected: Ctrl+T b tries another rate, Ctrl+T q quits");
  }
}

std::string TermSession::StatusText() const {
  const Progress progress = view_.Snapshot();
  std::string text = (transferDownload_ ? "download " : "upload ") + transferName_ + ": ";
  switch (progress.phase) {
    case Progress::Phase::kFrames:
      text += "frames " + std::to_string(progress.framesSent) + "/" +
              std::to_string(progress.framesTotal);
      break;
    case Progress::Phase::kRegion:
      text += "region " + std::to_string(progress.region) + "  " +
              std::to_string(progress.regionBytes) + " bytes";
      break;
    default:
      text += "waiting for the target";
      break;
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - transferStart_).count();
  if (seconds > 0 && progress.bytes > bytesBefore_) {
    text += "  " +
            std::to_string(static_cast<std::uint64_t>(
                static_cast<double>(progress.bytes - bytesBefore_) / seconds)) +
            " bytes/s";
  }
  if (core_->State().pause) text += "  PAUSED";
  return text + "   Ctrl+T c cancel, p pause";
}

// --timeout: a transfer that has not ended after S seconds is cancelled (report 23).
void TermSession::CancelAfterTimeout(Clock::time_point now) {
  const auto& timeout = options_.timeoutSeconds;
  if (!timeout || timeoutCancelled_ || !core_->TransferActive()) return;
  if (now - transferStart_ < std::chrono::duration<double>(*timeout)) return;
  timeoutCancelled_ = true;
  voice_.Note("--timeout expired, cancelling");
  core_->Cancel();
}

void TermSession::RefreshBottom() {
  std::string text;
  const bool question = prompt_.has_value();
  if (prompt_) {
    text = prompt_->Line();
  } else if (core_->TransferActive()) {
    text = StatusText();
  }
  if (text == bottomShown_ && question == bottomIsQuestion_) return;
  bottomShown_ = text;
  bottomIsQuestion_ = question;
  screen_.SetBottom(std::move(text), question);
}

// Every end but a fatal one: the transfer stopped (its report shown), the port closed, the
// screen and the terminal's settings as they were, the capture kept.
int TermSession::End(int status) {
  prompt_.reset();
  const bool stopped = core_->StopTransfer(core::kTransferStopLimit);
  if (stopped) core_->Disconnect();
  screen_.Close();
  terminal_.Restore();
  KeepCaptures();
  if (!stopped) {
    // The transfer's thread would not end: the engine is left as it is.
    voice_.Note("the transfer did not end after its cancel");
    std::fflush(stderr);
    std::_Exit(status);
  }
  return status;
}

// The link failed: nothing more is shown, the terminal gets its settings back, the capture
// is kept as it stands, and the process ends without waiting for the engine's threads.
void TermSession::EndFatally() {
  screen_.Close();
  terminal_.Restore();
  KeepCaptures();
  if (options_.logDir.empty() && options_.log.empty()) {
    voice_.Note("the capture is kept in " + core_->CapturePath().string());
  } else {
    std::error_code ignored;
    std::filesystem::remove_all(temp_.Path(), ignored);
  }
  std::fflush(stderr);
  std::_Exit(exit_status::kLinkFailed);
}

void TermSession::KeepCaptures() {
  if (!options_.log.empty()) {
    const auto result = core_->SaveLog(WithPort(options_.log, target_.fileName));
    voice_.Say(result.caption + ": " + result.text);
  }
  if (!options_.logDir.empty()) {
    const std::filesystem::path dir = options_.logDir;
    const auto kept = dir / (target_.fileName + ".log");
    std::error_code error;
    std::filesystem::create_directories(dir, error);
    std::filesystem::copy_file(core_->CapturePath(), kept,
                               std::filesystem::copy_options::overwrite_existing, error);
    if (error)
      voice_.Note("the capture cannot be kept as " + kept.string() + ": " + error.message());
  }
}

}  // namespace

std::string TermHelpText() {
  return "Ctrl+T then:\n"
         "  u  upload a URT file\n"
         "  d  download: a DSF script, then where to save the DBF\n"
         "  c  cancel the transfer\n"
         "  p  pause or continue the transfer\n"
         "  s  save the capture\n"
         "  r  clear the capture and the screen\n"
         "  b  change the baud rate\n"
         "  q  quit\n"
         "  h  this list\n"
         "  Ctrl+T  send Ctrl+T;  Ctrl+C  send Ctrl+C\n"
         "Ctrl+C alone quits (status 130).";
}

int RunTerm(const CliOptions& options, const CliLink& link) {
  // A standard descriptor the command was started without would be taken by the first file
  // it opens (the signal descriptor as stdin, the capture as stdout): /dev/null stands in.
  for (const int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
    if (::fcntl(fd, F_GETFD) < 0 && errno == EBADF) ::open("/dev/null", O_RDWR);
  }
  const serial::PortList ports = serial::ListPorts();
  const std::string& given = options.port.portName;
  const PortLookup lookup = LookUpPort(given, ports);
  if (!lookup.error.empty()) {
    std::fprintf(stderr, "tavrin-cli: --port %s: %s\n", given.c_str(), lookup.error.c_str());
    return exit_status::kUsage;
  }
  TermSession session(options, link, PortTarget{given, lookup.portName, PortFileName(given)});
  return session.Run();
}

}  // namespace tavrin::cli
