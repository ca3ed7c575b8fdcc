#include "cli/cli_retry.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>

#include "scripts/dsf_file.h"
#include "scripts/script_file_io.h"

namespace tavrin::cli {
namespace {

constexpr const char* kSubsetScriptName = "refetch.dsf";
constexpr std::string_view kStep = "fetch regions again";

// Puts the good copies of `failing` from `again` in their places; the regions still bad.
std::vector<int> PutGoodCopies(const std::vector<int>& failing, const Fetch& again,
                               const std::map<int, RegionPlace>& places,
                               const std::filesystem::path& output,
                               const std::function<void(const std::string&)>& note) {
  std::vector<int> still;
  for (std::size_t k = 0; k < failing.size(); ++k) {
    const int region = failing[k];
    const int asked = static_cast<int>(k + 1);  // its number in the script fetched
    const auto copy = again.stored.find(asked);
    const auto place = places.find(region);
    const bool good = copy != again.stored.end() && !again.mismatched.contains(asked);
    if (!good || place == places.end()) {
      still.push_back(region);
      continue;
    }
    if (copy->second.size != place->second.size) {
      note("region " + std::to_string(region) + " came back with " +
           std::to_string(copy->second.size) + " bytes, not " + std::to_string(place->second.size) +
           ": it cannot take the first copy's place");
      still.push_back(region);
    } else if (!CopyRegionData(again.assembly, copy->second, output, place->second)) {
      note("region " + std::to_string(region) + " could not be written into " + output.string());
      still.push_back(region);
    }
  }
  return still;
}

}  // namespace

DownloadOutcome DownloadWithRetries(const RetryPlan& plan, const Fetcher& fetch,
                                    const std::function<void(const std::string&)>& note) {
  DownloadOutcome outcome;
  unsigned used = 0;
  Fetch whole = fetch(plan.script, plan.output);
  while (whole.end == Fetch::End::kTimedOut && used < plan.retries) {
    ++used;
    ++outcome.wholeAgain;
    note("the download is made again (" + std::to_string(used) + " of " +
         std::to_string(plan.retries) + ")");
    whole = fetch(plan.script, plan.output);
  }
  outcome.end = whole.end;
  outcome.saved = whole.saved;
  if (whole.end != Fetch::End::kDone || !whole.saved) return outcome;

  std::vector<int> failing(whole.mismatched.begin(), whole.mismatched.end());
  std::set<int> fetchedAgain;
  const auto subset = plan.workDir / kSubsetScriptName;
  while (!failing.empty() && used < plan.retries) {
    ++used;
    note("fetching region" + std::string(failing.size() > 1 ? "s " : " ") + RegionList(failing) +
         " again (" + std::to_string(used) + " of " + std::to_string(plan.retries) + ")");
    if (!WriteScriptSubset(plan.script, failing, subset)) {
      note("the script of the regions to fetch again cannot be written");
      break;
    }
    fetchedAgain.insert(failing.begin(), failing.end());
    const Fetch again = fetch(subset, std::nullopt);
    failing = PutGoodCopies(failing, again, whole.stored, plan.output, note);
    if (again.end != Fetch::End::kDone && again.end != Fetch::End::kTimedOut) break;
  }
  outcome.fetchedAgain.assign(fetchedAgain.begin(), fetchedAgain.end());
  outcome.stillFailing = failing;
  return outcome;
}

bool WriteScriptSubset(const std::filesystem::path& script, std::span<const int> regions,
                       const std::filesystem::path& out) {
  auto reader = scripts::DsfReader::Open(script);
  if (!reader) return false;
  std::vector<scripts::ScriptRecord> records;
  records.reserve(reader->RecordCount());
  for (std::uint32_t i = 0; i < reader->RecordCount(); ++i) {
    auto record = reader->ReadNext();
    if (!record) return false;
    records.push_back(*record);
  }
  auto file = scripts::OpenTemporaryFile(out, scripts::TemporaryOpen::kCreateTruncated, kStep);
  if (!file) return false;
  const auto header = scripts::EncodeDsfHeader(static_cast<std::uint32_t>(regions.size()));
  if (!scripts::WriteFully(file->Get(), header, kStep)) return false;
  for (const int region : regions) {
    if (region < 1 || static_cast<std::size_t>(region) > records.size()) return false;
    const auto bytes = scripts::EncodeScriptRecord(records[static_cast<std::size_t>(region - 1)]);
    if (!scripts::WriteFully(file->Get(), bytes, kStep)) return false;
  }
  return true;
}

bool CopyRegionData(const std::filesystem::path& from, RegionPlace source,
                    const std::filesystem::path& to, RegionPlace target) {
  if (source.size != target.size) return false;
  const scripts::UniqueFd in(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
  const scripts::UniqueFd out(::open(to.c_str(), O_WRONLY | O_CLOEXEC));
  if (in.Get() < 0 || out.Get() < 0) return false;
  if (::lseek(out.Get(), static_cast<off_t>(target.offset), SEEK_SET) < 0) return false;
  return static_cast<bool>(
      scripts::CopyBytes(in.Get(), source.offset, source.size, out.Get(), kStep));
}

}  // namespace tavrin::cli
