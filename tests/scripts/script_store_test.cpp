#include "scripts/script_store.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <vector>

#include "script_test_files.h"

namespace tavrin::scripts {
namespace {

using test::Bytes;
using test::DsfBytes;
using test::DsfOfSampleRecords;
using test::ReadFileBytes;
using test::SampleRecord;
using test::StoreBytes;
using test::WriteFileBytes;

class ScriptStoreTest : public ::testing::Test {
 protected:
  void Append(std::initializer_list<ScriptRecord> records) {
    for (const ScriptRecord& record : records) ASSERT_TRUE(store_.AppendRecord(record));
  }
  Bytes StoreFile() const { return ReadFileBytes(dir_ / "zvqScript.tvr"); }
  bool StoreExists() const { return std::filesystem::exists(dir_ / "zvqScript.tvr"); }

  // Loads `path`, collecting the records handed over.
  Result<DsfLoad> Load(const std::filesystem::path& path) {
    return store_.LoadDsf(path, [this](const ScriptRecord& r) { handed_.push_back(r); });
  }

  test::TempDir dir_;
  ScriptStore store_{dir_.Path()};
  std::vector<ScriptRecord> handed_;
  const ScriptRecord r1_ = SampleRecord(1);
  const ScriptRecord r2_ = SampleRecord(2);
  const ScriptRecord r3_ = SampleRecord(3);
};

TEST_F(ScriptStoreTest, AppendWritesRecordsBackToBack) {
  EXPECT_EQ(store_.RecordCount(), 0u);
  Append({r1_, r2_});
  EXPECT_EQ(store_.RecordCount(), 2u);
  EXPECT_EQ(StoreFile(), StoreBytes({r1_, r2_}));
  ASSERT_TRUE(store_.ReadRecord(2));
  EXPECT_EQ(*store_.ReadRecord(2), r2_);
}

TEST_F(ScriptStoreTest, FirstAppendReplacesAStoreLeftFromEarlier) {
  WriteFileBytes(dir_ / "zvqScript.tvr", Bytes(100, 0xEE));
  Append({r1_});
  EXPECT_EQ(StoreFile(), StoreBytes({r1_}));
}

TEST_F(ScriptStoreTest, RewriteChangesOnlyThatRecord) {
  Append({r1_, r2_, r3_});
  ASSERT_TRUE(store_.RewriteRecord(2, r1_));
  EXPECT_EQ(StoreFile(), StoreBytes({r1_, r1_, r3_}));
  EXPECT_EQ(store_.RecordCount(), 3u);
}

TEST_F(ScriptStoreTest, RecordNumbersOutsideTheStoreAreRefused) {
  Append({r1_});
  for (std::uint32_t k : {0u, 2u}) {
    EXPECT_EQ(store_.ReadRecord(k).Error().fault, FileFault::kNoSuchRecord);
    EXPECT_FALSE(store_.RewriteRecord(k, r2_));
    EXPECT_FALSE(store_.DeleteRecord(k));
  }
  EXPECT_EQ(store_.RecordCount(), 1u);
  EXPECT_EQ(StoreFile(), StoreBytes({r1_}));
}

struct DeleteCase {
  const char* name;
  int count;              // records 1..count appended
  std::uint32_t k;        // record deleted
  std::vector<int> left;  // seeds of the records left, in order
};

class DeleteRecordTest : public ScriptStoreTest,
                         public ::testing::WithParamInterface<DeleteCase> {};

TEST_P(DeleteRecordTest, LeavesTheOtherRecordsByteForByte) {
  const DeleteCase& c = GetParam();
  for (int seed = 1; seed <= c.count; ++seed) {
    ASSERT_TRUE(store_.AppendRecord(SampleRecord(static_cast<std::uint8_t>(seed))));
  }
  ASSERT_TRUE(store_.DeleteRecord(c.k));

  Bytes expected;
  for (int seed : c.left) {
    const ScriptRecordBytes bytes =
        EncodeScriptRecord(SampleRecord(static_cast<std::uint8_t>(seed)));
    expected.insert(expected.end(), bytes.begin(), bytes.end());
  }
  EXPECT_EQ(store_.RecordCount(), c.left.size());
  EXPECT_EQ(StoreExists(), !c.left.empty());
  if (!c.left.empty()) {
    EXPECT_EQ(StoreFile(), expected);
  }
  EXPECT_FALSE(std::filesystem::exists(dir_ / "zvqDel.tvr"));
}

INSTANTIATE_TEST_SUITE_P(Positions, DeleteRecordTest,
                         ::testing::Values(DeleteCase{"First", 3, 1, {2, 3}},
                                           DeleteCase{"Middle", 3, 2, {1, 3}},
                                           DeleteCase{"Last", 3, 3, {1, 2}},
                                           DeleteCase{"Only", 1, 1, {}},
                                           DeleteCase{"FirstOfTwo", 2, 1, {2}}),
                         [](const auto& row) { return std::string{row.param.name}; });

TEST_F(ScriptStoreTest, AppendAfterDeletingTheOnlyRecordStartsANewStore) {
  Append({r1_});
  ASSERT_TRUE(store_.DeleteRecord(1));
  Append({r2_});
  EXPECT_EQ(store_.RecordCount(), 1u);
  EXPECT_EQ(StoreFile(), StoreBytes({r2_}));
}

TEST_F(ScriptStoreTest, SavingNoRecordsWritesTheEightByteHeader) {
  ASSERT_TRUE(store_.SaveDsf(dir_ / "empty.dsf"));
  EXPECT_EQ(ReadFileBytes(dir_ / "empty.dsf"), (Bytes{0x44, 0x53, 0x01, 0x00, 0, 0, 0, 0}));
}

TEST_F(ScriptStoreTest, SaveAndLoadRoundTripTwoRecords) {
  Append({r1_, r2_});
  ASSERT_TRUE(store_.SaveDsf(dir_ / "two.dsf"));
  EXPECT_EQ(ReadFileBytes(dir_ / "two.dsf"), DsfBytes(2, {r1_, r2_}));
  EXPECT_EQ(ReadFileBytes(dir_ / "two.dsf").size(), 72u);

  ScriptStore other{dir_.Path()};
  std::vector<ScriptRecord> rows;
  Result<DsfLoad> load =
      other.LoadDsf(dir_ / "two.dsf", [&](const ScriptRecord& r) { rows.push_back(r); });
  ASSERT_TRUE(load);
  EXPECT_EQ(load->recordsLoaded, 2u);
  EXPECT_EQ(other.RecordCount(), 2u);
  EXPECT_EQ(rows, (std::vector<ScriptRecord>{r1_, r2_}));
  EXPECT_EQ(StoreFile().size(), 64u);
}

TEST_F(ScriptStoreTest, LoadReplacesWhatTheStoreHeld) {
  Append({r1_, r2_, r3_});
  WriteFileBytes(dir_ / "one.dsf", DsfBytes(1, {r2_}));
  ASSERT_TRUE(Load(dir_ / "one.dsf"));
  EXPECT_EQ(store_.RecordCount(), 1u);
  EXPECT_EQ(StoreFile(), StoreBytes({r2_}));
}

TEST_F(ScriptStoreTest, LoadingCountZeroLeavesAnEmptyStore) {
  Append({r1_});
  WriteFileBytes(dir_ / "zero.dsf", DsfBytes(0, {}));
  ASSERT_TRUE(Load(dir_ / "zero.dsf"));
  EXPECT_EQ(store_.RecordCount(), 0u);
  EXPECT_TRUE(StoreExists());
  EXPECT_TRUE(StoreFile().empty());
  EXPECT_TRUE(handed_.empty());
}

TEST_F(ScriptStoreTest, MagicAndVersionAreNotTested) {
  Bytes bytes = DsfBytes(1, {r1_});
  bytes[0] = 'X';
  bytes[2] = 9;
  WriteFileBytes(dir_ / "odd.dsf", bytes);
  ASSERT_TRUE(Load(dir_ / "odd.dsf"));
  EXPECT_EQ(handed_, (std::vector<ScriptRecord>{r1_}));
}

struct OverCountCase {
  const char* name;
  std::uint32_t headerCount;
  int records;        // whole records written after the header
  int trailingBytes;  // part of one more record
  std::uint32_t loaded;
};

class OverCountTest : public ScriptStoreTest,
                      public ::testing::WithParamInterface<OverCountCase> {};

// The header's count is believed only as far as the file's bytes go; records beyond
// the count are not part of the script.
TEST_P(OverCountTest, LoadsTheWholeRecordsPresent) {
  const OverCountCase& c = GetParam();
  Bytes bytes = DsfOfSampleRecords(c.headerCount, c.records);
  bytes.insert(bytes.end(), static_cast<std::size_t>(c.trailingBytes), std::uint8_t{0x5A});
  WriteFileBytes(dir_ / "over.dsf", bytes);

  Result<DsfLoad> load = Load(dir_ / "over.dsf");
  ASSERT_TRUE(load);
  EXPECT_EQ(load->headerCount, c.headerCount);
  EXPECT_EQ(load->recordsLoaded, c.loaded);
  EXPECT_EQ(store_.RecordCount(), c.loaded);
  EXPECT_EQ(handed_.size(), c.loaded);
  EXPECT_EQ(StoreFile().size(), c.loaded * kScriptRecordSize);
}

INSTANTIATE_TEST_SUITE_P(Counts, OverCountTest,
                         ::testing::Values(OverCountCase{"CountAboveRecords", 5, 2, 10, 2},
                                           OverCountCase{"CountAllOnes", 0xFFFFFFFF, 1, 0, 1},
                                           OverCountCase{"CountAllOnesNoRecords", 0xFFFFFFFF, 0, 31,
                                                         0},
                                           OverCountCase{"RecordsBeyondCount", 1, 3, 0, 1}),
                         [](const auto& row) { return std::string{row.param.name}; });

struct BadDsfCase {
  const char* name;
  Bytes content;  // written as bad.dsf unless `directory`
  bool directory;
  FileFault fault;
};

class BadDsfTest : public ScriptStoreTest, public ::testing::WithParamInterface<BadDsfCase> {};

// A DSF file without a whole header, or none at all, changes neither store nor count.
TEST_P(BadDsfTest, FailsAndLeavesTheStoreAsItWas) {
  const BadDsfCase& c = GetParam();
  Append({r1_, r2_});
  if (c.directory) {
    std::filesystem::create_directory(dir_ / "bad.dsf");
  } else {
    WriteFileBytes(dir_ / "bad.dsf", c.content);
  }
  Result<DsfLoad> load = Load(dir_ / "bad.dsf");
  ASSERT_FALSE(load);
  EXPECT_EQ(load.Error().fault, c.fault);
  EXPECT_EQ(store_.RecordCount(), 2u);
  EXPECT_EQ(StoreFile(), StoreBytes({r1_, r2_}));
  EXPECT_TRUE(handed_.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Files, BadDsfTest,
    ::testing::Values(BadDsfCase{"Empty", {}, false, FileFault::kShortFile},
                      BadDsfCase{
                          "SevenBytes", {0x44, 0x53, 1, 0, 1, 0, 0}, false, FileFault::kShortFile},
                      BadDsfCase{"Directory", {}, true, FileFault::kNotRegularFile}),
    [](const auto& row) { return std::string{row.param.name}; });

TEST_F(ScriptStoreTest, MissingDsfFileIsAFileAccessError) {
  Result<DsfLoad> load = Load(dir_ / "absent.dsf");
  ASSERT_FALSE(load);
  EXPECT_EQ(load.Error().fault, FileFault::kSystemCall);
  EXPECT_EQ(load.Error().error, ENOENT);
}

TEST_F(ScriptStoreTest, SavingOntoADirectoryFails) {
  Append({r1_});
  std::filesystem::create_directory(dir_ / "folder.dsf");
  EXPECT_FALSE(store_.SaveDsf(dir_ / "folder.dsf"));
  EXPECT_EQ(StoreFile(), StoreBytes({r1_}));
}

TEST_F(ScriptStoreTest, SavingOntoTheStoreItselfIsRefused) {
  Append({r1_});
  EXPECT_FALSE(store_.SaveDsf(dir_ / "zvqScript.tvr"));
  EXPECT_EQ(StoreFile(), StoreBytes({r1_}));
}

// A link planted in the temporary directory never redirects a write.
TEST_F(ScriptStoreTest, PlantedStoreLinkIsNotWrittenThrough) {
  const Bytes victim{'k', 'e', 'e', 'p'};
  WriteFileBytes(dir_ / "victim", victim);
  std::filesystem::create_symlink(dir_ / "victim", dir_ / "zvqScript.tvr");
  EXPECT_FALSE(store_.AppendRecord(r1_));
  EXPECT_EQ(store_.RecordCount(), 0u);
  WriteFileBytes(dir_ / "one.dsf", DsfBytes(1, {r1_}));
  EXPECT_FALSE(Load(dir_ / "one.dsf"));
  EXPECT_EQ(store_.RecordCount(), 0u);
  EXPECT_EQ(ReadFileBytes(dir_ / "victim"), victim);
}

TEST_F(ScriptStoreTest, PlantedScratchLinkFailsTheDeleteAndKeepsTheStore) {
  Append({r1_, r2_});
  const Bytes victim{'k', 'e', 'e', 'p'};
  WriteFileBytes(dir_ / "victim", victim);
  std::filesystem::create_symlink(dir_ / "victim", dir_ / "zvqDel.tvr");
  EXPECT_FALSE(store_.DeleteRecord(1));
  EXPECT_EQ(store_.RecordCount(), 2u);
  EXPECT_EQ(StoreFile(), StoreBytes({r1_, r2_}));
  EXPECT_EQ(ReadFileBytes(dir_ / "victim"), victim);
}

TEST_F(ScriptStoreTest, DeleteTemporaryFilesKeepsTheCount) {
  Append({r1_});
  WriteFileBytes(dir_ / "CmdUrtFile.urt", {1});
  WriteFileBytes(dir_ / "test_1.log", {2});
  ASSERT_TRUE(store_.DeleteTemporaryFiles());
  EXPECT_FALSE(StoreExists());
  EXPECT_FALSE(std::filesystem::exists(dir_ / "CmdUrtFile.urt"));
  EXPECT_TRUE(std::filesystem::exists(dir_ / "test_1.log"));
  EXPECT_EQ(store_.RecordCount(), 1u);
  EXPECT_TRUE(store_.DeleteTemporaryFiles());  // missing files are no error
}

}  // namespace
}  // namespace tavrin::scripts
