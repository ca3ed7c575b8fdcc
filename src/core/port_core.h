// PortCore: the engine wired for one serial port. It owns the serial link, the capture log,
// the transfer, the receive dispatcher and the COM port test, and prepares downloads. The
// window builds one; the command line builds one per port. The host passes in where things
// are shown (output, transfer view, error reports, the COM test's receiver box) and the core
// calls them from its own threads.
//
// Threads:
// - the host's thread (the window's UI thread, the command line's main thread): every public
//   call of PortCore. None of them waits for the port: what the host sends (typed keys, a
//   line, a COM test frame) goes through the writer thread's queue. Only Disconnect,
//   StopTransfer, WaitTransfer and the destructor wait, each within a limit.
// - the reader/status thread: OutputSink::Show, TransferView::SetReceiveIndicator and
//   ShowMessage, ComTestView::ShowReceived, ErrorSink calls.
// - the transfer thread: OutputSink::Show (report blocks) and TransferView calls.
// - the writer thread: ErrorSink calls.
// - the host's thread itself: OutputSink::Show and ClearOutput (a Clear, or a block left
//   in the capture's outbox by another thread), ErrorSink calls (Connect, Disconnect, a
//   full writer queue).
// The core calls host sinks with none of its locks held, and host sinks never wait: a
// window queues what it gets (the values are its own, or, for Show's span, copied) to its
// UI thread and returns. The download's save question is answered later through its
// DownloadSaveQuestion, so no engine thread ever waits for the UI.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string_view>

#include "serial/com_test.h"
#include "serial/error_reporter.h"
#include "serial/latency_warning.h"
#include "serial/port_settings.h"
#include "serial/serial_link.h"
#include "terminal/capture_log.h"
#include "terminal/output_sink.h"
#include "transfer/clock.h"
#include "transfer/transfer_state.h"
#include "transfer/transfer_view.h"

namespace tavrin::core {

// Every byte on the line, for a trace (the command line's --trace). Called on the thread
// that writes (Sent) or reads (Received); the span lives only during the call.
class LineTrace {
 public:
  virtual ~LineTrace() = default;
  virtual void Sent(std::span<const std::uint8_t> bytes) = 0;
  virtual void Received(std::span<const std::uint8_t> bytes) = 0;
};

// Where the core shows and reports things; every reference outlives the core.
struct CoreHost {
  terminal::OutputSink& output;      // the capture stream: received text and report blocks
  transfer::TransferView& view;      // transfer panel, progress, transfer-state refresh
  serial::ErrorSink& errors;         // failed system calls, fatal ends
  serial::ComTestView& comTestView;  // the COM port test's Receiver box
};

struct CoreConfig {
  // The temporary directory: capture file test_1.log, command image and download files.
  std::filesystem::path tempDir;
  // Opens the port; empty: real ports, with low-latency mode and a note (in the status log
  // and to `latencyNotice`) about a USB adapter whose latency timer slows every frame.
  serial::DeviceFactory deviceFactory;
  serial::NoticeSink latencyNotice;
  // With real ports: told the open's errno, on the host's thread, when Connect cannot open
  // the port (before it returns kNotAvailable), so that the host can say why.
  serial::OpenFailureSink openFailure;
  serial::LinkTimings linkTimings{};
  transfer::Clock* clock = nullptr;  // null: the system clock
  LineTrace* trace = nullptr;        // null: no trace
};

enum class DownloadStart {
  kStarted,
  kScriptUnreadable,  // the DSF could not be read or the command image not written:
                      // show "Error No: -3 \n File Access Error!!!"
  kBusy,              // a transfer is still active
};

// How long a cancelled transfer may take to end before the port is closed anyway.
inline constexpr auto kTransferStopLimit = std::chrono::seconds{5};

class PortCore {
 public:
  PortCore(CoreHost host, CoreConfig config);
  // Tears the engine down in one order: the port is closed (link threads joined), the
  // transfer is stopped (within kTransferStopLimit), then the capture file is closed (it
  // stays on disk). A thread that does not end keeps the objects it uses: they are left,
  // not destroyed under it.
  ~PortCore();
  PortCore(const PortCore&) = delete;
  PortCore& operator=(const PortCore&) = delete;

  // Connection. Connect opens and configures the port of `settings`, raises DTR and starts
  // the link threads. Disconnect stops an active transfer first (StopTransfer with
  // kTransferStopLimit: its report 23 is shown), then closes the port whether or not the
  // transfer ended; false when no connection was open.
  serial::OpenOutcome Connect(const serial::PortSettings& settings);
  bool Disconnect();
  bool Connected() const;

  // Transfers. Start calls return false / kBusy while a transfer is still active.
  bool StartUpload(const std::filesystem::path& urtFile);
  // Reads the DSF, writes the command image into the temporary directory and starts the
  // download; `scriptPath` is shown in the panel's file-name field.
  DownloadStart StartDownload(const std::filesystem::path& scriptPath);
  void Cancel();
  void TogglePause();
  // True from a start until the transfer thread has ended (including a download's receive
  // phase and its save step).
  bool TransferActive() const;
  // The one call that stops a transfer: cancels it if it is active (whatever it waits for:
  // the target, a pause, a write the target does not take, a download's region or its
  // save question) and waits, at most `limit`, for its thread to end; true when no
  // transfer is active any more. Hosts decide from TransferActive, never from `running`.
  bool StopTransfer(std::chrono::milliseconds limit);
  // Waits, at most `limit`, for the transfer thread to end; true when it has.
  bool WaitTransfer(std::chrono::milliseconds limit);
  // Read-only view of the transfer's flags (running, mode, pause) for the state rules: no
  // host writes them.
  const transfer::TransferState& State() const;

  // Terminal. A typed key goes to the writer thread's queue; false when it was dropped.
  bool QueueCharWrite(std::uint8_t character);
  // A line from the line input box, queued for the writer thread like typed keys and sent
  // whole; false when it was not queued (no connection, or the queue is full).
  bool SendLine(std::span<const std::uint8_t> bytes);

  // The capture log: Save copies it into `logPath`, Clear empties it and the output.
  terminal::SaveResult SaveLog(const std::filesystem::path& logPath);
  void ClearLog();
  // Shut-down: closes and deletes the capture file.
  void DeleteCapture();
  const std::filesystem::path& CapturePath() const;
  const std::filesystem::path& TempDir() const;

  // COM port test: while active, every received block goes to the test's receiver.
  void SetComTestActive(bool active);
  // Queues the test frame of `text` for the writer thread; kShortWrite when it could not
  // be queued (no connection, or the queue is full).
  serial::TestSendResult SendTestText(std::string_view text);

  serial::StatusLog& Status();

 private:
  bool QueueBytes(std::span<const std::uint8_t> bytes);

  struct Parts;
  std::unique_ptr<Parts> parts_;
};

}  // namespace tavrin::core
