// What a running transfer shows and asks: the transfer panel's indicators, counters,
// progress bar and file-name field, the progress label, the menus and toolbar (through
// the transfer-state refresh), message boxes and the save dialog of a download.
// Called on the transfer thread (and SetReceiveIndicator and ShowMessage on the reader
// thread), never with an engine lock held. No call waits for the UI: a GUI implementation
// queues each call to its UI thread with the values it got (they are its own: passed by
// value) and returns; the one question, the save dialog, is answered later through the
// DownloadSaveQuestion. Every call has a do-nothing default so that a host shows only what
// it has.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "transfer/save_question.h"

namespace tavrin::transfer {

enum class MessageIcon { kNone, kInformation, kExclamation, kStop };

class TransferView {
 public:
  virtual ~TransferView() = default;

  virtual void SetSendIndicator(bool /*shown "T"*/) {}
  virtual void SetReceiveIndicator(bool /*shown "R"*/) {}
  // Panel fields: total (1014) and sent (1013) counters; nullopt clears the field.
  virtual void SetTotal(std::optional<std::uint32_t>) {}
  virtual void SetSent(std::optional<std::uint32_t>) {}
  // A frame of `bytes` bytes has been written (for rates and estimates).
  virtual void FrameWritten(std::size_t /*bytes*/) {}
  // File name field (1015); an empty path clears it.
  virtual void SetFileName(std::filesystem::path) {}
  virtual void SetProgressRange(std::uint32_t /*max*/) {}
  virtual void SetProgressPosition(std::uint32_t) {}
  virtual void StepProgress() {}
  virtual void ShowProgressBar(bool) {}
  virtual void HideProgressLabel() {}
  // Menus, toolbar and panel set from the running and connected flags.
  virtual void RefreshTransferState() {}
  // The closing steps of a transfer that ends on its own: COM Port Testing enabled,
  // toolbar Upload/Download enabled, Pause/Cancel disabled.
  virtual void TransferControlsIdle() {}
  // Menu item COM Port Testing enabled: the image has gone, in both modes (a download's
  // receive phase offers it too).
  virtual void OfferComPortTesting() {}
  // A message box captioned `caption` with an OK button.
  virtual void ShowMessage(std::string /*caption*/, std::string /*text*/, MessageIcon) {}
  // The save dialog at the end of a download ("Save Downloaded File"): the view shows it
  // (a window: later, on its UI thread) and gives the operator's choice to `question`,
  // nullopt when the dialog was cancelled. The transfer waits for that answer or a Cancel.
  // Default: cancelled at once.
  virtual void AskDownloadSavePath(DownloadSaveQuestion question) { question.Answer(std::nullopt); }
  // A result code was reported (whether or not its block was shown).
  virtual void ResultReported(int /*code*/) {}
  // A downloaded region (1-based) did not match the CRC the target gave for it, or came
  // with another size than its command packet asked for; it is saved as it came, after
  // its warning block.
  virtual void RegionCrcMismatch(int /*region*/) {}
  // Download progress: the region being fetched (1-based) and its data bytes so far.
  virtual void RegionProgress(int /*region*/, std::uint64_t /*bytes*/) {}
  // A region (1-based) has been appended to the downloaded file in assembly
  // (zvqDumpBIN.fdb): its `size` data bytes start at `offset`, just past its block header
  // when it has one. Called after RegionCrcMismatch for a region that does not match.
  // Regions of size 0 add nothing and are not told.
  virtual void RegionStored(int /*region*/, std::uint64_t /*offset*/, std::uint32_t /*size*/) {}
};

}  // namespace tavrin::transfer
