// The command line's side of the engine's host interfaces: received text and reports on
// stdout, messages and errors on stderr, a progress line on stderr when it is a terminal.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "serial/error_reporter.h"
#include "terminal/output_sink.h"
#include "transfer/transfer_view.h"

namespace tavrin::cli {

// stdout is exactly the capture stream, until the run ends on a fatal report.
class StdoutSink final : public terminal::OutputSink {
 public:
  void Show(std::span<const std::uint8_t> bytes, terminal::ColourMark colour) override;
  // Flushes what has been shown and shows nothing more.
  void Close();

 private:
  std::mutex mutex_;
  bool closed_ = false;
};

// Reports on stderr. A fatal report ends the run at once: EndProcess calls `endRun`
// (which closes the output and leaves the process), on whichever thread reports; a second
// EndProcess on another thread waits for the first, which does not come back.
class StderrErrorSink final : public serial::ErrorSink {
 public:
  StderrErrorSink(bool showDebug, std::function<void()> endRun)
      : showDebug_(showDebug), onFatal_(std::move(endRun)) {}
  void ShowError(std::string text) override;
  void EndProcess() override;
  void Debug(std::string_view text) override;

 private:
  bool showDebug_;
  std::mutex endMutex_;
  std::function<void()> onFatal_;
};

class CliTransferView final : public transfer::TransferView {
 public:
  CliTransferView(bool progressLine, std::optional<std::filesystem::path> savePath)
      : progressLine_(progressLine), savePath_(std::move(savePath)) {}

  void SetTotal(std::optional<std::uint32_t> total) override;
  void SetSent(std::optional<std::uint32_t> sent) override;
  void FrameWritten(std::size_t bytes) override;
  void RegionProgress(int region, std::uint64_t bytes) override;
  void ShowMessage(std::string caption, std::string text, transfer::MessageIcon icon) override;
  // The --output path, at once.
  void AskDownloadSavePath(transfer::DownloadSaveQuestion question) override {
    question.Answer(savePath_);
  }
  void ResultReported(int code) override;
  void RegionCrcMismatch(int region) override;

  // The last result that ends a transfer (not -4, not 2); 0 while none.
  int FinalResult() const { return finalResult_; }
  bool AnyCrcMismatch() const { return crcMismatch_; }
  bool Saved() const { return saved_; }

 private:
  void DrawProgress(const std::string& line);
  void EndProgressLine();

  const bool progressLine_;
  const std::optional<std::filesystem::path> savePath_;
  std::mutex mutex_;
  std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
  std::uint32_t total_ = 0;
  std::uint64_t bytesSent_ = 0;
  bool lineShown_ = false;
  std::atomic<int> finalResult_{0};
  std::atomic<bool> crcMismatch_{false};
  std::atomic<bool> saved_{false};
};

}  // namespace tavrin::cli
