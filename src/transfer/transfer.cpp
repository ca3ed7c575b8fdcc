#include "transfer/transfer.h"

#include <cinttypes>
#include <cstdio>

#include "transfer/packet_frame.h"
#include "transfer/report_texts.h"

namespace tavrin::transfer {
namespace {

using std::chrono::milliseconds;

constexpr milliseconds kPollPeriod{100};  // every wait of a phase is tested this often
constexpr int kDeadlineSeconds = 15;      // no answer within this: report -4
constexpr int kSecondsPerHour = 3600;     // the clock is the second of the hour

constexpr const char* kInvalidImage = "Unable to upload\nGiven URT file is invalid.";

}  // namespace

Transfer::Transfer(TransferContext context) : ctx_(context) {}

Transfer::~Transfer() {
  Cancel();
  if (thread_.joinable()) thread_.join();
  std::lock_guard lock(receiveMutex_);
  if (frameFile_) std::fclose(frameFile_);
}

bool Transfer::StartUpload(const std::filesystem::path& urtFile) {
  if (Active()) return false;
  imagePath_ = urtFile;
  plan_ = {};
  Launch(TransferMode::kUpload);
  return true;
}

bool Transfer::StartDownload(const std::filesystem::path& commandImage, DownloadPlan plan) {
  if (Active()) return false;
  imagePath_ = commandImage;
  plan_ = std::move(plan);
  Launch(TransferMode::kDownload);
  return true;
}

void Transfer::Launch(TransferMode mode) {
  if (thread_.joinable()) thread_.join();
  // Cleared here, by the start command, rather than on the transfer thread: a Cancel
  // given right after the start must not be lost.
  state_.cancelRequest = false;
  cancelSignal_.Reset();
  state_.pause = false;
  state_.mode = mode;
  {
    std::lock_guard lock(finishMutex_);
    active_ = true;
  }
  thread_ = std::thread([this] {
    TransferProc();
    ForgetAnswer();
    // A cancel ends with its transfer: left pending, it would keep the receive processor
    // from interpreting and blanking the bytes of the rest of the connection.
    state_.cancelRequest = false;
    state_.pause = false;
    {
      std::lock_guard lock(finishMutex_);
      active_ = false;
    }
    finished_.notify_all();
  });
}

void Transfer::Cancel() {
  state_.pause = false;
  state_.cancelRequest = true;
  cancelSignal_.Raise();
  state_.Notify();
}

void Transfer::TogglePause() {
  if (state_.cancelRequest) return;
  state_.pause = !state_.pause;
  state_.Notify();
}

bool Transfer::Active() const {
  return active_.load();
}

bool Transfer::WaitUntilFinished(milliseconds timeout) {
  std::unique_lock lock(finishMutex_);
  return finished_.wait_for(lock, timeout, [this] { return !active_; });
}

void Transfer::TransferProc() {
  ResetForStart();
  if (!OpenImage()) return;

  state_.running = true;
  nextOffset_ = state_.mode == TransferMode::kUpload ? kUrtHeaderSize : kCommandImageHeaderSize;
  NoteDeadline();
  ctx_.view.RefreshTransferState();

  Outcome outcome = AttentionPhase();
  if (outcome == Outcome::kGoOn) outcome = ModeCommandPhase();
  if (outcome == Outcome::kGoOn) outcome = WhoAmIPhase();
  if (outcome == Outcome::kGoOn) outcome = ReplyPhase();
  if (outcome == Outcome::kGoOn) outcome = PacketPhase();

  switch (outcome) {
    case Outcome::kGoOn:
      Finish();
      if (state_.mode == TransferMode::kDownload) ReceivePhase();
      break;
    case Outcome::kCancelled:
      EndCancelled();
      break;
    case Outcome::kTargetCode:
      EndTargetCode();
      break;
    case Outcome::kFrameError:
    case Outcome::kFailed:
      EndFrameError();
      break;
  }
  image_.reset();
}

void Transfer::ResetForStart() {
  state_.ackSeen = false;
  state_.targetCode = 0;
  state_.verified = false;
  state_.expectingAnswer = false;
  state_.answerComplete = false;
  state_.captureHold = false;
  state_.attention = true;
  regionsAsked_.clear();
  ForgetAnswer();
}

// A who-am-I answer part-way in belongs to its transfer: left behind, it would take the
// bytes of later text as its own.
void Transfer::ForgetAnswer() {
  std::lock_guard lock(receiveMutex_);
  feSeen_ = false;
  oneSeen_ = false;
  answerHave_ = 0;
  answerMissing_ = 0;
}

// Opens the image and reads its header; false (after the message box) when the transfer
// cannot start.
bool Transfer::OpenImage() {
  image_ = ImageFile::Open(imagePath_);
  if (!image_) {
    ctx_.view.ShowMessage(kProgramCaption, kFileAccessError, MessageIcon::kNone);
    EndEarly();
    return false;
  }
  const bool upload = state_.mode == TransferMode::kUpload;
  const auto bytes = image_->ReadAt(0, upload ? kUrtHeaderSize : kCommandImageHeaderSize);
  bool valid = false;
  if (bytes && upload) {
    if (const auto header = ParseUrtHeader(*bytes)) {
      packetCount_ = header->packetCount;
      std::lock_guard lock(receiveMutex_);
      identity_ = header->identity;
      valid = true;
    }
  } else if (bytes) {
    if (const auto count = ParseCommandImageHeader(*bytes)) {
      packetCount_ = *count;
      valid = true;
    }
  }
  if (!valid) {
    ctx_.view.ShowMessage(kProgramCaption, kInvalidImage, MessageIcon::kStop);
    image_.reset();
    EndEarly();
  }
  return valid;
}

// After the two early failures: nothing was reported, the controls return to "connected,
// no transfer".
void Transfer::EndEarly() {
  state_.running = false;
  state_.mode = TransferMode::kUpload;
  ctx_.view.HideProgressLabel();
  ctx_.view.RefreshTransferState();
}

// Attention: 0x17 every poll period until the target answers (ACK, ENQ after ACK, or one
// of 0x13, 0x15, 0x04, 0x17, which the receive processor turns into the target code).
Transfer::Outcome Transfer::AttentionPhase() {
  constexpr std::uint8_t kAttention[] = {kEtb};
  do {
    WriteBytes(kAttention);
    WaitUntil(kPollPeriod,
              [this] { return !state_.attention || state_.cancelRequest || TargetRefused(); });
    TestDeadline();
    if (state_.cancelRequest) return Outcome::kCancelled;
    if (TargetRefused()) return Outcome::kTargetCode;
    WaitWhilePaused();
  } while (state_.attention);
  return Outcome::kGoOn;
}

// The mode command goes out only when the target is already ready (ACK and ENQ came
// together, or a ready flag was left by the previous transfer). Capture hold keeps what
// the loader prints while it changes mode out of the output.
Transfer::Outcome Transfer::ModeCommandPhase() {
  if (!state_.ready) return Outcome::kGoOn;
  state_.captureHold = true;
  state_.ready = false;  // before the write, so a quick ENQ is never lost
  WriteBytes(BuildCommandPacket(CommandPacket::kModeCommand));
  return WaitUntilReadyOrCancel() ? Outcome::kGoOn : Outcome::kCancelled;
}

// Who-am-I: on each ENQ send the command and wait for the answer; a mismatching answer
// leaves verified clear and the next ENQ brings the command again. No time-out applies.
Transfer::Outcome Transfer::WhoAmIPhase() {
  while (!state_.verified) {
    if (state_.ready) {
      state_.ready = false;
      state_.answerComplete = false;
      state_.expectingAnswer = true;  // before the write: a quick answer is never missed
      WriteBytes(BuildCommandPacket(CommandPacket::kWhoAmICommand));
      ctx_.errors.Debug("Who am i command sent");
      while (!WaitUntil(kPollPeriod,
                        [this] { return state_.answerComplete || state_.cancelRequest; })) {
      }
      if (state_.cancelRequest) return Outcome::kCancelled;
    }
    WaitUntil(kPollPeriod,
              [this] { return state_.verified || state_.ready || state_.cancelRequest; });
    if (state_.cancelRequest) return Outcome::kCancelled;
  }
  return Outcome::kGoOn;
}

Transfer::Outcome Transfer::ReplyPhase() {
  if (!WaitUntilReadyOrCancel()) return Outcome::kCancelled;
  Identity identity;
  {
    std::lock_guard lock(receiveMutex_);
    identity = identity_;
  }
  const auto reply = BuildCommandPacket(CommandPacket::kWhoAmIReply, identity);
  state_.ready = false;
  WriteBytes(reply);
  ctx_.errors.Debug("Send reply for Who am i command");
  return WaitUntilReadyOrCancel() ? Outcome::kGoOn : Outcome::kCancelled;
}

// One frame for every ENQ, read from the file only when it is due.
Transfer::Outcome Transfer::PacketPhase() {
  framesLeft_ = packetCount_;
  state_.captureHold = false;
  ctx_.view.RefreshTransferState();
  ctx_.view.SetTotal(packetCount_);
  ctx_.view.SetProgressRange(packetCount_ & 0xFFFF);
  ctx_.view.SetProgressPosition(0);
  ctx_.view.SetFileName(state_.mode == TransferMode::kUpload ? imagePath_ : plan_.scriptPath);
  NoteDeadline();
  bool sent = false;
  while (framesLeft_ > 0) {
    if (!state_.ready && TargetRefused()) return Outcome::kTargetCode;
    if (sent) {
      NoteDeadline();
      sent = false;
    }
    TestDeadline();
    WaitWhilePaused();
    if (state_.cancelRequest) return Outcome::kCancelled;
    if (!state_.ready) {
      // The target's ENQ (or a refusal, a cancel or a pause) wakes this wait at once.
      WaitUntil(kPollPeriod, [this] {
        return state_.ready || state_.cancelRequest || state_.pause || TargetRefused();
      });
      continue;
    }
    sent = true;
    auto read = image_->ReadFrameAt(nextOffset_);
    if (const auto* error = std::get_if<FrameError>(&read)) {
      ReportResult(static_cast<int>(*error));
      return Outcome::kFrameError;
    }
    if (std::holds_alternative<ReadFailed>(read)) {
      // The system could not read: the next pass reads the same offset again.
      WaitUntil(kPollPeriod, [this] { return state_.cancelRequest.load(); });
      continue;
    }
    const auto& frame = std::get<std::vector<std::uint8_t>>(read);
    WaitWhilePaused();
    ctx_.view.SetSendIndicator(true);
    WaitWhilePaused();
    state_.ready = false;  // before the write, so the ENQ for the next frame is never lost
    const std::size_t written = WriteBytes(frame);
    WaitWhilePaused();
    if (written < frame.size() && state_.cancelRequest) return Outcome::kCancelled;
    if (written < frame.size()) {
      char text[96];
      std::snprintf(text, sizeof text, "Short write: %zu of %zu bytes\r\n", written, frame.size());
      ctx_.status.UpdateStatus(text);
      return Outcome::kFailed;
    }
    if (state_.mode == TransferMode::kDownload) NoteRegionAsked(frame);
    nextOffset_ += frame.size();
    ctx_.view.FrameWritten(frame.size());
    ctx_.view.StepProgress();
    --framesLeft_;
    ctx_.view.SetSendIndicator(false);
    ctx_.view.SetSent(packetCount_ - framesLeft_);
  }
  return Outcome::kGoOn;
}

void Transfer::Finish() {
  image_.reset();
  const bool upload = state_.mode == TransferMode::kUpload;
  ctx_.view.SetTotal(std::nullopt);
  ctx_.view.SetSent(std::nullopt);
  if (upload) ctx_.view.SetFileName({});
  ctx_.view.SetProgressPosition(0);
  ReportResult(upload ? result::kUploadSuccess : result::kScriptUploadSuccess);
  state_.running = false;
  if (upload) ctx_.view.RefreshTransferState();
  // Also in download mode: COM Port Testing is offered through the receive phase.
  ctx_.view.OfferComPortTesting();
  if (upload) {
    ctx_.view.TransferControlsIdle();
    ctx_.view.HideProgressLabel();
  }
}

void Transfer::EndCancelled() {
  state_.captureHold = false;  // so that the report is shown
  ReportResult(result::kTerminated);
  state_.running = false;
  state_.mode = TransferMode::kUpload;
  ctx_.view.RefreshTransferState();
  ctx_.view.SetFileName({});
  ctx_.view.SetTotal(std::nullopt);
  ctx_.view.SetSent(std::nullopt);
}

void Transfer::EndTargetCode() {
  ReportResult(state_.targetCode);  // 0x04, 0x13, 0x17 are reported as 4, 19, 23
  state_.running = false;
  state_.mode = TransferMode::kUpload;
  ctx_.view.RefreshTransferState();
  ctx_.view.HideProgressLabel();
}

// A frame error (already reported) or a short write: the clean-up of a finish without its
// report, then an upload's closing steps; a download goes no further. In download mode the
// file-name field keeps the script's path and the menus stay as the Download start set
// them, as after a finish.
void Transfer::EndFrameError() {
  image_.reset();
  const bool upload = state_.mode == TransferMode::kUpload;
  ctx_.view.SetTotal(std::nullopt);
  ctx_.view.SetSent(std::nullopt);
  if (upload) ctx_.view.SetFileName({});
  ctx_.view.SetProgressPosition(0);
  state_.running = false;
  state_.mode = TransferMode::kUpload;
  if (upload) ctx_.view.RefreshTransferState();
  ctx_.view.OfferComPortTesting();
  ctx_.view.TransferControlsIdle();
  ctx_.view.HideProgressLabel();
}

// Writes the report block of `code` into the output as if the target had sent it. Only
// while a transfer is active; capture hold keeps it out like any received text.
void Transfer::ReportResult(int code) {
  if (!state_.running && state_.mode != TransferMode::kDownload) return;
  const auto block = ReportBlockFor(code);
  if (!block) return;
  ShowBlock(block->text, block->colour);
  ctx_.view.ResultReported(code);
}

void Transfer::ShowBlock(const std::string& text, terminal::ColourMark colour) {
  ctx_.view.SetReceiveIndicator(true);
  if (!state_.captureHold) {
    ctx_.capture.WriteToCapture(
        std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()), colour);
  }
  ctx_.view.SetReceiveIndicator(false);
}

// Tested every poll period: true when ready is set, false on a cancel.
bool Transfer::WaitUntilReadyOrCancel() {
  while (!WaitUntil(kPollPeriod, [this] { return state_.ready || state_.cancelRequest; })) {
  }
  return !state_.cancelRequest;
}

// A cancel wins over pause: Cancel clears it, and a Pause pressed after the Cancel (before
// the transfer's next cancel test) does not hold the transfer either.
void Transfer::WaitWhilePaused() {
  const auto held = [this] { return state_.pause && !state_.cancelRequest; };
  while (held()) WaitUntil(kPollPeriod, [&held] { return !held(); });
}

bool Transfer::TargetRefused() const {
  const int code = state_.targetCode;
  return code == kEot || code == kDc3 || code == kEtb;
}

std::size_t Transfer::WriteBytes(std::span<const std::uint8_t> bytes) {
  return ctx_.port.Write(bytes, cancelSignal_);
}

void Transfer::PurgeReceive() {
  const serial::DeviceResult result = ctx_.port.PurgeReceive();
  if (!result.ok) serial::ErrorReporter(ctx_.errors).ReportError(serial::kPurgeStep, result.error);
}

void Transfer::NoteDeadline() {
  deadlineNoted_ = ctx_.clock.SecondOfHour();
  deadlineFired_ = false;
}

// One deadline gives at most one "due", however many passes see it; the clock wraps at
// the hour, so the elapsed time is taken modulo 3600.
bool Transfer::DeadlineDue() {
  if (deadlineFired_) return false;
  const int elapsed =
      ((ctx_.clock.SecondOfHour() - deadlineNoted_) % kSecondsPerHour + kSecondsPerHour) %
      kSecondsPerHour;
  if (elapsed < kDeadlineSeconds) return false;
  deadlineFired_ = true;
  return true;
}

void Transfer::TestDeadline() {
  if (DeadlineDue()) ReportResult(result::kNoResponse);
}

}  // namespace tavrin::transfer
