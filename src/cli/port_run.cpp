#include "cli/port_run.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "cli/port_parts.h"
#include "core/port_core.h"
#include "scripts/script_result.h"
#include "scripts/temporary_paths.h"
#include "serial/com_test.h"
#include "serial/port_diagnosis.h"
#include "terminal/capture_log.h"
#include "transfer/packet_frame.h"
#include "transfer/report_texts.h"

namespace tavrin::cli {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr auto kCancelGrace = 5s;         // a cancelled transfer must end within this
constexpr auto kComTestDefaultWait = 5s;  // comtest without --timeout
constexpr auto kPollPeriod = 100ms;       // how often a wait looks at Ctrl+C and the link
constexpr std::string_view kKeptIn = "the capture is kept in ";
constexpr std::string_view kLinkFailedResult = "serial link failed";

Clock::duration Seconds(double seconds) {
  return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

std::string_view CommandName(Command command) {
  switch (command) {
    case Command::kUpload:
      return "upload";
    case Command::kDownload:
      return "download";
    default:
      return "comtest";
  }
}

// The target's refusal code as the result code it stands for.
int ResultOfRefusal(std::uint8_t code) {
  switch (code) {
    case transfer::kEot:
      return transfer::result::kSameVersion;
    case transfer::kDc3:
      return transfer::result::kTargetWaiting;
    default:
      return transfer::result::kTerminated;
  }
}

std::string Hex(std::uint8_t code) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", code);
  return text;
}

}  // namespace

std::string CancelledBy(int signal) {
  const char* name = signal == SIGINT ? "SIGINT" : signal == SIGTERM ? "SIGTERM" : nullptr;
  return "cancelled by " + (name ? std::string(name) : "signal " + std::to_string(signal));
}

std::string WithPort(const std::string& pattern, const std::string& fileName) {
  std::string text = pattern;
  for (auto at = text.find(kPortPlaceholder); at != std::string::npos;
       at = text.find(kPortPlaceholder, at + fileName.size())) {
    text.replace(at, kPortPlaceholder.size(), fileName);
  }
  return text;
}

// Everything the port needs, in the order it must be built.
struct PortRun::Parts {
  Parts(PortRun& run, const RunShared& shared, const std::string& tag)
      : portSink(shared.lines, tag),
        errors(run, shared.options.trace, [&run] { run.MarkFatal(); }),
        view(run),
        tracer(shared.options.trace, shared.console, tag.empty() ? tag : tag + ": "),
        watch(tracer) {
    // Without its own directory the engine would keep its files in the current one (the
    // capture file opened there with truncation): no engine is built then.
    if (temp.Path().empty()) return;
    core::CoreConfig config;
    config.tempDir = temp.Path();
    config.deviceFactory = shared.link.deviceFactory;
    config.linkTimings = shared.link.timings;
    config.latencyNotice = [&run](const std::string& note) { run.Note(note); };
    config.openFailure = [this](int error) { openError = error; };
    config.trace = &watch;
    terminal::OutputSink& output =
        shared.captureStream ? static_cast<terminal::OutputSink&>(stdoutSink) : portSink;
    core = std::make_unique<core::PortCore>(core::CoreHost{output, view, errors, firstPayload},
                                            std::move(config));
  }

  int openError = 0;  // the errno of a port that could not be opened (the port's thread)
  TempDir temp;
  StdoutSink stdoutSink;
  PortOutputSink portSink;
  PortErrorSink errors;
  CliTransferView view;
  Tracer tracer;
  LineWatch watch;
  FirstPayload firstPayload;
  std::unique_ptr<core::PortCore> core;  // null when there is no temporary directory
};

PortRun::PortRun(const RunShared& shared, PortTarget target)
    : shared_(shared),
      target_(std::move(target)),
      tag_(shared.captureStream ? std::string() : target_.given),
      parts_(std::make_unique<Parts>(*this, shared_, tag_)) {}

PortRun::~PortRun() {
  if (abandoned_) static_cast<void>(parts_.release());  // never destroyed under its threads
}

Progress PortRun::Snapshot() const {
  return parts_->view.Snapshot();
}

std::optional<std::string> PortRun::EndedWith() const {
  std::lock_guard lock(endedMutex_);
  return endedWith_;
}

void PortRun::Say(std::string_view text) {
  shared_.console.Line(tag_.empty() ? std::string(text) : tag_ + ": " + std::string(text));
}

void PortRun::Note(std::string_view text) {
  shared_.console.Line("tavrin-cli: " + (tag_.empty() ? std::string() : tag_ + ": ") +
                       std::string(text));
}

void PortRun::ReportText(std::string_view text) {
  shared_.console.Write(tag_.empty() ? std::string(text) : tag_ + ": " + std::string(text));
}

void PortRun::Reported(int code) {
  if (shared_.json && !closed_) shared_.json->Report(target_.given, code);
}

void PortRun::CrcWarning(int region) {
  if (shared_.json && !closed_) shared_.json->CrcWarning(target_.given, region);
}

PortOutcome PortRun::Execute() {
  const auto& options = shared_.options;
  outcome_.port = target_.given;
  outcome_.device = serial::DevicePath(target_.portName);
  outcome_.baud = options.port.baudRate;
  if (shared_.json) {
    serial::PortSettings settings = options.port;
    settings.portName = target_.portName;
    shared_.json->Start({target_.given, outcome_.device, CommandName(options.command),
                         options.argument, serial::ConnectionSummary(settings)});
  }
  if (!parts_->core) {
    Note("cannot create a temporary directory in " + TempDir::Base().string() + ": " +
         parts_->temp.Error());
    outcome_.status = exit_status::kLinkFailed;
    outcome_.result = "no temporary directory";
    Finish();
    return outcome_;
  }
  outcome_.status = Connect();
  if (outcome_.status == exit_status::kSuccess) {
    if (options.command == Command::kUpload) {
      RunUpload();
    } else if (options.command == Command::kDownload) {
      RunDownload();
    } else {
      RunComTest();
    }
    if (!fatal_ && !abandoned_) parts_->core->Disconnect();
  }
  if (fatal_ && !abandoned_) EndFatally();
  if (!fatal_) KeepCaptures();
  if (payload_ && shared_.captureStream) {
    std::fwrite(payload_->data(), 1, payload_->size(), stdout);
    std::fputc('\n', stdout);
  } else if (payload_ && shared_.lines) {
    shared_.lines->WriteLine(target_.given, *payload_);
  }
  Finish();
  return outcome_;
}

int PortRun::Connect() {
  serial::PortSettings settings = shared_.options.port;
  settings.portName = target_.portName;
  auto& core = *parts_->core;
  switch (core.Connect(settings)) {
    case serial::OpenOutcome::kConnected:
      Say("Connected: " + serial::ConnectionSummary(settings));
      return exit_status::kSuccess;
    case serial::OpenOutcome::kOpenedNotConnected:
      core.Disconnect();
      outcome_.result = std::string(serial::kPortNotAvailable);
      return exit_status::kPortNotAvailable;
    case serial::OpenOutcome::kNotAvailable: {
      Say(std::string(serial::kPortOpenCaption) + ": " + std::string(serial::kPortNotAvailable));
      const auto diagnosis = serial::DiagnoseOpenFailure(target_.portName, parts_->openError,
                                                         serial::SystemDiagnosisEnvironment());
      Note(serial::DescribeOpenFailure(diagnosis, shared_.ports.ports));
      outcome_.result = std::string(serial::kPortNotAvailable);
      return exit_status::kPortNotAvailable;
    }
    case serial::OpenOutcome::kFailed:
      break;
  }
  outcome_.result = std::string(kLinkFailedResult);
  return exit_status::kLinkFailed;
}

// Waits for the transfer to end; Ctrl+C and --timeout cancel it.
PortRun::WaitEnd PortRun::WaitForTransfer() {
  const auto& options = shared_.options;
  const auto started = Clock::now();
  std::optional<Clock::time_point> cancelledAt;
  while (!parts_->core->WaitTransfer(
      std::chrono::duration_cast<std::chrono::milliseconds>(kPollPeriod))) {
    if (fatal_) return WaitEnd::kFatal;
    const bool timedOut =
        options.timeoutSeconds && Clock::now() - started > Seconds(*options.timeoutSeconds);
    const bool interrupted = shared_.control.Interrupted();
    if (!cancelledAt && (interrupted || timedOut)) {
      if (!interrupted) Note("--timeout expired, cancelling");
      parts_->core->Cancel();
      cancelledAt = Clock::now();
    }
    if (cancelledAt && Clock::now() - *cancelledAt > kCancelGrace) {
      Note("the transfer did not end after its cancel");
      if (shared_.captureStream) {
        std::fflush(stdout);
        const int signal = shared_.control.Signal();
        std::_Exit(signal ? kSignalStatusBase + signal : exit_status::kTransferFailed);
      }
      return WaitEnd::kStuck;
    }
  }
  // A signal that came while a --timeout cancel was ending counts as the signal: the user
  // wants the run to stop, not a fetch made again.
  if (fatal_) return WaitEnd::kFatal;
  if (!cancelledAt) return WaitEnd::kEnded;
  return shared_.control.Interrupted() ? WaitEnd::kInterrupted : WaitEnd::kTimedOut;
}

// A transfer that would not stop after its cancel ends the port's run here: its engine is left.
void PortRun::AfterWait(WaitEnd end) {
  if (end == WaitEnd::kStuck) {
    outcome_.status = exit_status::kTransferFailed;
    outcome_.result = "the transfer did not end after its cancel";
    Abandon();
  }
}

void PortRun::RunUpload() {
  auto& view = parts_->view;
  view.BeginTransfer(false, std::nullopt);
  if (shared_.options.confirmSeconds) view.OnLastFrameDue([this] { parts_->watch.Arm(); });
  parts_->core->StartUpload(shared_.options.argument);
  const WaitEnd end = WaitForTransfer();
  AfterWait(end);
  if (end == WaitEnd::kFatal || end == WaitEnd::kStuck) return;
  const int code = view.FinalResult();
  if (code != 0) outcome_.code = code;
  if (code == 0) {
    outcome_.status = exit_status::kBadFile;  // the transfer never started
    outcome_.result = "the image cannot be used";
  } else if (code == transfer::result::kUploadSuccess) {
    outcome_.status = exit_status::kSuccess;
    outcome_.result = ResultText(code);
    if (shared_.options.confirmSeconds) ConfirmUpload();
  } else {
    outcome_.status = exit_status::kTransferFailed;
    outcome_.result = ResultText(code) + (end == WaitEnd::kTimedOut ? " (--timeout)" : "");
  }
}

// --confirm: the upload has reported success without the target's word on its last frame.
void PortRun::ConfirmUpload() {
  const double seconds = *shared_.options.confirmSeconds;
  const auto refusal = parts_->watch.Wait(
      Seconds(seconds), [this] { return fatal_ || shared_.control.Interrupted(); }, kPollPeriod);
  if (refusal) {
    const int code = ResultOfRefusal(*refusal);
    Note("the target refused the upload after \"Upload Success\": " + Hex(*refusal) + " (" +
         ResultText(code) + ")");
    outcome_.status = exit_status::kTransferFailed;
    outcome_.refusal = *refusal;
    outcome_.result = "refused after Upload Success: " + ResultText(code);
  } else if (shared_.control.Interrupted() && !fatal_) {
    outcome_.status = exit_status::kTransferFailed;
    outcome_.result = "Upload Success, not confirmed: interrupted";
  }
}

Fetch PortRun::FetchOnce(const std::filesystem::path& script,
                         std::optional<std::filesystem::path> saveTo) {
  auto& view = parts_->view;
  view.BeginTransfer(true, std::move(saveTo));
  Fetch fetch;
  switch (parts_->core->StartDownload(script)) {
    case core::DownloadStart::kStarted:
      break;
    case core::DownloadStart::kScriptUnreadable:
      SayFileAccessError();
      fetch.end = Fetch::End::kNotStarted;
      return fetch;
    case core::DownloadStart::kBusy:
      return fetch;
  }
  const WaitEnd end = WaitForTransfer();
  AfterWait(end);
  if (end == WaitEnd::kFatal || end == WaitEnd::kStuck) return fetch;
  const int code = view.FinalResult();
  if (code != 0) outcome_.code = code;
  fetch.saved = view.Saved();
  fetch.mismatched = view.CrcMismatches();
  fetch.stored = view.Stored();
  fetch.assembly = parts_->core->TempDir() / scripts::kDownloadFileName;
  if (end == WaitEnd::kTimedOut) {
    fetch.end = Fetch::End::kTimedOut;
  } else if (end == WaitEnd::kEnded && code == transfer::result::kDownloadSuccess) {
    fetch.end = Fetch::End::kDone;
  }
  return fetch;
}

void PortRun::RunDownload() {
  const auto& options = shared_.options;
  const RetryPlan plan{options.argument, WithPort(options.output, target_.fileName),
                       parts_->temp.Path(), options.retries};
  const auto note = [this](const std::string& text) { Note(text); };
  const DownloadOutcome download = DownloadWithRetries(
      plan, [this](const auto& script, auto saveTo) { return FetchOnce(script, saveTo); }, note,
      [this] { return shared_.control.Interrupted() || fatal_; });
  if (fatal_ || abandoned_) return;
  outcome_.regionsFetchedAgain = download.fetchedAgain;
  outcome_.regionsStillFailing = download.stillFailing;
  if (download.saved) outcome_.output = plan.output.string();
  if (download.end == Fetch::End::kNotStarted) {
    outcome_.status = exit_status::kBadFile;
    outcome_.result = std::string(scripts::kFileAccessErrorText);
    return;
  }
  if (download.end != Fetch::End::kDone || !download.saved) {
    outcome_.status = exit_status::kTransferFailed;
    outcome_.result = outcome_.code ? ResultText(*outcome_.code) : "not saved";
    if (download.end == Fetch::End::kTimedOut) outcome_.result += " (--timeout)";
    return;
  }
  if (!download.fetchedAgain.empty()) {
    Note("regions fetched again: " + RegionList(download.fetchedAgain));
    Note(download.stillFailing.empty()
             ? "every region fetched again matches its CRC now"
             : "regions still failing their CRC check: " + RegionList(download.stillFailing));
  }
  if (shared_.control.Interrupted() && outcome_.code == transfer::result::kTerminated) {
    outcome_.status = exit_status::kTransferFailed;  // a fetch again was cancelled by Ctrl+C
    outcome_.result = ResultText(transfer::result::kTerminated);
  } else if (!download.stillFailing.empty()) {
    outcome_.status = exit_status::kCrcMismatch;
    outcome_.result = ResultText(transfer::result::kDownloadSuccess) + ", CRC failed: region " +
                      RegionList(download.stillFailing);
  } else {
    outcome_.status = exit_status::kSuccess;
    outcome_.result = ResultText(transfer::result::kDownloadSuccess);
  }
}

void PortRun::RunComTest() {
  auto& core = *parts_->core;
  core.SetComTestActive(true);
  const auto sent = core.SendTestText(shared_.options.argument);
  if (sent == serial::TestSendResult::kTooLong) {
    Say(std::string(serial::kTestTooLongCaption) + ": " + std::string(serial::kTestTextTooLong));
    outcome_.result = "test text too long";
  } else if (sent == serial::TestSendResult::kSent) {
    const auto& timeout = shared_.options.timeoutSeconds;
    // A port whose link failed waits no more: it ends at once, saying nothing more.
    payload_ = parts_->firstPayload.Wait(
        timeout ? Seconds(*timeout) : Clock::duration(kComTestDefaultWait),
        [this] { return fatal_ || shared_.control.Interrupted(); }, kPollPeriod);
    if (fatal_) {
      core.SetComTestActive(false);
      return;
    }
    if (!payload_) {
      Note("no test frame came back");
      outcome_.result = "no test frame came back";
    }
  } else {
    outcome_.result = "the test frame could not be sent";
  }
  core.SetComTestActive(false);
  outcome_.payload = payload_;
  outcome_.status = payload_ ? exit_status::kSuccess : exit_status::kTransferFailed;
  if (payload_) outcome_.result = "test frame came back";
}

// Called by the port's error sink on whichever thread reports.
void PortRun::MarkFatal() {
  if (shared_.captureStream) EndProcessFatally();
  {
    // What was shown is counted before the port's thread can see the failure.
    std::lock_guard lock(fatalMutex_);
    if (closed_.exchange(true)) return;  // from now on nothing more of the port is shown
    if (parts_) shownAtFatal_ = parts_->portSink.Close();  // null: the engine is being built
  }
  fatal_ = true;
}

// The one port's capture stream: the run ends here, on the reporting thread, with nothing
// more on stdout (no report block of a transfer that would be cancelled now), the capture
// file left on disk and no wait for any thread.
void PortRun::EndProcessFatally() {
  if (parts_) parts_->stdoutSink.Close();
  if (parts_ && !parts_->temp.Path().empty()) {
    const auto capture = parts_->temp.Path() / terminal::kCaptureFileName;
    ReportText("tavrin-cli: " + std::string(kKeptIn) + capture.string() + "\n");
  }
  std::fflush(stderr);
  std::_Exit(exit_status::kLinkFailed);
}

// One of several ports: its transfer is stopped (what it reports is no longer shown), its
// capture kept as it stood when the link failed, and its engine left.
void PortRun::EndFatally() {
  parts_->core->StopTransfer(core::kTransferStopLimit);
  const auto& logDir = shared_.options.logDir;
  const std::filesystem::path dir =
      logDir.empty() ? parts_->temp.Path() : std::filesystem::path(logDir);
  const auto kept = dir / (target_.fileName + ".log");
  std::error_code ignored;
  std::filesystem::create_directories(dir, ignored);
  std::uint64_t shown = 0;
  {
    std::lock_guard lock(fatalMutex_);
    shown = shownAtFatal_;
  }
  if (CopyPrefix(parts_->core->CapturePath(), shown, kept)) {
    outcome_.capture = kept.string();
    Note(std::string(kKeptIn) + kept.string());
  }
  outcome_.status = exit_status::kLinkFailed;
  outcome_.result = std::string(kLinkFailedResult);
  Abandon();
}

// The engine's threads may still use it and everything it was given: neither this run
// nor its engine is destroyed from now on.
void PortRun::Abandon() {
  abandoned_ = true;
}

void PortRun::DropTemporaryFiles() {
  if (!abandoned_ || shared_.options.logDir.empty()) return;  // else its capture is there
  std::error_code ignored;
  std::filesystem::remove_all(parts_->temp.Path(), ignored);
}

void PortRun::KeepCaptures() {
  const auto& options = shared_.options;
  auto& core = *parts_->core;
  if (!options.log.empty()) {
    const auto path = WithPort(options.log, target_.fileName);
    const auto result = core.SaveLog(path);
    Say(result.caption + ": " + result.text);
    if (result.outcome == terminal::SaveOutcome::kSaved) outcome_.capture = path;
  }
  if (!options.logDir.empty()) {
    const std::filesystem::path dir = options.logDir;
    const auto kept = dir / (target_.fileName + ".log");
    std::error_code error;
    std::filesystem::create_directories(dir, error);
    std::filesystem::copy_file(core.CapturePath(), kept,
                               std::filesystem::copy_options::overwrite_existing, error);
    if (error) {
      Note("the capture cannot be kept as " + kept.string() + ": " + error.message());
    } else {
      outcome_.capture = kept.string();
    }
  }
}

void PortRun::SayFileAccessError() {
  Say(std::string(scripts::kFileAccessErrorCaption) + ": " +
      std::string(scripts::kFileAccessErrorText));
}

void PortRun::Finish() {
  // A port that a signal stopped is named so; its result code stays what it reported (23).
  const bool cancelled = !outcome_.code || *outcome_.code == transfer::result::kTerminated;
  if (shared_.control.Interrupted() && outcome_.status == exit_status::kTransferFailed &&
      cancelled && !fatal_) {
    outcome_.result = CancelledBy(shared_.control.Signal());
  }
  parts_->view.MarkEnded();
  const Progress progress = parts_->view.Snapshot();
  outcome_.seconds = progress.seconds;
  outcome_.bytes = progress.bytes;
  {
    std::lock_guard lock(endedMutex_);
    endedWith_ = outcome_.result;
  }
  if (shared_.json) shared_.json->End(outcome_);
}

}  // namespace tavrin::cli
