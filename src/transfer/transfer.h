// Transfer: one upload or download at a time, run by TransferProc on a thread of its
// own, and the receive processor that the reader thread feeds.
//
// Threads:
//   UI thread        StartUpload, StartDownload, Cancel, TogglePause, WaitUntilFinished
//   transfer thread  TransferProc (and everything it calls), ReportResult
//   reader thread    ProcessReceivedBytes
// The shared flags live in TransferState; the receive processor's own state (who-am-I
// matcher, dump frame being received) is guarded by receiveMutex_, which the transfer
// thread takes only to reset it at the start of a transfer or region and to take the
// frame requests. No host call (view, error sink) is made with receiveMutex_ held: the
// receive processor notes its messages and reports and makes them after releasing it.
//
// Every wait of the transfer thread ends on Cancel: the phases' waits, a pause, a write
// the target does not take (the cancel signal ends it) and the save question. So a
// cancelled transfer thread ends within its next poll period unless a host call it makes
// does not return.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "serial/error_reporter.h"
#include "serial/status_log.h"
#include "serial/stop_signal.h"
#include "terminal/capture_sink.h"
#include "transfer/clock.h"
#include "transfer/transfer_port.h"
#include "transfer/transfer_state.h"
#include "transfer/transfer_view.h"
#include "transfer/urt_file.h"

namespace tavrin::transfer {

inline constexpr const char* kProgramCaption = "Tavrin 1.1";
// The box of a file that cannot be opened or written.
inline constexpr const char* kFileAccessError = "Error No: -3 \n File Access Error!!!";

// The 16-byte HeaderData of one script record, byte for byte: it labels a region in the
// downloaded file.
using HeaderDataBytes = std::array<std::uint8_t, 16>;

// A block of the downloaded file starts with its region's HeaderData as its header: bytes
// 2-3 FF FF, byte 11 FF, bytes 12-15 the little-endian file offset just past the block's
// data.
inline constexpr std::size_t kBlockHeaderSize = 16;
HeaderDataBytes BlockHeader(HeaderDataBytes header, std::uint64_t endOffset);

// What a download needs beside its command image.
struct DownloadPlan {
  std::filesystem::path scriptPath;         // shown in the file-name field
  std::filesystem::path tempDir;            // pckurt.bin, DumpBin.dbi, zvqDumpBIN.fdb
  std::vector<HeaderDataBytes> headerData;  // one entry a region, in script order
};

// The host objects a transfer talks to; all outlive the Transfer.
struct TransferContext {
  TransferPort& port;
  TransferView& view;
  terminal::CaptureSink& capture;
  Clock& clock;
  serial::ErrorSink& errors;  // debug lines
  serial::StatusLog& status;
};

class Transfer {
 public:
  explicit Transfer(TransferContext context);
  ~Transfer();
  Transfer(const Transfer&) = delete;
  Transfer& operator=(const Transfer&) = delete;

  // Start commands: false when a transfer thread is still running.
  bool StartUpload(const std::filesystem::path& urtFile);
  bool StartDownload(const std::filesystem::path& commandImage, DownloadPlan plan);
  // Ends the transfer with result code 23 at its next cancel test, whatever it waits for.
  // Clears pause. The request lasts until the transfer thread ends.
  void Cancel();
  // Pause or continue; ignored once a cancel is pending (the cancel wins).
  void TogglePause();
  // True while the transfer thread has not finished: from a start to the end of the
  // thread, a download's receive phase and save question included.
  bool Active() const;
  // Waits (bounded) for the transfer thread to finish; true when it has.
  bool WaitUntilFinished(std::chrono::milliseconds timeout);

  // The receive processor: interprets the target's control bytes into TransferState,
  // gathers the who-am-I answer, stores dump frames while a download receives, and
  // blanks protocol bytes in place. Reader thread.
  void ProcessReceivedBytes(std::span<std::uint8_t> block);
  // After ProcessReceivedBytes, on the reader thread: how many more bytes the dump frame
  // being received still has to come (its length is known), up to and with its
  // HeaderEnd; 0 when no frame is part-way in.
  std::size_t FrameBytesStillComing() const { return frameBytesComing_; }

  TransferState& State() { return state_; }

 private:
  enum class Outcome { kGoOn, kCancelled, kTargetCode, kFrameError, kFailed };

  // transfer.cpp: the upload half, shared by both modes.
  void Launch(TransferMode mode);
  void TransferProc();
  void ResetForStart();
  void ForgetAnswer();
  bool OpenImage();
  void EndEarly();
  Outcome AttentionPhase();
  Outcome ModeCommandPhase();
  Outcome WhoAmIPhase();
  Outcome ReplyPhase();
  Outcome PacketPhase();
  void Finish();
  void EndCancelled();
  void EndTargetCode();
  void EndFrameError();
  void ReportResult(int code);
  void ShowBlock(const std::string& text, terminal::ColourMark colour);
  // Waits until `done()` holds, at most one pass; returns done().
  bool WaitUntil(std::chrono::milliseconds pass, const auto& done) {
    return state_.WaitFor(pass, done);
  }
  bool WaitUntilReadyOrCancel();
  void WaitWhilePaused();
  bool TargetRefused() const;
  std::size_t WriteBytes(std::span<const std::uint8_t> bytes);
  // Transfer thread: purges and reports a failure at once.
  void PurgeReceive();
  // Reader thread, after releasing receiveMutex_: the messages and reports it noted.
  void ReleaseHeldNotices();
  std::size_t FrameBytesStillToCome() const;
  void NoteDeadline();
  void TestDeadline();
  bool DeadlineDue();

  // receive_processor.cpp
  std::size_t TakeAnswerBytes(std::span<const std::uint8_t> bytes);
  void AnswerComplete();
  bool DumpByte(std::uint8_t b);
  void BeginDumpFrame();
  void JudgeDumpFrame();
  void RejectDumpFrame();
  void DropDumpFrame();
  void DropDumpFrameFile();
  void CloseDumpFrameFile();
  bool AcceptInfoPacket(std::span<const std::uint8_t> payload);
  void StoreRegionData(std::span<const std::uint8_t> data);

  // download.cpp: the receive phase.
  void NoteRegionAsked(std::span<const std::uint8_t> commandPacket);
  void ReceivePhase();
  Outcome ReceiveRegion(std::size_t regionIndex);
  Outcome FrameLoop();
  void CheckAndStoreRegion(std::size_t regionIndex);
  bool RegionSizeAsAsked(std::size_t regionIndex);
  bool AppendRegionToDbf(std::size_t regionIndex);
  void EndDownload();
  void EndDownloadCancelled();
  void EndDownloadFailed();
  void CloseDownload();
  void CloseDumpFile();
  void SaveDownload();
  std::optional<std::filesystem::path> AskSavePath();
  std::filesystem::path TempFile(const char* name) const;

  TransferContext ctx_;
  TransferState state_;

  std::thread thread_;
  mutable std::mutex finishMutex_;
  std::condition_variable finished_;
  std::atomic<bool> active_{false};  // written under finishMutex_
  serial::StopSignal cancelSignal_;  // raised by Cancel: ends a write that waits

  // Transfer thread only.
  std::filesystem::path imagePath_;
  DownloadPlan plan_;
  std::unique_ptr<ImageFile> image_;
  std::uint64_t nextOffset_ = 0;
  std::uint32_t packetCount_ = 0;
  std::uint32_t framesLeft_ = 0;
  int deadlineNoted_ = 0;
  bool deadlineFired_ = false;
  int acknowledged_ = -1;
  int regionIndex_ = 0;
  bool lastRequestWasEnq_ = true;
  bool anyRegionBad_ = false;
  // The size each command packet sent asked for, in region order; nullopt for a frame that
  // is not a region request.
  std::vector<std::optional<std::uint32_t>> regionsAsked_;

  // Receive processor state, guarded by receiveMutex_.
  std::mutex receiveMutex_;
  Identity identity_;  // URT header's, or (download) the target's own answer
  bool feSeen_ = false;
  bool oneSeen_ = false;
  std::array<std::uint8_t, kWhoAmIAnswerSize> answer_{};
  std::size_t answerHave_ = 0;
  std::size_t answerMissing_ = 0;
  bool enqIsNew_ = true;  // the pending ENQ asks for a new frame (counted)
  int lengthBytesNeeded_ = 0;
  std::uint32_t frameLength_ = 0;
  std::uint32_t stored_ = 0;
  std::FILE* frameFile_ = nullptr;  // pckurt.bin while a frame is received
  std::filesystem::path dumpDir_;   // where pckurt.bin and DumpBin.dbi live
  int dumpFd_ = -1;                 // DumpBin.dbi while a region is received
  // Something the transfer thread waits for changed in this block: notify it at the end.
  bool wakeTransfer_ = false;
  // Set at the end of each ProcessReceivedBytes, read after it by the same thread.
  std::size_t frameBytesComing_ = 0;
  // Noted under receiveMutex_ on the reader thread, made after it is released.
  struct HeldMessage {
    std::string caption;
    std::string text;
    MessageIcon icon;
  };
  std::vector<HeldMessage> heldMessages_;
  std::vector<int> heldPurgeErrors_;

  // Set by the receive processor from the info packet, read by the transfer thread.
  std::atomic<int> expectedPackets_{0};
  std::atomic<std::uint32_t> regionSize_{0};
  std::atomic<bool> regionHasCrc_{false};
  std::atomic<std::uint32_t> regionCrc_{0};
  std::atomic<std::uint64_t> regionBytes_{0};
};

}  // namespace tavrin::transfer
