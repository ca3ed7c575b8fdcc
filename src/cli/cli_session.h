// One run of tavrin-cli: the engine wired to the command line's views, a private
// temporary directory, the serial link, and the exit status of the run.
#pragma once

#include "cli/cli_options.h"
#include "serial/serial_link.h"

namespace tavrin::cli {

// Exit statuses of tavrin-cli.
namespace exit_status {
constexpr int kSuccess = 0;
constexpr int kUsage = 1;
constexpr int kBadFile = 2;  // file cannot be opened, or is not a URT file
constexpr int kPortNotAvailable = 3;
constexpr int kTransferFailed = 4;  // any other end: a refusal, -1..-3, 23, time-out, Ctrl+C
constexpr int kCrcMismatch = 5;     // download saved, but a region failed its CRC check
constexpr int kLinkFailed = 6;      // the serial link failed fatally (device lost)
}  // namespace exit_status

// Runs the command of `options`; returns the exit status. After a fatal report of the
// serial link (the device is lost, or the link threads would not stop) the process exits
// at once with kLinkFailed: nothing more goes to stdout, and the capture file stays on
// disk (its path on stderr).
int RunCli(const CliOptions& options);

// The serial link a run uses: real ports by default; tests pass fakes and short waits.
struct CliLink {
  serial::DeviceFactory deviceFactory;  // empty: real ports
  serial::LinkTimings timings{};
};
int RunCli(const CliOptions& options, const CliLink& link);

// The program's identity line ("tavrin-cli 1.1.0 TVR-STB-001 Dec 5 2026").
std::string VersionText();

}  // namespace tavrin::cli
