// Reporting of failed system calls: "Error %d: %s.\n\r%s\r\n" from the errno value, the
// name of the failed step and the system's description, written to the debug output
// (standard error) and shown through the host's ErrorSink.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace tavrin::serial {

// What the host does with reports. GUI: message boxes; CLI: lines on standard error;
// tests: a recorder. Called from any thread, never under an engine lock. A sink never
// waits: a window queues the box to its UI thread and returns, since the reporting thread
// may be one the UI thread is waiting for (a link thread while Disconnect stops it).
class ErrorSink {
 public:
  virtual ~ErrorSink() = default;
  // The formatted report ("Error 5: GetCommState.\n\r...\r\n"); the text is the sink's.
  virtual void ShowError(std::string text) = 0;
  // The run cannot go on (a link thread failed fatally, or the link threads would not
  // stop). The GUI ends the process, the command line exits with its fatal status at
  // once; tests record it, and for them it returns.
  virtual void EndProcess() = 0;
  // A debug line (the system's debugger output), written at once: the text lives only
  // during the call. Default: standard error.
  virtual void Debug(std::string_view text);
};

// Formats a report exactly as shown: "Error %d: %s.\n\r%s\r\n".
std::string FormatErrorReport(int error, std::string_view step);

class ErrorReporter {
 public:
  explicit ErrorReporter(ErrorSink& sink) : sink_(sink) {}

  // Reports `error` (an errno value read right after the failing call) under `step`.
  void ReportError(std::string_view step, int error);
  // ReportError, then the host ends the run.
  void ReportErrorAndExit(std::string_view step, int error);
  // ReportError, then `closePort`, then the host ends the run.
  void ReportErrorCloseAndExit(std::string_view step, int error,
                               const std::function<void()>& closePort);

  ErrorSink& Sink() { return sink_; }

 private:
  ErrorSink& sink_;
};

}  // namespace tavrin::serial
