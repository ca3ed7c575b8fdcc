// download --retries N: after a download whose regions failed their CRC check, those
// regions alone are fetched again (a script of just their records, so a command image
// asking for just them), up to N times, and every copy that matches its CRC is written
// over the bad one, in its place in the saved DBF file. A region keeps its place: its
// block header, and the blocks around it, are as the first download wrote them.
//
// A fetch cut short by --timeout (a stalled exchange on a poor line) counts as a try too:
// a whole download that saved nothing is made again whole; a fetch of some regions keeps
// the regions it did store and tries the others again.
//
// Threads: the port's own thread.
#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "cli/cli_views.h"

namespace tavrin::cli {

// What one download by the port's engine gave.
struct Fetch {
  enum class End {
    kDone,        // "Download Success" reported
    kTimedOut,    // cancelled at --timeout
    kNotStarted,  // the script could not be read
    kOther,       // refused, failed, interrupted, or the link failed
  };
  End end = End::kOther;
  bool saved = false;                 // saved where it was asked to be
  std::set<int> mismatched;           // regions (1-based, of the script fetched) that failed
  std::map<int, RegionPlace> stored;  // where each stored region is in `assembly`
  std::filesystem::path assembly;     // the engine's downloaded file in assembly
};

// Downloads `script`, saving the result at `saveTo`, or (nullopt) leaving it in assembly.
using Fetcher =
    std::function<Fetch(const std::filesystem::path& script, std::optional<std::filesystem::path>)>;

struct RetryPlan {
  std::filesystem::path script;   // the DSF of the whole download
  std::filesystem::path output;   // where its DBF is saved
  std::filesystem::path workDir;  // where the script of the regions fetched again is written
  unsigned retries = 0;
};

struct DownloadOutcome {
  Fetch::End end = Fetch::End::kOther;  // of the whole download that counted
  bool saved = false;
  unsigned wholeAgain = 0;        // whole downloads made again after --timeout
  std::vector<int> fetchedAgain;  // regions fetched again, in order
  std::vector<int> stillFailing;  // regions whose data in the DBF still fail their CRC
};

// The download of `plan.script` with its retries; `note` gets one line for each thing done
// that the user should hear of.
DownloadOutcome DownloadWithRetries(const RetryPlan& plan, const Fetcher& fetch,
                                    const std::function<void(const std::string&)>& note);

// Writes to `out` a DSF holding the records `regions` (1-based) of `script`, in that order.
bool WriteScriptSubset(const std::filesystem::path& script, std::span<const int> regions,
                       const std::filesystem::path& out);

// Writes the `source.size` bytes at `source.offset` of `from` over `to` at `target.offset`.
// False, and nothing written, when the sizes differ.
bool CopyRegionData(const std::filesystem::path& from, RegionPlace source,
                    const std::filesystem::path& to, RegionPlace target);

}  // namespace tavrin::cli
