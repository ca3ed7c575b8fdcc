// --json: what a run does, as events on stdout, one JSON object per line, each line written
// whole and flushed (a reader may follow the stream while the ports run):
//   start     a port's run begins
//   progress  how far its transfer has got (at most ten a second per port)
//   report    a report block of the transfer, with its result code and text
//   crc_warning  a downloaded region that did not match its CRC
//   end       the port's result: exit status, seconds, bytes, line efficiency, capture
//   summary   the last line: the run's exit status
// The README shows the fields. Texts that are not UTF-8 have their bad bytes replaced.
//
// Threads: every call from any thread; one lock keeps lines whole.
#pragma once

#include <cstdio>
#include <mutex>
#include <span>
#include <string>
#include <string_view>

#include "cli/cli_console.h"
#include "cli/run_outcome.h"

namespace tavrin::cli {

// What a port's start event says.
struct PortStart {
  std::string port;
  std::string device;
  std::string_view command;  // "upload", "download", "comtest"
  std::string argument;      // the image, the script, or the test text
  std::string line;          // "115200  8 N 1"
};

class JsonEvents {
 public:
  // Through `console` when it shares stdout's terminal.
  explicit JsonEvents(Console* console = nullptr, std::FILE* out = stdout)
      : console_(console && console->SharesStdout() ? console : nullptr), out_(out) {}

  void Start(const PortStart& start);
  void ProgressOf(const std::string& port, const Progress& progress);
  void Report(const std::string& port, int code);
  void CrcWarning(const std::string& port, int region);
  void End(const PortOutcome& outcome);
  void Summary(int status, double seconds, std::span<const PortOutcome> outcomes);

 private:
  void Emit(const std::string& line);

  std::mutex mutex_;
  Console* console_;
  std::FILE* out_;
};

}  // namespace tavrin::cli
