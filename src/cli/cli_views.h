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

// stdout is exactly the capture stream.
class StdoutSink final : public terminal::OutputSink {
 public:
  void Show(std::span<const std::uint8_t> bytes, terminal::ColourMark colour) override;
};

// Reports on stderr; a fatal report makes the run end with the fatal exit status.
class StderrErrorSink final : public serial::ErrorSink {
 public:
  explicit StderrErrorSink(bool showDebug) : showDebug_(showDebug) {}
  void ShowError(const std::string& text) override;
  void EndProcess() override;
  void Debug(std::string_view text) override;

  bool Fatal() const { return fatal_; }
  // Called once when a fatal report ends the run (wakes the main thread).
  void OnFatal(std::function<void()> handler) { onFatal_ = std::move(handler); }

 private:
  bool showDebug_;
  std::atomic<bool> fatal_{false};
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
  void ShowMessage(const std::string& caption, const std::string& text,
                   transfer::MessageIcon icon) override;
  std::optional<std::filesystem::path> AskDownloadSavePath() override { return savePath_; }
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
