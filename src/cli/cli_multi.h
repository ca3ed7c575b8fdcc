// upload, download and comtest on every --port at once: one PortRun per port, each on a
// thread of its own with its own engine. The main thread takes Ctrl+C (which cancels them
// all), draws the progress board (one line per port, when stderr is a terminal), writes the
// --json progress events, and at the end the summary.
//
// What stdout carries:
//   one port, no --json   the capture stream, byte for byte, as it always has
//   several ports         each port's capture as lines tagged "<port>: ", then the summary
//   --json                the events alone; the summary table goes to stderr
#pragma once

#include <string>
#include <string_view>

#include "cli/cli_options.h"
#include "cli/cli_session.h"

namespace tavrin::cli {

// Runs the command of `options` on each of its ports; the exit status: 0 when every port
// succeeded, else the highest status of any port.
int RunPorts(const CliOptions& options, const CliLink& link);

// A port's name as given, made safe for a file name: a leading "/dev/" dropped, and every
// character but letters, digits, '.', '-' and '_' replaced by '_' ("pts/3" -> "pts_3",
// "serial:A50285BI" -> "serial_A50285BI").
std::string PortFileName(std::string_view given);

}  // namespace tavrin::cli
