// The command line's side of the engine's host interfaces, one set per port: the capture
// stream (stdout with one port; lines tagged with the port, or nowhere, with several or
// with --json), reports and messages (stderr, through the port's voice), and the transfer
// view, which keeps how far the transfer has got for the progress board and the events.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "cli/cli_console.h"
#include "cli/run_outcome.h"
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

// stdout shared by several ports: whole lines, each after its port's tag ("pts/3: text"),
// through `console` when it shares stdout's terminal.
class TaggedStdout {
 public:
  explicit TaggedStdout(Console* console = nullptr, std::FILE* out = stdout)
      : console_(console && console->SharesStdout() ? console : nullptr), out_(out) {}
  void WriteLine(std::string_view tag, std::string_view line);

 private:
  std::mutex mutex_;
  Console* console_;
  std::FILE* out_;
};

// One port's capture stream with several ports or --json: shown as tagged lines, or not
// shown. It counts the bytes it was given, so that the capture can be kept as it stood when
// the port's link failed; once closed it shows nothing more.
class PortOutputSink final : public terminal::OutputSink {
 public:
  // `lines` null: nothing is shown.
  PortOutputSink(TaggedStdout* lines, std::string tag) : lines_(lines), tag_(std::move(tag)) {}
  void Show(std::span<const std::uint8_t> bytes, terminal::ColourMark colour) override;
  // Shows the unfinished last line and stops; the bytes shown until now.
  std::uint64_t Close();

 private:
  static constexpr std::size_t kLongestLine = 4096;  // a longer one is cut into lines

  void EmitLine();

  std::mutex mutex_;
  TaggedStdout* lines_;
  const std::string tag_;
  std::string partial_;
  std::uint64_t shown_ = 0;
  bool closed_ = false;
};

// Where one port's run says things as they happen: the engine's threads and the port's
// own thread call it.
class PortVoice {
 public:
  virtual ~PortVoice() = default;
  // One of the system's texts (a message box, "Connected: ...").
  virtual void Say(std::string_view text) = 0;
  // The program's own remark about the run.
  virtual void Note(std::string_view text) = 0;
  // A failed system call's report, as formatted ("Error 5: ...\n\r...\r\n").
  virtual void ReportText(std::string_view text) = 0;
  // A report block was shown: the result code.
  virtual void Reported(int code) = 0;
  // A downloaded region did not match its CRC.
  virtual void CrcWarning(int region) = 0;
};

// Reports through the voice. A fatal report ends the port: `endRun` is called on whichever
// thread reports (with stdout as the capture stream it leaves the process and does not
// come back); a second EndProcess waits for the first.
class PortErrorSink final : public serial::ErrorSink {
 public:
  PortErrorSink(PortVoice& voice, bool showDebug, std::function<void()> endRun)
      : voice_(voice), showDebug_(showDebug), onFatal_(std::move(endRun)) {}
  void ShowError(std::string text) override { voice_.ReportText(text); }
  void EndProcess() override;
  void Debug(std::string_view text) override;

 private:
  PortVoice& voice_;
  bool showDebug_;
  std::mutex endMutex_;
  std::function<void()> onFatal_;
};

// Where a stored region's data are in the downloaded file.
struct RegionPlace {
  std::uint64_t offset = 0;
  std::uint32_t size = 0;
  bool operator==(const RegionPlace&) const = default;
};

class CliTransferView final : public transfer::TransferView {
 public:
  using Clock = std::chrono::steady_clock;

  explicit CliTransferView(PortVoice& voice) : voice_(voice) {}

  // Before each transfer (the port's thread): whether it is a download, and where a
  // download is saved (nullopt: the save question is declined, the file stays in assembly).
  void BeginTransfer(bool download, std::optional<std::filesystem::path> savePath);
  // Called on the transfer thread as soon as the frame about to be written is the last of
  // the packet phase (set before the transfer starts).
  void OnLastFrameDue(std::function<void()> armed) { lastFrameDue_ = std::move(armed); }

  void SetTotal(std::optional<std::uint32_t> total) override;
  void SetSent(std::optional<std::uint32_t> sent) override;
  void FrameWritten(std::size_t bytes) override;
  void RegionProgress(int region, std::uint64_t bytes) override;
  void ShowMessage(std::string caption, std::string text, transfer::MessageIcon icon) override;
  void AskDownloadSavePath(transfer::DownloadSaveQuestion question) override;
  void ResultReported(int code) override;
  void RegionCrcMismatch(int region) override;
  void RegionStored(int region, std::uint64_t offset, std::uint32_t size) override;

  // Of the last transfer begun. The last result that ends a transfer (not -4, not 2); 0
  // while none.
  int FinalResult() const { return finalResult_; }
  bool Saved() const { return saved_; }
  std::set<int> CrcMismatches() const;
  std::map<int, RegionPlace> Stored() const;

  // Of all transfers of the port: how far they have got, and for the outcome the seconds
  // from the first start to the last end and the payload bytes.
  Progress Snapshot() const;
  void MarkEnded();

 private:
  void Touch();  // mutex_ held

  PortVoice& voice_;
  std::function<void()> lastFrameDue_;
  mutable std::mutex mutex_;
  std::optional<std::filesystem::path> savePath_;
  bool download_ = false;
  Progress progress_;
  std::optional<Clock::time_point> firstStart_;
  std::optional<Clock::time_point> lastEnd_;
  std::uint64_t bytesBefore_ = 0;  // payload of the transfers before this one
  std::uint64_t bytesNow_ = 0;     // of this one
  std::uint64_t regionsDone_ = 0;  // data bytes of this download's regions already stored
  std::set<int> mismatches_;
  std::map<int, RegionPlace> stored_;
  std::atomic<int> finalResult_{0};
  std::atomic<bool> saved_{false};
};

}  // namespace tavrin::cli
