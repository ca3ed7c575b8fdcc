#include "cli/cli_views.h"

#include <cinttypes>

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

void StderrErrorSink::ShowError(std::string text) {
  std::fputs(text.c_str(), stderr);
}

void StderrErrorSink::EndProcess() {
  std::lock_guard lock(endMutex_);
  if (onFatal_) onFatal_();
}

void StderrErrorSink::Debug(std::string_view text) {
  if (!showDebug_) return;
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fputc('\n', stderr);
}

void CliTransferView::SetTotal(std::optional<std::uint32_t> total) {
  std::lock_guard lock(mutex_);
  if (total) {
    total_ = *total;
    started_ = std::chrono::steady_clock::now();
  } else {
    EndProgressLine();
  }
}

void CliTransferView::FrameWritten(std::size_t bytes) {
  std::lock_guard lock(mutex_);
  bytesSent_ += bytes;
}

void CliTransferView::SetSent(std::optional<std::uint32_t> sent) {
  if (!sent || !progressLine_) return;
  std::lock_guard lock(mutex_);
  const double elapsed =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
  const double bytesPerSecond = elapsed > 0 ? static_cast<double>(bytesSent_) / elapsed : 0;
  const double framesPerSecond = elapsed > 0 ? *sent / elapsed : 0;
  const double eta = framesPerSecond > 0 ? (total_ - *sent) / framesPerSecond : 0;
  char line[128];
  std::snprintf(line, sizeof line, "frames %u/%u  %.0f bytes/s  ETA %.0f s", *sent, total_,
                bytesPerSecond, eta);
  DrawProgress(line);
}

void CliTransferView::RegionProgress(int region, std::uint64_t bytes) {
  if (!progressLine_) return;
  std::lock_guard lock(mutex_);
  const double elapsed =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
  char line[128];
  std::snprintf(line, sizeof line, "region %d  %" PRIu64 " bytes  %.0f bytes/s", region, bytes,
                elapsed > 0 ? static_cast<double>(bytes) / elapsed : 0.0);
  DrawProgress(line);
}

void CliTransferView::ShowMessage(std::string caption, std::string text,
                                  transfer::MessageIcon icon) {
  std::lock_guard lock(mutex_);
  EndProgressLine();
  std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
  if (icon == transfer::MessageIcon::kInformation) saved_ = true;
}

void CliTransferView::ResultReported(int code) {
  if (code == transfer::result::kNoResponse || code == transfer::result::kScriptUploadSuccess) {
    return;
  }
  finalResult_ = code;
  std::lock_guard lock(mutex_);
  EndProgressLine();
}

void CliTransferView::RegionCrcMismatch(int) {
  crcMismatch_ = true;
}

void CliTransferView::DrawProgress(const std::string& line) {
  std::fprintf(stderr, "\r%-70s", line.c_str());
  std::fflush(stderr);
  lineShown_ = true;
}

void CliTransferView::EndProgressLine() {
  if (!lineShown_) return;
  std::fputc('\n', stderr);
  lineShown_ = false;
}

}  // namespace tavrin::cli
