#include "cli/cli_retry.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>

#include "scripts/dsf_file.h"
#include "scripts/script_file_io.h"
#include "transfer/transfer.h"

namespace tavrin::cli {
namespace {

constexpr const char* kSubsetScriptName = "refetch.dsf";
constexpr const char* kLaidOutSuffix = ".tavrin-part";  // beside the DBF until it replaces it
constexpr std::string_view kStep = "fetch regions again";
using transfer::BlockHeader;
using transfer::kBlockHeaderSize;

using Note = std::function<void(const std::string&)>;

// The records of a DSF file, as many as its bytes hold.
std::optional<std::vector<scripts::ScriptRecord>> ReadRecords(const std::filesystem::path& script) {
  auto reader = scripts::DsfReader::Open(script);
  if (!reader) return std::nullopt;
  std::vector<scripts::ScriptRecord> records;
  records.reserve(reader->RecordCount());
  for (std::uint32_t i = 0; i < reader->RecordCount(); ++i) {
    auto record = reader->ReadNext();
    if (!record) return std::nullopt;
    records.push_back(*record);
  }
  return records;
}

// The good copies of `failing` (numbered in the script fetched by their position there).
std::map<int, RegionSource> GoodCopies(const std::vector<int>& failing, const Fetch& again) {
  std::map<int, RegionSource> good;
  for (std::size_t k = 0; k < failing.size(); ++k) {
    const int asked = static_cast<int>(k + 1);
    const auto copy = again.stored.find(asked);
    if (copy == again.stored.end() || again.mismatched.contains(asked)) continue;
    good[failing[k]] = {again.assembly, copy->second};
  }
  return good;
}

// Lays the DBF out again with the good copies in place of the regions they stand for;
// the regions put in place, or none when the file could not be written.
std::set<int> PutInPlace(const std::map<int, RegionSource>& good,
                         const std::vector<scripts::ScriptRecord>& records,
                         std::map<int, RegionPlace>& places, const std::filesystem::path& output,
                         const Note& note) {
  std::map<int, RegionSource> sources;
  for (const auto& [region, place] : places) sources[region] = {output, place};
  for (const auto& [region, source] : good) sources[region] = source;
  std::vector<HeaderDataBytes> headers;
  for (const auto& record : records) headers.push_back(scripts::EncodeHeaderData(record.header));
  // A DBF named through a symbolic link is replaced where the link points, as the
  // download's own save wrote it there.
  std::error_code error;
  const auto target = std::filesystem::is_symlink(output, error)
                          ? std::filesystem::canonical(output, error)
                          : output;
  const std::filesystem::path part = target.string() + kLaidOutSuffix;
  const auto laidOut = error ? std::nullopt : LayOutDbf(headers, sources, part);
  if (laidOut) std::filesystem::rename(part, target, error);
  if (!laidOut || error) {
    std::filesystem::remove(part, error);
    note("the regions fetched again cannot be written into " + output.string());
    return {};
  }
  places = *laidOut;
  std::set<int> placed;
  for (const auto& [region, source] : good) placed.insert(region);
  return placed;
}

}  // namespace

DownloadOutcome DownloadWithRetries(const RetryPlan& plan, const Fetcher& fetch, const Note& note,
                                    const std::function<bool()>& stop) {
  const auto stopped = [&stop] { return stop && stop(); };
  DownloadOutcome outcome;
  unsigned used = 0;
  Fetch whole = fetch(plan.script, plan.output);
  while (whole.end == Fetch::End::kTimedOut && used < plan.retries && !stopped()) {
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
  const auto records = failing.empty() || plan.retries == used
                           ? std::optional<std::vector<scripts::ScriptRecord>>()
                           : ReadRecords(plan.script);
  if (!failing.empty() && used < plan.retries && !records) {
    note("the script cannot be read again: no region is fetched again");
  }
  std::map<int, RegionPlace> places = whole.stored;
  std::set<int> fetchedAgain;
  const auto subset = plan.workDir / kSubsetScriptName;
  while (!failing.empty() && used < plan.retries && records && !stopped()) {
    ++used;
    note("fetching region" + std::string(failing.size() > 1 ? "s " : " ") + RegionList(failing) +
         " again (" + std::to_string(used) + " of " + std::to_string(plan.retries) + ")");
    if (!WriteScriptSubset(plan.script, failing, subset)) {
      note("the script of the regions to fetch again cannot be written");
      break;
    }
    fetchedAgain.insert(failing.begin(), failing.end());
    const Fetch again = fetch(subset, std::nullopt);
    const auto good = GoodCopies(failing, again);
    if (!good.empty()) {
      const std::set<int> placed = PutInPlace(good, *records, places, plan.output, note);
      std::erase_if(failing, [&placed](int region) { return placed.contains(region); });
    }
    if (again.end != Fetch::End::kDone && again.end != Fetch::End::kTimedOut) break;
  }
  outcome.fetchedAgain.assign(fetchedAgain.begin(), fetchedAgain.end());
  outcome.stillFailing = failing;
  return outcome;
}

bool WriteScriptSubset(const std::filesystem::path& script, std::span<const int> regions,
                       const std::filesystem::path& out) {
  const auto records = ReadRecords(script);
  if (!records) return false;
  auto file = scripts::OpenTemporaryFile(out, scripts::TemporaryOpen::kCreateTruncated, kStep);
  if (!file) return false;
  const auto header = scripts::EncodeDsfHeader(static_cast<std::uint32_t>(regions.size()));
  if (!scripts::WriteFully(file->Get(), header, kStep)) return false;
  for (const int region : regions) {
    if (region < 1 || static_cast<std::size_t>(region) > records->size()) return false;
    const auto bytes =
        scripts::EncodeScriptRecord((*records)[static_cast<std::size_t>(region - 1)]);
    if (!scripts::WriteFully(file->Get(), bytes, kStep)) return false;
  }
  return true;
}

std::optional<std::map<int, RegionPlace>> LayOutDbf(std::span<const HeaderDataBytes> headers,
                                                    const std::map<int, RegionSource>& sources,
                                                    const std::filesystem::path& to) {
  const scripts::UniqueFd out(
      ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644));
  if (out.Get() < 0) return std::nullopt;
  std::map<int, RegionPlace> places;
  std::uint64_t offset = 0;
  for (const auto& [region, source] : sources) {
    if (region < 1 || static_cast<std::size_t>(region) > headers.size()) return std::nullopt;
    if (source.place.size == 0) continue;  // an empty region adds nothing
    const HeaderDataBytes& entry = headers[static_cast<std::size_t>(region - 1)];
    if (offset == 0 || entry[0] != 0) {
      const auto header = BlockHeader(entry, offset + kBlockHeaderSize + source.place.size);
      if (!scripts::WriteFully(out.Get(), header, kStep)) return std::nullopt;
      offset += kBlockHeaderSize;
    }
    const scripts::UniqueFd in(::open(source.file.c_str(), O_RDONLY | O_CLOEXEC));
    if (in.Get() < 0 ||
        !scripts::CopyBytes(in.Get(), source.place.offset, source.place.size, out.Get(), kStep)) {
      return std::nullopt;
    }
    places[region] = {offset, source.place.size};
    offset += source.place.size;
  }
  return places;
}

}  // namespace tavrin::cli
