// One port's run of upload, download or comtest: the engine wired for the port (its own
// temporary directory, capture, link and transfer), the command's steps on the port's own
// thread, and what it came to.
//
// When the port's serial link fails fatally, only this port ends (status 6): nothing more
// of it is shown or reported, its capture is kept as it stood, and no thread of it is
// waited for without bound. Its engine is then left as it is (its threads may still be
// inside a call that does not return): the run is abandoned and must not be destroyed;
// the process ends without waiting for it. With stdout as the one port's capture stream,
// the process ends at once, as it always has.
//
// Threads: the constructor and Snapshot/Abandoned on the run's main thread; Execute on the
// port's own thread, which is the engine's host thread for this port.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

#include "cli/cli_console.h"
#include "cli/cli_json.h"
#include "cli/cli_options.h"
#include "cli/cli_retry.h"
#include "cli/cli_session.h"
#include "cli/cli_views.h"
#include "cli/run_outcome.h"
#include "serial/port_list.h"

namespace tavrin::cli {

// How every port of a run is stopped from outside (Ctrl+C, SIGTERM). The first signal
// counts: the program then exits 128 + its number.
class RunControl {
 public:
  void Interrupt(int signal) {
    int none = 0;
    signal_.compare_exchange_strong(none, signal);
  }
  bool Interrupted() const { return signal_ != 0; }
  int Signal() const { return signal_; }

 private:
  std::atomic<int> signal_{0};
};

// What a port cancelled by `signal` says in its result: "cancelled by SIGINT".
std::string CancelledBy(int signal);
// The exit status of a program ended by `signal`: 128 + its number.
constexpr int kSignalStatusBase = 128;

// One --port, looked up.
struct PortTarget {
  std::string given;     // as on the command line: how the port is named to the user
  std::string portName;  // what is opened
  std::string fileName;  // `given` made safe for a file name: {port}, DIR/<port>.log
};

// What the ports of a run share; everything outlives the runs.
struct RunShared {
  const CliOptions& options;
  const CliLink& link;
  const serial::PortList& ports;
  const RunControl& control;
  Console& console;
  JsonEvents* json = nullptr;     // --json
  TaggedStdout* lines = nullptr;  // several ports without --json: tagged capture lines
  bool captureStream = false;     // one port without --json: stdout is its capture stream
};

// `pattern` with every "{port}" replaced by `fileName`.
std::string WithPort(const std::string& pattern, const std::string& fileName);

class PortRun final : private PortVoice {
 public:
  PortRun(const RunShared& shared, PortTarget target);
  ~PortRun() override;
  PortRun(const PortRun&) = delete;
  PortRun& operator=(const PortRun&) = delete;

  // The whole run of the port, on the calling thread.
  PortOutcome Execute();
  Progress Snapshot() const;
  // The port's result, once its run has ended (any thread).
  std::optional<std::string> EndedWith() const;
  const PortTarget& Target() const { return target_; }
  // After Execute: the engine was left running; this object must not be destroyed.
  bool Abandoned() const { return abandoned_; }
  // Before the process ends: an abandoned run's temporary directory goes when its capture
  // was kept elsewhere (--log-dir).
  void DropTemporaryFiles();

 private:
  enum class WaitEnd { kEnded, kTimedOut, kInterrupted, kFatal, kStuck };
  struct Parts;

  // PortVoice
  void Say(std::string_view text) override;
  void Note(std::string_view text) override;
  void ReportText(std::string_view text) override;
  void Reported(int code) override;
  void CrcWarning(int region) override;

  int Connect();
  void RunUpload();
  void ConfirmUpload();
  void RunDownload();
  Fetch FetchOnce(const std::filesystem::path& script, std::optional<std::filesystem::path> saveTo);
  void RunComTest();
  WaitEnd WaitForTransfer();
  void AfterWait(WaitEnd end);
  void MarkFatal();
  [[noreturn]] void EndProcessFatally();
  void EndFatally();
  void Abandon();
  void KeepCaptures();
  void SayFileAccessError();
  void Finish();

  const RunShared& shared_;
  const PortTarget target_;
  std::string tag_;  // before each of the port's lines: empty with one capture stream
  std::atomic<bool> closed_{false};  // the link failed: nothing more of the port is shown
  std::atomic<bool> fatal_{false};   // ... and what was shown until then is counted
  std::mutex fatalMutex_;
  std::uint64_t shownAtFatal_ = 0;  // capture bytes shown when the link failed (fatalMutex_)
  bool abandoned_ = false;
  std::optional<std::string> payload_;  // comtest
  mutable std::mutex endedMutex_;
  std::optional<std::string> endedWith_;  // endedMutex_
  PortOutcome outcome_;
  std::unique_ptr<Parts> parts_;
};

}  // namespace tavrin::cli
