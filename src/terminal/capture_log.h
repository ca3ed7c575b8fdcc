// CaptureLog: the capture file test_1.log, master copy of everything the output window
// shows. Each block is appended to the file, then read back from the file at the stream
// offset and handed to the OutputSink, so the output shows exactly what the file holds.
// Also the logic of the Save and Clear commands on that file.
//
// Threads: WriteToCapture is called by the reader/status thread (received text) and the
// transfer thread (report blocks); Save, Clear and CloseAndDelete by the user-interface
// thread. Each append, Clear and CloseAndDelete runs under the capture lock, so appends
// never interleave and never use a file that Clear has closed. Save takes only the length
// and its own handle on the file under the lock and copies outside it (the file is only
// ever appended to), so a slow copy never holds up the reader thread's next append.
//
// The OutputSink and the ErrorReporter are never called with the capture lock held: what
// is to be shown goes into an outbox under the lock, in capture order, and is handed to
// the sink after the lock is released, by one thread at a time (the first that finds the
// outbox not being delivered), so the sink sees Show and ClearOutput in exactly the order
// the file got them. A block appended just before a Clear therefore reaches the sink
// before the ClearOutput, never after it. Each file created (at start and by Clear) is
// handed to the sink as a CaptureReader (UseCaptureFile) before the first block of it.
#pragma once

#include <cstdint>
#include <deque>
#include <filesystem>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "serial/error_reporter.h"
#include "terminal/capture_reader.h"
#include "terminal/capture_sink.h"
#include "terminal/output_sink.h"

namespace tavrin::terminal {

inline constexpr std::string_view kCaptureFileName = "test_1.log";

// Fixed texts of the Save command's message boxes.
inline constexpr std::string_view kProgramCaption = "Tavrin 1.1";
inline constexpr std::string_view kSaveOpenFailedText = "Error opening file";
inline constexpr std::string_view kSaveNoMemoryText = "Memory allocation failed";
inline constexpr std::string_view kSaveWriteFailedText = "Error Writing file";
inline constexpr std::string_view kSaveEmptyText = "Buffer is Empty. ";
inline constexpr std::string_view kSaveDoneText = "Log file created successfully. ";

// Step names reported through ReportError.
inline constexpr std::string_view kCreateCaptureStep = "CreateFile";
inline constexpr std::string_view kCaptureWriteStep = "WriteFile in file capture";
inline constexpr std::string_view kCaptureShortWriteStep = "WriteFile";

enum class SaveOutcome : std::uint8_t {
  kSaved,        // the log file holds the capture
  kEmpty,        // nothing captured: the chosen file was deleted again
  kOpenFailed,   // the chosen file could not be created; nothing written
  kNoMemory,     // no copy buffer; the chosen file is left empty
  kWriteFailed,  // writing stopped; the file keeps what was written
};

enum class MessageIcon : std::uint8_t { kNone, kExclamation, kInformation };

// What the front end shows in a message box with an OK button and no owner window.
struct SaveResult {
  SaveOutcome outcome;
  std::string text;
  std::string caption;
  MessageIcon icon;
};

class CaptureLog : public CaptureSink {
 public:
  // Creates `tempDir`/test_1.log empty (see CreateCaptureFile). A failure is reported as
  // "CreateFile"; the log then has no file and every later block is reported as a failed
  // write and shows nothing.
  CaptureLog(std::filesystem::path tempDir, OutputSink& output, serial::ErrorReporter& errors);
  // Closes the file (it stays on disk). No thread may be appending any more.
  ~CaptureLog() override;
  CaptureLog(const CaptureLog&) = delete;
  CaptureLog& operator=(const CaptureLog&) = delete;

  // Appends `bytes` at the end of the file, then shows the bytes read back from the
  // stream offset (as many as were handed in, fewer if the file yields fewer) as one
  // block in `colour`. A failed write is reported as "WriteFile in file capture" and a
  // short one as "WriteFile" (a failed write is also short: no file gives both); the
  // read-back still runs. Capture hold is the caller's test.
  void WriteToCapture(std::span<const std::uint8_t> bytes,
                      ColourMark colour = ColourMark::kNone) override;

  // Clear: closes and deletes the file, creates it again empty, sets the stream offset to
  // 0 and empties the output (ClearOutput, after every block shown before it).
  void Clear();

  // Save: copies the capture file from its start into `logPath` (created or replaced),
  // every 0x00, 0x11 and 0x17 replaced by a blank: the capture as long as it was when the
  // copy began. The position for appends is untouched.
  SaveResult Save(const std::filesystem::path& logPath);

  // Shut-down: closes the file and deletes it (only a file this log holds: never one
  // that another program sharing the directory holds). Later blocks are reported as
  // failed writes.
  void CloseAndDelete();

  const std::filesystem::path& Path() const { return path_; }
  bool IsOpen() const;
  // Bytes of the file already shown (0 at start and after Clear).
  std::uint64_t StreamOffset() const;

 private:
  // A report noted under the capture lock, made after it.
  struct HeldReport {
    std::string_view step;
    int error;
  };
  using HeldReports = std::vector<HeldReport>;
  // One call of the OutputSink, waiting in the outbox.
  struct OutputCall {
    enum class Kind : std::uint8_t { kShow, kClear, kUseFile };
    Kind kind = Kind::kShow;
    std::vector<std::uint8_t> bytes;
    ColourMark colour = ColourMark::kNone;
    std::shared_ptr<const CaptureReader> file;  // kUseFile
  };

  void CreateCaptureFile(HeldReports& reports);
  void PostCaptureFile();
  void CloseCaptureFile();
  void DeleteCaptureFile();
  void Append(std::span<const std::uint8_t> bytes, HeldReports& reports);
  std::vector<std::uint8_t> ReadPending(std::size_t pendingCount);
  static SaveResult CopyInto(int capture, std::uint64_t length, int logFile,
                             const std::filesystem::path& logPath);
  void Post(OutputCall call);
  void Report(const HeldReports& reports);
  void DeliverOutput();

  mutable std::mutex captureLock_;
  const std::filesystem::path path_;
  OutputSink& output_;
  serial::ErrorReporter& errors_;
  int file_ = -1;
  std::uint64_t streamOffset_ = 0;

  std::mutex outboxMutex_;  // taken after captureLock_, never before it
  std::deque<OutputCall> outbox_;
  bool delivering_ = false;  // a thread is handing the outbox to the sink
};

}  // namespace tavrin::terminal
