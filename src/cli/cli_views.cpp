#include "cli/cli_views.h"

#include "transfer/report_texts.h"

namespace tavrin::cli {

void StdoutSink::Show(std::span<const std::uint8_t> bytes, terminal::ColourMark) {
  std::lock_guard lock(mutex_);
  if (closed_) return;
  std::fwrite(bytes.data(), 1, bytes.size(), stdout);
  std::fflush(stdout);
}

void StdoutSink::Close() {
  std::lock_guard lock(mutex_);
  closed_ = true;
  std::fflush(stdout);
}

void TaggedStdout::WriteLine(std::string_view tag, std::string_view line) {
  std::string text;
  text.reserve(tag.size() + line.size() + 3);
  text.append(tag).append(": ").append(line).push_back('\n');
  if (console_) {
    console_->Out(text);
    return;
  }
  std::lock_guard lock(mutex_);
  std::fwrite(text.data(), 1, text.size(), out_);
  std::fflush(out_);
}

void PortOutputSink::Show(std::span<const std::uint8_t> bytes, terminal::ColourMark) {
  std::lock_guard lock(mutex_);
  if (closed_) return;
  shown_ += bytes.size();
  if (!lines_) return;
  for (const std::uint8_t b : bytes) {
    if (b == '\n') {
      EmitLine();
    } else {
      partial_.push_back(static_cast<char>(b));
      if (partial_.size() >= kLongestLine) EmitLine();
    }
  }
}

std::uint64_t PortOutputSink::Close() {
  std::lock_guard lock(mutex_);
  if (!closed_ && !partial_.empty()) EmitLine();
  closed_ = true;
  return shown_;
}

// A line without the carriage return before its line feed: the report blocks end their
// lines with both.
void PortOutputSink::EmitLine() {
  std::string_view line = partial_;
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  lines_->WriteLine(tag_, line);
  partial_.clear();
}

void PortErrorSink::EndProcess() {
  std::lock_guard lock(endMutex_);
  if (onFatal_) onFatal_();
}

void PortErrorSink::Debug(std::string_view text) {
  if (showDebug_) voice_.ReportText(std::string(text) + "\n");
}

void CliTransferView::BeginTransfer(bool download, std::optional<std::filesystem::path> savePath) {
  std::lock_guard lock(mutex_);
  download_ = download;
  savePath_ = std::move(savePath);
  bytesBefore_ += bytesNow_;
  bytesNow_ = 0;
  regionsDone_ = 0;
  mismatches_.clear();
  stored_.clear();
  finalResult_ = 0;
  saved_ = false;
  if (!firstStart_) firstStart_ = Clock::now();
  progress_.phase = Progress::Phase::kWaiting;
  progress_.framesSent = 0;
  progress_.framesTotal = 0;
  progress_.region = 0;
  progress_.regionBytes = 0;
  Touch();
}

void CliTransferView::SetTotal(std::optional<std::uint32_t> total) {
  if (!total) return;
  bool lastDue = false;
  {
    std::lock_guard lock(mutex_);
    progress_.phase = Progress::Phase::kFrames;
    progress_.framesTotal = *total;
    progress_.framesSent = 0;
    lastDue = !download_ && *total <= 1;
    Touch();
  }
  if (lastDue && lastFrameDue_) lastFrameDue_();
}

void CliTransferView::SetSent(std::optional<std::uint32_t> sent) {
  if (!sent) return;
  bool lastDue = false;
  {
    std::lock_guard lock(mutex_);
    progress_.framesSent = *sent;
    lastDue = !download_ && *sent + 1 >= progress_.framesTotal;
    Touch();
  }
  if (lastDue && lastFrameDue_) lastFrameDue_();
}

void CliTransferView::FrameWritten(std::size_t bytes) {
  std::lock_guard lock(mutex_);
  if (download_) return;  // command packets: not what a download moves
  bytesNow_ += bytes;
  Touch();
}

void CliTransferView::RegionProgress(int region, std::uint64_t bytes) {
  std::lock_guard lock(mutex_);
  progress_.phase = Progress::Phase::kRegion;
  progress_.region = region;
  progress_.regionBytes = bytes;
  bytesNow_ = regionsDone_ + bytes;
  Touch();
}

void CliTransferView::ShowMessage(std::string caption, std::string text,
                                  transfer::MessageIcon icon) {
  voice_.Say(caption + ": " + text);
  if (icon == transfer::MessageIcon::kInformation) saved_ = true;
}

void CliTransferView::AskDownloadSavePath(transfer::DownloadSaveQuestion question) {
  std::optional<std::filesystem::path> path;
  {
    std::lock_guard lock(mutex_);
    path = savePath_;
  }
  question.Answer(std::move(path));
}

void CliTransferView::ResultReported(int code) {
  voice_.Reported(code);
  if (code == transfer::result::kNoResponse || code == transfer::result::kScriptUploadSuccess) {
    return;
  }
  finalResult_ = code;
  std::lock_guard lock(mutex_);
  lastEnd_ = Clock::now();
  Touch();
}

void CliTransferView::RegionCrcMismatch(int region) {
  voice_.CrcWarning(region);
  std::lock_guard lock(mutex_);
  mismatches_.insert(region);
}

void CliTransferView::RegionStored(int region, std::uint64_t offset, std::uint32_t size) {
  std::lock_guard lock(mutex_);
  stored_[region] = {offset, size};
  regionsDone_ += size;
  bytesNow_ = regionsDone_;
  Touch();
}

std::set<int> CliTransferView::CrcMismatches() const {
  std::lock_guard lock(mutex_);
  return mismatches_;
}

std::map<int, RegionPlace> CliTransferView::Stored() const {
  std::lock_guard lock(mutex_);
  return stored_;
}

Progress CliTransferView::Snapshot() const {
  std::lock_guard lock(mutex_);
  Progress progress = progress_;
  progress.bytes = bytesBefore_ + bytesNow_;
  if (firstStart_) {
    const auto end =
        progress_.phase == Progress::Phase::kEnded && lastEnd_ ? *lastEnd_ : Clock::now();
    progress.seconds = std::chrono::duration<double>(end - *firstStart_).count();
  }
  return progress;
}

void CliTransferView::MarkEnded() {
  std::lock_guard lock(mutex_);
  progress_.phase = Progress::Phase::kEnded;
  Touch();
}

void CliTransferView::Touch() {
  ++progress_.version;
}

}  // namespace tavrin::cli
