#include "station/port_station.h"

#include <stdlib.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <system_error>

#include "core/port_core.h"
#include "serial/error_reporter.h"
#include "serial/port_diagnosis.h"
#include "serial/port_list.h"
#include "transfer/packet_frame.h"
#include "transfer/report_texts.h"

namespace tavrin::station {
namespace {

using namespace std::chrono_literals;
using SteadyClock = std::chrono::steady_clock;
using SystemClock = std::chrono::system_clock;

constexpr auto kPass = 100ms;      // the longest a wait goes without a look around
constexpr auto kCancelLimit = 5s;  // a cancelled upload must end within this
constexpr std::string_view kLinkFailed = "serial link failed";
constexpr int kStatusTransferFailed = 4;  // the exit statuses a single upload would give
constexpr int kStatusLinkFailed = 6;
constexpr int kStatusBadFile = 2;

// What a box's loader says: any of these is an answer to the attention byte.
bool IsAnswer(std::uint8_t b) {
  using namespace transfer;
  return b == kAck || b == kEnq || b == kNak || b == kEot || b == kDc3 || b == kEtb;
}

bool IsRefusal(std::uint8_t b) {
  using namespace transfer;
  return b == kEot || b == kDc3 || b == kEtb;
}

std::string Hex(std::uint8_t code) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", code);
  return text;
}

int CodeOfRefusal(std::uint8_t code) {
  switch (code) {
    case transfer::kEot:
      return transfer::result::kSameVersion;
    case transfer::kDc3:
      return transfer::result::kTargetWaiting;
    default:
      return transfer::result::kTerminated;
  }
}

// A result code's report block on one line.
std::string BlockText(int code) {
  if (const auto block = transfer::ReportBlockFor(code)) {
    std::string text;
    for (char c : block->text) {
      if (c == '\r' || c == '\n') {
        if (!text.empty() && text.back() != ' ') text += ' ';
      } else {
        text += c;
      }
    }
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text;
  }
  return "result " + std::to_string(code);
}

std::string SafeFileName(std::string_view name) {
  std::string safe;
  for (char c : name) safe += (std::isalnum(static_cast<unsigned char>(c)) || c == '-') ? c : '_';
  while (!safe.empty() && safe.front() == '_') safe.erase(safe.begin());
  return safe.empty() ? "port" : safe;
}

}  // namespace

std::string_view StateText(PortState state) {
  switch (state) {
    case PortState::kWaitingForAdapter:
      return "waiting for the adapter";
    case PortState::kWaitingForBox:
      return "waiting for a box";
    case PortState::kLoading:
      return "loading";
    case PortState::kConfirming:
      return "confirming";
    case PortState::kWaitingForBoxToGo:
      return "waiting for the box to go";
    case PortState::kStopped:
      break;
  }
  return "stopped";
}

std::string_view StateKey(PortState state) {
  switch (state) {
    case PortState::kWaitingForAdapter:
      return "waiting-for-adapter";
    case PortState::kWaitingForBox:
      return "waiting-for-box";
    case PortState::kLoading:
      return "loading";
    case PortState::kConfirming:
      return "confirming";
    case PortState::kWaitingForBoxToGo:
      return "waiting-for-box-to-go";
    case PortState::kStopped:
      break;
  }
  return "stopped";
}

// What the engine of this port reports into, and the port's own waits: one mutex and one
// condition for everything the port's thread waits on.
struct PortStation::Hooks final : terminal::OutputSink,
                                  transfer::TransferView,
                                  serial::ErrorSink,
                                  serial::ComTestView,
                                  core::LineTrace {
  Hooks(PortStation& station) : owner(station) {}

  void Notify() {
    { std::lock_guard lock(mutex); }
    changed.notify_all();
  }

  // OutputSink: the capture stays in its file; nothing is shown.
  void Show(std::span<const std::uint8_t>, terminal::ColourMark) override {}

  // TransferView (transfer thread).
  void SetTotal(std::optional<std::uint32_t> frames) override {
    if (!frames) return;
    total = *frames;
    if (*frames <= 1) confirmArmed = true;
  }
  void SetSent(std::optional<std::uint32_t> frames) override {
    if (!frames) return;
    sent = *frames;
    if (total > 0 && *frames + 1 >= total) confirmArmed = true;  // the last frame is due
    owner.sink_.FramesSent(owner.config_.port, unitNumber, *frames, total);
  }
  void FrameWritten(std::size_t frameBytes) override { bytes += frameBytes; }
  void ResultReported(int code) override {
    if (code != transfer::result::kNoResponse) lastCode = code;  // -4: the transfer goes on
    Notify();
  }

  // ErrorSink (any engine thread).
  void ShowError(std::string text) override {
    std::lock_guard lock(mutex);
    if (linkError.empty()) linkError = std::move(text);
  }
  void EndProcess() override {
    linkLost = true;  // the node failed: the adapter is gone
    Notify();
  }
  void Debug(std::string_view) override {}

  void ShowReceived(std::vector<std::uint8_t>) override {}

  // LineTrace: every byte the box sends, before the engine reads it.
  void Sent(std::span<const std::uint8_t>) override {}
  void Received(std::span<const std::uint8_t> block) override {
    bool answer = false;
    std::optional<std::uint8_t> refusal;
    for (std::uint8_t b : block) {
      answer = answer || IsAnswer(b);
      if (!refusal && confirmArmed && IsRefusal(b)) refusal = b;
    }
    if (!answer) return;
    {
      std::lock_guard lock(mutex);
      lastAnswer = SteadyClock::now();
      if (!answeredAt) answeredAt = SystemClock::now();
      if (refusal && !heardRefusal) heardRefusal = refusal;
    }
    changed.notify_all();
  }

  // Before the upload that looks for the next box.
  void BeginLooking() {
    std::lock_guard lock(mutex);
    answeredAt.reset();
    heardRefusal.reset();
    confirmArmed = false;
    sent = 0;
    total = 0;
    bytes = 0;
    lastCode = 0;
  }

  PortStation& owner;
  mutable std::mutex mutex;
  std::condition_variable changed;
  // Under `mutex`.
  std::optional<SystemClock::time_point> answeredAt;  // the box answered the upload's attention
  SteadyClock::time_point lastAnswer{};
  std::optional<std::uint8_t> heardRefusal;  // a refusal after the last frame was due
  std::string linkError;
  std::optional<SteadyClock::time_point> firstUnitBegan;
  PortState state = PortState::kWaitingForAdapter;
  PortCounts counts;
  int worstStatus = 0;
  int failure = 0;
  // Written by one thread, read by others.
  std::atomic<bool> linkLost{false};
  std::atomic<bool> confirmArmed{false};
  std::atomic<std::uint32_t> sent{0};
  std::atomic<std::uint32_t> total{0};
  std::atomic<std::uint64_t> bytes{0};
  std::atomic<int> lastCode{0};
  std::atomic<unsigned> unitNumber{1};
};

// One opening of the adapter: its own temporary directory (the capture) and engine.
struct PortStation::Connection {
  explicit Connection(std::filesystem::path dir) : tempDir(std::move(dir)) {}
  ~Connection() {
    core.reset();  // the link's threads are joined before the directory goes
    std::error_code ignored;
    if (!tempDir.empty()) std::filesystem::remove_all(tempDir, ignored);
  }
  std::filesystem::path tempDir;
  int openError = 0;
  std::unique_ptr<core::PortCore> core;
};

PortStation::PortStation(PortStationConfig config, Journal& journal, StationControl& control,
                         StationSink& sink)
    : config_(std::move(config)),
      journal_(journal),
      control_(control),
      sink_(sink),
      hooks_(std::make_unique<Hooks>(*this)) {}

PortStation::~PortStation() {
  connection_.reset();
}

template <typename Done>
bool PortStation::WaitUntil(SteadyClock::time_point until, Done done) {
  std::unique_lock lock(hooks_->mutex);
  return hooks_->changed.wait_until(lock, until, done);
}

void PortStation::Wake() {
  hooks_->Notify();
}

int PortStation::Failure() const {
  std::lock_guard lock(hooks_->mutex);
  return hooks_->failure;
}

PortSnapshot PortStation::Snapshot() const {
  PortSnapshot snapshot;
  {
    std::lock_guard lock(hooks_->mutex);
    snapshot.state = hooks_->state;
    snapshot.counts = hooks_->counts;
    snapshot.worstStatus = hooks_->worstStatus;
  }
  snapshot.unit = hooks_->unitNumber;
  snapshot.sent = hooks_->sent;
  snapshot.total = hooks_->total;
  // From the second unit on: the units over the time since the first one began, so that
  // one quick unit is not taken for a rate, and a port that stands idle slows down.
  std::optional<SteadyClock::time_point> first;
  {
    std::lock_guard lock(hooks_->mutex);
    first = hooks_->firstUnitBegan;
  }
  const std::chrono::duration<double, std::ratio<3600>> hours =
      SteadyClock::now() - first.value_or(SteadyClock::now());
  if (snapshot.counts.Total() >= 2 && hours.count() > 0) {
    snapshot.unitsPerHour = snapshot.counts.Total() / hours.count();
  }
  return snapshot;
}

std::string PortStation::ResultText(int code) const {
  return config_.resultText ? config_.resultText(code) : BlockText(code);
}

void PortStation::SetState(PortState state) {
  {
    std::lock_guard lock(hooks_->mutex);
    if (hooks_->state == state) return;
    hooks_->state = state;
  }
  sink_.StateChanged(config_.port, state, unit_);
}

void PortStation::Run() {
  while (control_.Running() && Failure() == 0) {
    if (Connect()) {
      ServeConnection();
      connection_.reset();  // the adapter is gone, or the station stops
    } else {
      WaitForAdapter();
    }
  }
  SetState(PortState::kStopped);
}

// Opens the adapter where it is now; false (having said why, once) when it cannot.
bool PortStation::Connect() {
  SetState(PortState::kWaitingForAdapter);
  const AdapterNode node = config_.resolve ? config_.resolve() : AdapterNode{config_.port, {}, {}};
  std::string cause = node.missing;
  if (!node.portName.empty()) {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "tavrin-station-XXXXXX").string();
    std::filesystem::path dir = mkdtemp(pattern.data()) ? pattern : std::string();
    auto connection = std::make_unique<Connection>(dir);
    hooks_->linkLost = false;
    {
      std::lock_guard lock(hooks_->mutex);
      hooks_->linkError.clear();
    }
    core::CoreConfig config;
    config.tempDir = dir;
    config.deviceFactory = config_.deviceFactory;
    config.linkTimings = config_.linkTimings;
    config.latencyNotice = [this](const std::string& note) { sink_.Note(config_.port, note); };
    Connection* raw = connection.get();
    config.openFailure = [raw](int error) { raw->openError = error; };
    config.trace = hooks_.get();
    connection->core = std::make_unique<core::PortCore>(
        core::CoreHost{*hooks_, *hooks_, *hooks_, *hooks_}, std::move(config));
    serial::PortSettings settings = config_.line;
    settings.portName = node.portName;
    const auto opened =
        dir.empty() ? serial::OpenOutcome::kFailed : connection->core->Connect(settings);
    if (opened == serial::OpenOutcome::kConnected) {
      connection_ = std::move(connection);
      // The node itself, not a link to it: which device the unit was on.
      std::error_code error;
      const auto path = serial::DevicePath(node.portName);
      const auto real = std::filesystem::canonical(path, error);
      device_ = error ? path : real.string();
      adapterSerial_ = node.serial;
      lastCause_.clear();
      sink_.Note(config_.port, "connected: " + serial::ConnectionSummary(settings) +
                                   (device_ != settings.portName ? " (" + device_ + ")" : ""));
      return true;
    }
    if (dir.empty()) {
      cause = "cannot create a temporary directory";
    } else {
      const auto diagnosis = serial::DiagnoseOpenFailure(node.portName, raw->openError,
                                                         serial::SystemDiagnosisEnvironment());
      cause = serial::DescribeOpenFailure(diagnosis, {});
    }
  }
  if (cause != lastCause_) {
    sink_.Note(config_.port, "waiting for the adapter: " + cause);
    lastCause_ = cause;
  }
  return false;
}

void PortStation::WaitForAdapter() {
  WaitUntil(SteadyClock::now() + config_.adapterPoll, [this] { return !control_.Running(); });
}

// Units on the open adapter until it goes or the station stops.
void PortStation::ServeConnection() {
  while (control_.Running() && !hooks_->linkLost && Failure() == 0) {
    if (WaitForBox() == Found::kNothing) break;
    LoadUnit();
    if (!control_.Running() || hooks_->linkLost) break;
    WaitForBoxToGo();
  }
  if (hooks_->linkLost) {
    std::string error;
    {
      std::lock_guard lock(hooks_->mutex);
      error = hooks_->linkError;
    }
    while (!error.empty() && (error.back() == '\n' || error.back() == '\r')) error.pop_back();
    for (auto& c : error) c = (c == '\n' || c == '\r') ? ' ' : c;
    sink_.Note(config_.port, "the adapter is gone (" + device_ + ")" +
                                 (error.empty() ? std::string() : ": " + error));
  }
}

// The upload's attention phase looks for a box; kBox once one has answered.
PortStation::Found PortStation::WaitForBox() {
  auto& core = *connection_->core;
  hooks_->BeginLooking();
  hooks_->unitNumber = unit_;
  core.ClearLog();
  SetState(PortState::kWaitingForBox);
  core.StartUpload(config_.image.path);
  const auto answered = [this] { return hooks_->answeredAt.has_value(); };
  while (!WaitUntil(SteadyClock::now() + kPass,
                    [&] { return answered() || hooks_->linkLost || !control_.Running(); })) {
    if (!core.TransferActive()) break;  // the upload ended with no box: the image is unusable
  }
  bool found = false;
  {
    std::lock_guard lock(hooks_->mutex);
    found = answered();
  }
  if (found) return Found::kBox;
  if (!hooks_->linkLost) core.StopTransfer(kCancelLimit);
  if (!hooks_->linkLost && control_.Running() && hooks_->lastCode == 0) {
    sink_.Note(config_.port, "the image " + config_.image.path + " cannot be used any more");
    {
      std::lock_guard lock(hooks_->mutex);
      hooks_->failure = kStatusBadFile;
    }
    control_.Finish();  // the image is every port's
  }
  return Found::kNothing;
}

// From the box's answer to its result, written to the journal.
void PortStation::LoadUnit() {
  auto& core = *connection_->core;
  UnitRecord record;
  {
    std::lock_guard lock(hooks_->mutex);
    record.startedAt = IsoUtc(*hooks_->answeredAt);
  }
  const auto started = SteadyClock::now();
  {
    std::lock_guard lock(hooks_->mutex);
    if (!hooks_->firstUnitBegan) hooks_->firstUnitBegan = started;
  }
  sink_.UnitBegan(config_.port, unit_, device_);
  SetState(PortState::kLoading);
  bool cancelled = false;
  while (!core.WaitTransfer(kPass)) {
    if (hooks_->linkLost) break;
    if (!cancelled && control_.Current() == StationControl::Stage::kCancel) {
      core.Cancel();
      cancelled = true;
    }
  }
  const int code = hooks_->lastCode;
  if (code != 0) record.resultCode = code;
  // "Upload Success" comes only after the last frame went out whole: an unplug after it
  // does not undo the unit (it may still leave it unconfirmed).
  if (hooks_->linkLost) core.StopTransfer(kCancelLimit);
  if (hooks_->linkLost && code != transfer::result::kUploadSuccess) {
    record.outcome = Outcome::kFailed;
    record.status = kStatusLinkFailed;
    record.result = std::string(kLinkFailed);
  } else if (code == transfer::result::kUploadSuccess) {
    record.outcome = Outcome::kLoaded;
    record.result = ResultText(code);
    if (config_.confirm) {
      const auto refusal = Confirm();
      record.confirm = refusal ? Hex(*refusal) + " " + ResultText(CodeOfRefusal(*refusal))
                               : std::string("nothing");
      if (refusal) {
        record.outcome = Outcome::kFailed;
        record.status = kStatusTransferFailed;
        record.result = "refused after Upload Success: " + ResultText(CodeOfRefusal(*refusal));
      } else if (hooks_->linkLost) {
        record.outcome = Outcome::kFailed;
        record.status = kStatusLinkFailed;
        record.result = "Upload Success, not confirmed: " + std::string(kLinkFailed);
      }
    }
  } else {
    record.outcome =
        code == transfer::result::kSameVersion ? Outcome::kAlreadyLoaded : Outcome::kFailed;
    record.status = kStatusTransferFailed;
    record.result = code != 0 ? ResultText(code) : "no result";
  }
  const std::chrono::duration<double> seconds = SteadyClock::now() - started;
  record.seconds = seconds.count();
  record.bytesPerSecond =
      record.seconds > 0 ? static_cast<double>(hooks_->bytes) / record.seconds : 0;
  FinishUnit(record);
}

// --confirm: the box's refusal of the last frame comes after "Upload Success", if at all.
std::optional<std::uint8_t> PortStation::Confirm() {
  SetState(PortState::kConfirming);
  const auto until = SteadyClock::now() + *config_.confirm;
  WaitUntil(until, [this] {
    return hooks_->heardRefusal.has_value() || hooks_->linkLost ||
           control_.Current() == StationControl::Stage::kCancel;
  });
  std::lock_guard lock(hooks_->mutex);
  return hooks_->heardRefusal;
}

void PortStation::FinishUnit(UnitRecord& record) {
  record.unitId = NewUnitId();
  record.station = config_.station;
  record.port = config_.port;
  record.device = device_;
  record.adapterSerial = adapterSerial_;
  record.imagePath = config_.image.path;
  record.imageSha256 = config_.image.sha256;
  record.imageBytes = config_.image.bytes;
  record.endedAt = IsoUtc(SystemClock::now());
  if (!config_.captureDir.empty()) {
    std::error_code ignored;
    std::filesystem::create_directories(config_.captureDir, ignored);
    const auto kept = config_.captureDir / (SafeFileName(config_.port) + "-" +
                                            std::to_string(unit_) + "-" + record.unitId + ".log");
    const auto saved = connection_->core->SaveLog(kept);
    if (saved.outcome == terminal::SaveOutcome::kSaved) record.capture = kept.string();
  }
  const auto error = journal_.Record(record);
  {
    std::lock_guard lock(hooks_->mutex);
    switch (record.outcome) {
      case Outcome::kLoaded:
        ++hooks_->counts.loaded;
        break;
      case Outcome::kAlreadyLoaded:
        ++hooks_->counts.alreadyLoaded;
        break;
      case Outcome::kFailed:
        ++hooks_->counts.failed;
        hooks_->worstStatus = std::max(hooks_->worstStatus, record.status);
        break;
    }
    if (error) hooks_->failure = kStatusBadFile;
  }
  // A station that cannot keep its journal loads no more boxes, on any port.
  if (error) control_.Finish();
  sink_.UnitEnded(config_.port, unit_, record, error);
  ++unit_;
  hooks_->unitNumber = unit_;
  control_.UnitRecorded();
}

// The attention byte every kProbePeriod, outside any transfer, until the box has not
// answered for the gap (or the adapter goes, or the station stops).
void PortStation::WaitForBoxToGo() {
  auto& core = *connection_->core;
  SetState(PortState::kWaitingForBoxToGo);
  {
    std::lock_guard lock(hooks_->mutex);
    hooks_->lastAnswer = std::max(hooks_->lastAnswer, SteadyClock::now());
  }
  const std::uint8_t probe[] = {kProbe};
  auto nextProbe = SteadyClock::now();
  for (;;) {
    if (hooks_->linkLost || !control_.Running()) return;
    const auto now = SteadyClock::now();
    if (now >= nextProbe) {
      core.SendLine(probe);
      nextProbe = now + kProbePeriod;
    }
    SteadyClock::time_point goneAt;
    {
      std::lock_guard lock(hooks_->mutex);
      goneAt = hooks_->lastAnswer + config_.gap;
    }
    if (now >= goneAt) return;
    WaitUntil(std::min(goneAt, nextProbe),
              [this] { return hooks_->linkLost || !control_.Running(); });
  }
}

}  // namespace tavrin::station
