// One unit of a production station: a box that answered the attention bytes and what came
// of its upload. One row of the journal's table `units`, in the same order of columns.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace tavrin::station {

enum class Outcome { kLoaded, kAlreadyLoaded, kFailed };

// "loaded", "already-loaded", "failed": the journal's and the events' spelling.
std::string_view OutcomeName(Outcome outcome);
std::optional<Outcome> OutcomeNamed(std::string_view name);

struct UnitRecord {
  std::string unitId;                        // a random UUID: unique across stations
  std::string station;                       // the host name
  std::string port;                          // the adapter's name as given (--port)
  std::string device;                        // the node it was during the unit
  std::optional<std::string> adapterSerial;  // the USB serial number, when known
  std::string imagePath;
  std::string imageSha256;  // lower-case hexadecimal
  std::uint64_t imageBytes = 0;
  std::string startedAt;  // UTC, ISO 8601 with milliseconds: 2026-12-06T06:15:59.123Z
  std::string endedAt;
  double seconds = 0;
  double bytesPerSecond = 0;      // frame bytes written over the unit's seconds
  std::optional<int> resultCode;  // the last report's code; none when nothing was reported
  std::string result;             // its text, as the summary shows it
  int status = 0;                 // the exit status a single upload would have given
  Outcome outcome = Outcome::kFailed;
  std::optional<std::string> confirm;  // what --confirm heard; none without --confirm
  std::optional<std::string> capture;  // where the unit's capture was kept
};

// The image a station loads, identified once at its start.
struct ImageIdentity {
  std::string path;
  std::string sha256;
  std::uint64_t bytes = 0;
};
// SHA-256 and size of `path`; nullopt when it cannot be read.
std::optional<ImageIdentity> IdentifyImage(const std::filesystem::path& path);

// A new random (version 4) UUID in its usual text form.
std::string NewUnitId();
// This machine's host name ("" when it has none).
std::string HostName();
// `time` in UTC as ISO 8601 with milliseconds and a Z.
std::string IsoUtc(std::chrono::system_clock::time_point time);

}  // namespace tavrin::station
