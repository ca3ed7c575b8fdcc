// The window's side of the engine's reporting interfaces, called from the engine's threads
// and carried over to the UI thread:
// - QueuedTransferView forwards every TransferView call to a view that lives on the UI
//   thread, queued, with the values it was given. The download's save question travels
//   the same way; the transfer waits for its answer or for a Cancel, never for the UI.
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
  void SetFileName(std::filesystem::path path) override;
  void SetProgressRange(std::uint32_t max) override;
  void SetProgressPosition(std::uint32_t position) override;
  void StepProgress() override;
  void ShowProgressBar(bool shown) override;
  void HideProgressLabel() override;
  void RefreshTransferState() override;
  void TransferControlsIdle() override;
  void OfferComPortTesting() override;
  void ShowMessage(std::string caption, std::string text, transfer::MessageIcon icon) override;
  // Queued like the rest: the UI view answers the question when the operator has chosen.
  void AskDownloadSavePath(transfer::DownloadSaveQuestion question) override;
  void ResultReported(int code) override;
  void RegionCrcMismatch(int region) override;
  void RegionProgress(int region, std::uint64_t bytes) override;

 private:
  void Post(std::function<void(transfer::TransferView&)> call);

  UiQueue queue_;
  transfer::TransferView& uiView_;
};

class QueuedErrorSink final : public serial::ErrorSink {
 public:
  // `endProcess` runs on the UI thread once every report made before EndProcess has been
  // shown and closed.
  // Made on the UI thread.
  QueuedErrorSink(UserPrompts& prompts, std::function<void()> endProcess);

  // The window that owns the message boxes (null: none). UI thread.
  void SetOwner(QWidget* owner);

  void ShowError(std::string text) override;
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
