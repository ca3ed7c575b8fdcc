// download --retries over a fake engine: which regions are fetched again, with which
// script, and the DBF file laid out again byte for byte as a download lays it out.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "cli/cli_retry.h"
#include "scripts/dsf_file.h"
#include "scripts/script_store.h"

namespace tavrin::cli {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

Bytes ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

void WriteAll(const fs::path& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

Bytes Data(std::size_t size, std::uint8_t seed) {
  Bytes data(size);
  for (std::size_t i = 0; i < size; ++i) data[i] = static_cast<std::uint8_t>(seed + i * 7);
  return data;
}

// The file a download of regions of these sizes and partition ids gives, written the way
// the transfer writes it: the first block written and every block with a PartitionId not 0
// get a header; a region of size 0 adds nothing.
Bytes Dbf(const std::vector<std::uint8_t>& ids, const std::vector<Bytes>& data) {
  Bytes dbf;
  for (std::size_t i = 0; i < ids.size(); ++i) {
    if (data[i].empty()) continue;
    if (dbf.empty() || ids[i] != 0) {
      const auto end = static_cast<std::uint32_t>(dbf.size() + 16 + data[i].size());
      Bytes header{ids[i], 1, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0xFF};
      for (int b = 0; b < 4; ++b) header.push_back(static_cast<std::uint8_t>(end >> (8 * b)));
      dbf.insert(dbf.end(), header.begin(), header.end());
    }
    dbf.insert(dbf.end(), data[i].begin(), data[i].end());
  }
  return dbf;
}

class RetryTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::path(testing::TempDir()) / "cli_retry_XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    scripts::ScriptStore store(dir_);
    for (std::size_t i = 0; i < ids_.size(); ++i) {
      scripts::ScriptRecord record;
      record.command = {static_cast<std::uint32_t>(0x1000 * (i + 1)),
                        static_cast<std::uint32_t>(0x1000 * (i + 1) + truth_[i].size()),
                        1,
                        0,
                        0,
                        0};
      record.header.partitionId = ids_[i];
      record.header.partitionType = 1;
      ASSERT_TRUE(store.AppendRecord(record));
    }
    ASSERT_TRUE(store.SaveDsf(dir_ / "s.dsf"));
  }
  void TearDown() override { fs::remove_all(dir_); }

  // What the engine gives for a script of `regions` (1-based, of the whole script) when
  // region r comes as got[r] (missing: as the truth) and the regions in `bad` fail their CRC.
  Fetch Give(const std::vector<int>& regions, const std::map<int, Bytes>& got,
             const std::set<int>& bad, const std::optional<fs::path>& saveTo) {
    std::vector<std::uint8_t> ids;
    std::vector<Bytes> data;
    for (const int r : regions) {
      ids.push_back(ids_[static_cast<std::size_t>(r - 1)]);
      data.push_back(got.contains(r) ? got.at(r) : truth_[static_cast<std::size_t>(r - 1)]);
    }
    Fetch fetch;
    fetch.end = Fetch::End::kDone;
    fetch.assembly = dir_ / "assembly.fdb";
    const Bytes dbf = Dbf(ids, data);
    WriteAll(fetch.assembly, dbf);
    std::uint64_t at = 0;
    for (std::size_t k = 0; k < regions.size(); ++k) {
      if (data[k].empty()) continue;
      if (at == 0 || ids[k] != 0) at += 16;
      fetch.stored[static_cast<int>(k + 1)] = {at, static_cast<std::uint32_t>(data[k].size())};
      at += data[k].size();
      if (bad.contains(regions[k])) fetch.mismatched.insert(static_cast<int>(k + 1));
    }
    if (saveTo) {
      WriteAll(*saveTo, dbf);
      fetch.saved = true;
    }
    return fetch;
  }

  // The records of the script the engine was asked to fetch, by their start address.
  std::vector<int> Asked(const fs::path& script) {
    auto reader = scripts::DsfReader::Open(script);
    std::vector<int> regions;
    for (std::uint32_t i = 0; reader && i < reader->RecordCount(); ++i) {
      regions.push_back(static_cast<int>(reader->ReadNext()->command.startAddress / 0x1000));
    }
    return regions;
  }

  RetryPlan Plan(unsigned retries) { return {dir_ / "s.dsf", dir_ / "out.dbf", dir_, retries}; }

  fs::path dir_;
  // Region 2 has PartitionId 0: its data follow region 1's without a header.
  const std::vector<std::uint8_t> ids_{1, 0, 3, 4};
  const std::vector<Bytes> truth_{Data(300, 1), Data(200, 2), Data(0, 3), Data(150, 4)};
  std::vector<std::vector<int>> asked_;
  std::vector<std::string> notes_;
};

// The first download saves region 2 cut short (a damaged info packet announced 2 bytes)
// and region 4 damaged; fetched again, both take their places, and the blocks after the
// longer region 2 move with it.
TEST_F(RetryTest, GoodCopiesTakeTheirPlacesEvenWhenTheirSizeDiffers) {
  const auto fetcher = [this](const fs::path& script, std::optional<fs::path> saveTo) {
    asked_.push_back(Asked(script));
    if (asked_.size() == 1) {
      return Give({1, 2, 3, 4}, {{2, Data(2, 9)}, {4, Data(150, 9)}}, {2, 4}, saveTo);
    }
    return Give(asked_.back(), {}, {}, saveTo);
  };
  const auto outcome =
      DownloadWithRetries(Plan(3), fetcher, [this](auto t) { notes_.push_back(t); });
  EXPECT_EQ(asked_, (std::vector<std::vector<int>>{{1, 2, 3, 4}, {2, 4}}));
  EXPECT_EQ(outcome.fetchedAgain, (std::vector<int>{2, 4}));
  EXPECT_TRUE(outcome.stillFailing.empty());
  EXPECT_EQ(ReadAll(dir_ / "out.dbf"), Dbf(ids_, truth_));
}

// A region that keeps failing is tried N times, alone once the other came good.
TEST_F(RetryTest, ARegionThatKeepsFailingIsTriedNTimesAndNamed) {
  const auto fetcher = [this](const fs::path& script, std::optional<fs::path> saveTo) {
    asked_.push_back(Asked(script));
    return Give(asked_.back(), {{1, Data(300, 9)}}, {1}, saveTo);
  };
  const auto outcome =
      DownloadWithRetries(Plan(2), fetcher, [this](auto t) { notes_.push_back(t); });
  EXPECT_EQ(asked_, (std::vector<std::vector<int>>{{1, 2, 3, 4}, {1}, {1}}));
  EXPECT_EQ(outcome.stillFailing, std::vector<int>{1});
  EXPECT_EQ(ReadAll(dir_ / "out.dbf"), Dbf(ids_, {Data(300, 9), truth_[1], truth_[2], truth_[3]}));
}

struct EndRow {
  const char* name;
  std::vector<Fetch::End> ends;  // of the fetches in turn; then kDone
  std::size_t fetches;
  unsigned wholeAgain;
  Fetch::End last;
};

class RetryEnds : public RetryTest, public testing::WithParamInterface<EndRow> {};

// A whole download cut by --timeout is made again whole; other ends are not tried again.
TEST_P(RetryEnds, OnlyATimedOutDownloadIsMadeAgain) {
  const auto fetcher = [this](const fs::path& script, std::optional<fs::path> saveTo) {
    asked_.push_back(Asked(script));
    Fetch fetch = Give(asked_.back(), {}, {}, saveTo);
    if (asked_.size() <= GetParam().ends.size()) {
      fetch.end = GetParam().ends[asked_.size() - 1];
      fetch.saved = false;
    }
    return fetch;
  };
  const auto outcome = DownloadWithRetries(Plan(2), fetcher, [](auto) {});
  EXPECT_EQ(asked_.size(), GetParam().fetches);
  EXPECT_EQ(outcome.wholeAgain, GetParam().wholeAgain);
  EXPECT_EQ(outcome.end, GetParam().last);
}

using End = Fetch::End;
INSTANTIATE_TEST_SUITE_P(
    Rows, RetryEnds,
    testing::Values(EndRow{"TimedOutOnce", {End::kTimedOut}, 2, 1, End::kDone},
                    EndRow{"TimedOutEveryTime",
                           {End::kTimedOut, End::kTimedOut, End::kTimedOut},
                           3,
                           2,
                           End::kTimedOut},
                    EndRow{"Refused", {End::kOther}, 1, 0, End::kOther},
                    EndRow{"ScriptUnreadable", {End::kNotStarted}, 1, 0, End::kNotStarted}),
    [](const auto& row) { return std::string(row.param.name); });

}  // namespace
}  // namespace tavrin::cli
