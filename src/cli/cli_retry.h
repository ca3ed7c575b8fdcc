// download --retries N: after a download whose regions failed their CRC check, those
// regions alone are fetched again (a script of just their records, so a command image
// asking for just them), up to N times, and every copy that matches its CRC takes the bad
// one's place in the saved DBF file. The file is then laid out again as the download lays
// it out: one block a region in script order, a region of size 0 adding nothing, the
// first block written and every block whose PartitionId is not 0 with its header, each
// header ending with the offset just past its data. A good copy whose size differs from
// the bad one's (a damaged info packet can announce a wrong size) so moves the blocks
// after it and their end offsets with them.
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
#include "scripts/script_record.h"

namespace tavrin::cli {

using scripts::HeaderDataBytes;

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
// that the user should hear of. Once `stop` holds (Ctrl+C), nothing more is fetched.
DownloadOutcome DownloadWithRetries(const RetryPlan& plan, const Fetcher& fetch,
                                    const std::function<void(const std::string&)>& note,
                                    const std::function<bool()>& stop = {});

// Writes to `out` a DSF holding the records `regions` (1-based) of `script`, in that order.
bool WriteScriptSubset(const std::filesystem::path& script, std::span<const int> regions,
                       const std::filesystem::path& out);

// Where a region's data are taken from when a DBF file is laid out.
struct RegionSource {
  std::filesystem::path file;
  RegionPlace place;
};

// Writes to `to` the DBF file of a download whose script has these `headers` (the
// HeaderData of each record, in order): region k's block from `sources` at k, none for a
// region without a source. Returns where each region's data are in the new file; nullopt
// when a file cannot be read or written.
std::optional<std::map<int, RegionPlace>> LayOutDbf(std::span<const HeaderDataBytes> headers,
                                                    const std::map<int, RegionSource>& sources,
                                                    const std::filesystem::path& to);

}  // namespace tavrin::cli
