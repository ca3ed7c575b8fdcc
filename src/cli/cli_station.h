// tavrin-cli station: box after box on every --port, each unit journalled.
//
//   tavrin-cli station --port DEV... [LINE] [--units N] [--gap S] [--confirm S]
//                      [--journal FILE] [--journal-to postgresql://...] [--log-dir DIR]
//                      [--json] FILE.URT
//
// The loop and the journal are the station library's (src/station); this presents them: a
// board on stderr (one line per port, on a terminal), or with --json events on stdout, and
// the first Ctrl+C (or SIGTERM) lets units in progress end, a second cancels them.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "serial/port_settings.h"
#include "serial/serial_link.h"

namespace tavrin::cli {

struct StationOptions {
  std::vector<std::string> ports;  // every --port, as given
  serial::PortSettings line;       // LINE settings
  std::string image;               // FILE.URT
  std::optional<unsigned> units;   // end once this many units are recorded
  double gapSeconds = 2.0;         // unanswered attention bytes: the box has gone
  std::optional<double> confirmSeconds;
  std::string journal = "tavrin-journal.db";
  std::string journalTo;  // postgresql://... : the plant's database
  std::string logDir;     // each unit's capture kept here
  bool json = false;
};

// What the tests change: fake devices and short waits.
struct StationLink {
  serial::DeviceFactory deviceFactory;  // empty: real ports
  serial::LinkTimings timings{};
};

// The run's exit status: 0 when --units was reached, 128 + the signal when one ended it,
// 2 when the image or the journal cannot be used.
int RunStation(const StationOptions& options, const StationLink& link = {});

}  // namespace tavrin::cli
