// download --retries over a fake engine: what is fetched again, and the DBF laid out again.
#include "cli/cli_retry.h"

#include <gtest/gtest.h>

#include "e2e/e2e_files.h"
#include "scripts/dsf_file.h"

namespace tavrin::cli {
namespace {

namespace fs = std::filesystem;
using End = Fetch::End;
using enum Fetch::End;

// Region r's data: the truth (seed r), or a damaged copy (seed 9) of `size` bytes.
std::string Data(std::size_t size, int seed) {
  std::string data(size, '\0');
  for (std::size_t i = 0; i < size; ++i)
    data[i] = static_cast<char>(seed + static_cast<int>(i) * 7);
  return data;
}

// One fetch: how it ends, the regions that come damaged or cut to 2 bytes, failing their CRC.
struct Given {
  End end = kDone;
  std::set<int> damaged;
  std::set<int> cut;
};

struct RetryRow {
  const char* name;
  unsigned retries;
  std::vector<Given> fetches;  // in turn; any later fetch as the last
  std::vector<std::vector<int>> asked;
  std::vector<int> fetchedAgain;
  std::vector<int> stillFailing;
  unsigned wholeAgain;
  End end;
};

class Retries : public testing::TestWithParam<RetryRow> {
 protected:
  void SetUp() override {
    // Region 2 has PartitionId 0: its data follow region 1's without a header; 3 is empty.
    std::vector<test::Region> regions;
    for (std::size_t i = 0; i < ids_.size(); ++i) {
      const auto start = static_cast<std::uint32_t>(0x1000 * (i + 1));
      regions.push_back({start, static_cast<std::uint32_t>(start + truth_[i].size()), ids_[i]});
    }
    script_ = test::WriteScript(dir_.Path(), regions);
    ASSERT_FALSE(script_.empty());
  }

  // The regions of the whole script that `script` asks for, by their start addresses.
  static std::vector<int> Asked(const fs::path& script) {
    auto reader = scripts::DsfReader::Open(script);
    std::vector<int> regions;
    for (std::uint32_t i = 0; reader && i < reader->RecordCount(); ++i) {
      regions.push_back(static_cast<int>(reader->ReadNext()->command.startAddress / 0x1000));
    }
    return regions;
  }

  // What the engine gives for a script of `regions` as `given` says.
  Fetch Give(const std::vector<int>& regions, const std::optional<fs::path>& saveTo,
             const Given& given) {
    std::vector<std::uint8_t> ids;
    std::vector<std::string> data;
    Fetch fetch;
    for (std::size_t k = 0; k < regions.size(); ++k) {
      const auto r = static_cast<std::size_t>(regions[k]);
      ids.push_back(ids_[r - 1]);
      data.push_back(truth_[r - 1]);
      if (given.cut.contains(regions[k])) data.back() = Data(2, 9);
      if (given.damaged.contains(regions[k])) data.back() = Data(truth_[r - 1].size(), 9);
      if (given.cut.contains(regions[k]) || given.damaged.contains(regions[k])) {
        fetch.mismatched.insert(static_cast<int>(k + 1));
      }
    }
    std::map<int, std::uint64_t> places;
    const std::string dbf = test::Dbf(ids, data, &places);
    for (const auto& [k, at] : places) {
      fetch.stored[k] = {at,
                         static_cast<std::uint32_t>(data[static_cast<std::size_t>(k - 1)].size())};
    }
    fetch.end = given.end;
    fetch.assembly = dir_ / "assembly.fdb";
    test::WriteFile(fetch.assembly, dbf);
    if (saveTo && given.end == kDone) {
      test::WriteFile(*saveTo, dbf);
      fetch.saved = true;
    }
    return fetch;
  }

  test::TempDir dir_;
  fs::path script_;
  const std::vector<std::uint8_t> ids_{1, 0, 3, 4};
  const std::vector<std::string> truth_{Data(300, 1), Data(200, 2), Data(0, 3), Data(150, 4)};
};

// Good copies replace bad ones, moving the blocks after them; a region failing N times is
// named; only a download cut by --timeout is made again whole.
TEST_P(Retries, FetchAgainWhatFailedAndLayTheFileOutAgain) {
  const RetryRow& row = GetParam();
  std::vector<std::vector<int>> asked;
  const auto fetcher = [&](const fs::path& script, std::optional<fs::path> saveTo) {
    asked.push_back(Asked(script));
    return Give(asked.back(), saveTo, row.fetches[std::min(asked.size(), row.fetches.size()) - 1]);
  };
  const RetryPlan plan{script_, dir_ / "out.dbf", dir_.Path(), row.retries};
  const auto outcome = DownloadWithRetries(plan, fetcher, [](const std::string&) {});
  EXPECT_EQ(asked, row.asked);
  EXPECT_EQ(outcome.fetchedAgain, row.fetchedAgain);
  EXPECT_EQ(outcome.stillFailing, row.stillFailing);
  EXPECT_EQ(outcome.wholeAgain, row.wholeAgain);
  EXPECT_EQ(outcome.end, row.end);
  if (row.end == kDone) {
    std::vector<std::string> expected = truth_;
    for (const int r : row.stillFailing) {
      std::string& data = expected[static_cast<std::size_t>(r - 1)];
      data = Data(data.size(), 9);
    }
    EXPECT_EQ(test::ReadFile(dir_ / "out.dbf"), test::Dbf(ids_, expected));
  }
}

const std::vector<int> kAll{1, 2, 3, 4};
INSTANTIATE_TEST_SUITE_P(
    Rows, Retries,
    testing::Values(
        RetryRow{"Replaced", 3, {{kDone, {4}, {2}}, {}}, {kAll, {2, 4}}, {2, 4}, {}, 0, kDone},
        RetryRow{"KeepsFailing", 2, {{kDone, {1}, {}}}, {kAll, {1}, {1}}, {1}, {1}, 0, kDone},
        RetryRow{"TimedOutOnce", 2, {{kTimedOut, {}, {}}, {}}, {kAll, kAll}, {}, {}, 1, kDone},
        RetryRow{
            "TimedOutAlways", 2, {{kTimedOut, {}, {}}}, {kAll, kAll, kAll}, {}, {}, 2, kTimedOut},
        RetryRow{"Refused", 2, {{kOther, {}, {}}}, {kAll}, {}, {}, 0, kOther}),

    [](const auto& row) { return std::string(row.param.name); });

}  // namespace
}  // namespace tavrin::cli
