// The window's side of the engine's reporting interfaces, called from the engine's threads
// and carried over to the UI thread:
// - QueuedTransferView forwards every TransferView call to a view that lives on the UI
//   thread, queued, with owning copies of its arguments (a path or text handed in is valid
//   only during the call). Only the download's save question waits for its answer, and
//   only while the UI thread is free to give one: while the UI thread itself waits for the
//   engine (Disconnect, close), the question is held instead of waited for.
// - QueuedErrorSink shows each report in a message box on the UI thread, one after the
//   other, and ends the program after the boxes of the reports made before the end.
// Neither ever waits on the UI thread while holding a lock the UI thread might need.
#pragma once

#include <QPointer>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/ui_queue.h"
#include "app/user_prompts.h"
#include "serial/error_reporter.h"
#include "transfer/transfer_view.h"

class QWidget;

namespace tavrin::app {

class QueuedTransferView final : public transfer::TransferView {
 public:
  // Made on the UI thread; `uiView` is called there only. Calls still queued when this
  // view is destroyed are dropped; it outlives every engine thread that calls it.
  explicit QueuedTransferView(transfer::TransferView& uiView);
  ~QueuedTransferView() override;

  void SetSendIndicator(bool shown) override;
  void SetReceiveIndicator(bool shown) override;
  void SetTotal(std::optional<std::uint32_t> total) override;
  void SetSent(std::optional<std::uint32_t> sent) override;
  void FrameWritten(std::size_t bytes) override;
  void SetFileName(const std::filesystem::path& path) override;
  void SetProgressRange(std::uint32_t max) override;
  void SetProgressPosition(std::uint32_t position) override;
  void StepProgress() override;
  void ShowProgressBar(bool shown) override;
  void HideProgressLabel() override;
  void RefreshTransferState() override;
  void TransferControlsIdle() override;
  void ShowMessage(const std::string& caption, const std::string& text,
                   transfer::MessageIcon icon) override;
  // Waits for the operator's answer, or until Abandon.
  std::optional<std::filesystem::path> AskDownloadSavePath() override;
  void ResultReported(int code) override;
  void RegionCrcMismatch(int region) override;
  void RegionProgress(int region, std::uint64_t bytes) override;

  // The window is going away: every question waiting for an answer gets none, and later
  // questions are not asked. UI thread.
  void Abandon();

  // The UI thread is about to wait for the transfer thread to end (Disconnect, close), so
  // it cannot show a question until ReleaseQuestions. Meanwhile a save question, and one
  // asked before but not shown yet, is answered at once with no path, and the transfer
  // goes on to its end leaving its result file in place. UI thread.
  void HoldQuestions();
  // Ends the hold; true when a save question was answered that way, so that the window
  // asks it itself. UI thread.
  bool ReleaseQuestions();

 private:
  struct Question;
  void Post(std::function<void(transfer::TransferView&)> call);

  UiQueue queue_;
  transfer::TransferView& uiView_;
  std::mutex mutex_;
  bool abandoned_ = false;
  bool held_ = false;          // between HoldQuestions and ReleaseQuestions
  bool heldQuestion_ = false;  // a question was answered by the hold
  std::vector<std::shared_ptr<Question>> questions_;
};

class QueuedErrorSink final : public serial::ErrorSink {
 public:
  // `endProcess` runs on the UI thread once every report made before EndProcess has been
  // shown and closed.
  // Made on the UI thread.
  QueuedErrorSink(UserPrompts& prompts, std::function<void()> endProcess);

  // The window that owns the message boxes (null: none). UI thread.
  void SetOwner(QWidget* owner);

  void ShowError(const std::string& text) override;
  void EndProcess() override;
  // The debug output on standard error, one line for each text.
  void Debug(std::string_view text) override;

 private:
  UiQueue queue_;
  UserPrompts& prompts_;
  std::function<void()> endProcess_;
  QPointer<QWidget> owner_;
};

// The caption of a report box: the system's default, since the report gives none.
inline constexpr const char* kErrorBoxCaption = "Error";

}  // namespace tavrin::app
