// What a running transfer shows and asks: the transfer panel's indicators, counters,
// progress bar and file-name field, the progress label, the menus and toolbar (through
// the transfer-state refresh), message boxes and the save dialog of a download.
// Called on the transfer thread (and SetReceiveIndicator on the reader thread); a GUI
// implementation queues each call to its UI thread. Every call has a do-nothing default
// so that a host shows only what it has.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

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
  virtual void SetFileName(const std::filesystem::path&) {}
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
  // A message box captioned `caption` with an OK button.
  virtual void ShowMessage(const std::string& /*caption*/, const std::string& /*text*/,
                           MessageIcon) {}
  // The save dialog at the end of a download ("Save Downloaded File"); nullopt when
  // the operator cancels it.
  virtual std::optional<std::filesystem::path> AskDownloadSavePath() { return std::nullopt; }
  // A result code was reported (whether or not its block was shown).
  virtual void ResultReported(int /*code*/) {}
  // A downloaded region (1-based) did not match the CRC the target gave for it.
  virtual void RegionCrcMismatch(int /*region*/) {}
  // Download progress: the region being fetched (1-based) and its data bytes so far.
  virtual void RegionProgress(int /*region*/, std::uint64_t /*bytes*/) {}
};

}  // namespace tavrin::transfer
