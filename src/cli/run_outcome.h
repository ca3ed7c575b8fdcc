// What one port's run came to, and how far it has got: plain values shared by the summary
// table, the progress board and the --json events, with the texts they are shown in.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace tavrin::cli {

// How far a port's transfer has got (the progress board, --json progress).
struct Progress {
  enum class Phase { kWaiting, kFrames, kRegion, kEnded };
  Phase phase = Phase::kWaiting;
  std::uint32_t framesSent = 0;  // frames of the image (upload) or command image (download)
  std::uint32_t framesTotal = 0;
  int region = 0;                 // download: the region being fetched, 1-based
  std::uint64_t regionBytes = 0;  // its data bytes so far
  std::uint64_t bytes = 0;        // payload moved so far: URT frame bytes, region data bytes
  double seconds = 0;             // since the port's first transfer began
  std::uint64_t version = 0;      // changes whenever one of the above does

  double BytesPerSecond() const { return seconds > 0 ? static_cast<double>(bytes) / seconds : 0; }
};

// The end of one port's run.
struct PortOutcome {
  std::string port;         // as given on the command line
  std::string device;       // the device opened
  int status = 0;           // the exit status this port alone would give
  std::string result;       // one line for people: "Upload Success", "Error ( 4 ): ..."
  std::optional<int> code;  // the result code that ended its transfer, when one did
  double seconds = 0;       // from its first transfer's start to its last one's end
  std::uint64_t bytes = 0;  // payload moved
  std::uint32_t baud = 0;
  std::optional<std::string> capture;  // where its capture is kept, when it is
  std::optional<std::string> output;   // download: the DBF file saved
  std::vector<int> regionsFetchedAgain;
  std::vector<int> regionsStillFailing;
  std::optional<int> refusal;          // --confirm: the code the target refused with
  std::optional<std::string> payload;  // comtest: the text that came back

  double BytesPerSecond() const { return seconds > 0 ? static_cast<double>(bytes) / seconds : 0; }
  // Payload bytes over what the line could have carried in that time (10 bits a byte).
  double LineEfficiency() const;
};

// The texts of a result code's report block in one line: its heading, and its problem
// when it has one ("Error ( 4 ): You are trying to download same version of software",
// "Upload Success", "Terminated by user"). Empty for a code without a block.
std::string ResultText(int code);

// The run's exit status: 0 when every port succeeded, else the highest status of any.
int CombinedStatus(std::span<const PortOutcome> outcomes);

// The table printed at the end of a run with several ports: a heading, then one row a
// port (port, status, result, seconds, bytes per second).
std::string SummaryTable(std::span<const PortOutcome> outcomes);

// One line of the progress board: "frames 12/40  11520 bytes/s  ETA 3 s",
// "region 2  3000 bytes  2900 bytes/s", or the result once the port has ended.
std::string ProgressText(const Progress& progress);

// A region list for people: "2, 5, 7".
std::string RegionList(std::span<const int> regions);

}  // namespace tavrin::cli
