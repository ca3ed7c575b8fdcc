// One run of tavrin-cli: the command, its exit status, and the serial link the ports use.
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
// serial link (the device is lost, or the link threads would not stop) that port's run
// ends at once with kLinkFailed: nothing more of it is shown, and its capture stays on
// disk (its path on stderr). With one port and stdout as its capture stream the process
// exits there; with several ports (or --json) the others go on, and the process ends
// without waiting for the failed port's threads.
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
