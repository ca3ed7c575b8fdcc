#include "scripts/script_store.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "script_test_files.h"

namespace tavrin::scripts {
namespace {

namespace fs = std::filesystem;
using test::Bytes;
using test::DsfBytes;
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
  bool StoreExists() const { return fs::exists(dir_ / "zvqScript.tvr"); }

  // Loads `dsf` written as a file, collecting the records handed over.
  Result<DsfLoad> Load(const Bytes& dsf) {
    WriteFileBytes(dir_ / "load.dsf", dsf);
    return Load(dir_ / "load.dsf");
  }
  Result<DsfLoad> Load(const fs::path& path) {
    return store_.LoadDsf(path, [this](const ScriptRecord& r) { handed_.push_back(r); });
  }

  test::TempDir dir_;
  ScriptStore store_{dir_.Path()};
  std::vector<ScriptRecord> handed_;
  const ScriptRecord r1_ = SampleRecord(1);
  const ScriptRecord r2_ = SampleRecord(2);
  const ScriptRecord r3_ = SampleRecord(3);
};

// Appends go back to back into a new store; a delete at any place keeps the other records
// byte for byte, and the last one leaves no store file.
TEST_F(ScriptStoreTest, AppendAndDeleteKeepTheOtherRecordsByteForByte) {
  WriteFileBytes(dir_ / "zvqScript.tvr", Bytes(100, 0xEE));  // left from an earlier run
  EXPECT_EQ(store_.RecordCount(), 0u);
  const ScriptRecord r4 = SampleRecord(4);
  Append({r1_, r2_, r3_, r4});
  EXPECT_EQ(*store_.ReadRecord(2), r2_);
  const std::pair<std::uint32_t, std::vector<ScriptRecord>> deletes[] = {
      {2, {r1_, r3_, r4}}, {1, {r3_, r4}}, {2, {r3_}}, {1, {}}};
  for (const auto& [k, left] : deletes) {
    ASSERT_TRUE(store_.DeleteRecord(k));
    EXPECT_EQ(store_.RecordCount(), left.size());
    EXPECT_EQ(StoreFile(), StoreBytes(left));
  }
  EXPECT_FALSE(StoreExists());
  EXPECT_FALSE(fs::exists(dir_ / "zvqDel.tvr"));
  Append({r3_});
  EXPECT_EQ(StoreFile(), StoreBytes({r3_}));
}

TEST_F(ScriptStoreTest, RewriteChangesOnlyThatRecordAndNumbersOutsideAreRefused) {
  Append({r1_, r2_, r3_});
  ASSERT_TRUE(store_.RewriteRecord(2, r1_));
  EXPECT_EQ(StoreFile(), StoreBytes({r1_, r1_, r3_}));
  for (std::uint32_t k : {0u, 4u}) {
    EXPECT_EQ(store_.ReadRecord(k).Error().fault, FileFault::kNoSuchRecord);
    EXPECT_FALSE(store_.RewriteRecord(k, r2_));
    EXPECT_FALSE(store_.DeleteRecord(k));
  }
  EXPECT_EQ(store_.RecordCount(), 3u);
  EXPECT_EQ(StoreFile(), StoreBytes({r1_, r1_, r3_}));
}

// Loading what was saved is a load like any other (below).
TEST_F(ScriptStoreTest, SaveWritesTheHeaderAndTheRecords) {
  ASSERT_TRUE(store_.SaveDsf(dir_ / "empty.dsf"));
  EXPECT_EQ(ReadFileBytes(dir_ / "empty.dsf"), (Bytes{0x44, 0x53, 0x01, 0x00, 0, 0, 0, 0}));
  Append({r1_, r2_});
  ASSERT_TRUE(store_.SaveDsf(dir_ / "two.dsf"));
  EXPECT_EQ(ReadFileBytes(dir_ / "two.dsf"), DsfBytes(2, {r1_, r2_}));
}

struct LoadCase {
  const char* name;
  std::uint32_t headerCount;
  int records;        // SampleRecord(0 ..) written after the header
  int trailingBytes;  // part of one more record
  std::uint32_t loaded;
};

class LoadDsfTest : public ScriptStoreTest, public ::testing::WithParamInterface<LoadCase> {};

// What the store held is replaced. The header's count is believed only as far as the
// file's bytes go; records beyond the count are not part of the script; magic and version
// are not tested.
TEST_P(LoadDsfTest, ReplacesTheStoreWithTheWholeRecordsPresent) {
  const LoadCase& c = GetParam();
  Append({r1_, r2_, r3_});
  Bytes dsf = DsfBytes(c.headerCount, test::SampleRecords(c.records));
  dsf.insert(dsf.end(), static_cast<std::size_t>(c.trailingBytes), std::uint8_t{0x5A});
  dsf[0] = 'X';
  dsf[2] = 9;

  Result<DsfLoad> load = Load(dsf);
  ASSERT_TRUE(load);
  EXPECT_EQ(load->headerCount, c.headerCount);
  EXPECT_EQ(load->recordsLoaded, c.loaded);
  EXPECT_EQ(store_.RecordCount(), c.loaded);
  const auto expected = test::SampleRecords(static_cast<int>(c.loaded));
  EXPECT_EQ(handed_, expected);
  EXPECT_TRUE(StoreExists());
  EXPECT_EQ(StoreFile(), StoreBytes(expected));
}

INSTANTIATE_TEST_SUITE_P(Counts, LoadDsfTest,
                         ::testing::Values(LoadCase{"CountAboveRecords", 5, 2, 10, 2},
                                           LoadCase{"CountAllOnes", 0xFFFFFFFF, 1, 0, 1},
                                           LoadCase{"RecordsBeyondCount", 1, 3, 0, 1}),
                         [](const auto& row) { return std::string{row.param.name}; });

struct BadDsfCase {
  const char* name;
  Bytes content;  // written as bad.dsf unless `kind` says otherwise
  enum Kind { kFile, kDirectory, kMissing } kind;
  FileFault fault;
  int error;  // errno, for the failed calls
};

class BadDsfTest : public ScriptStoreTest, public ::testing::WithParamInterface<BadDsfCase> {};

// A DSF file without a whole header, or none at all, changes neither store nor count.
TEST_P(BadDsfTest, FailsAndLeavesTheStoreAsItWas) {
  const BadDsfCase& c = GetParam();
  Append({r1_, r2_});
  if (c.kind == BadDsfCase::kDirectory) fs::create_directory(dir_ / "bad.dsf");
  if (c.kind == BadDsfCase::kFile) WriteFileBytes(dir_ / "bad.dsf", c.content);
  Result<DsfLoad> load = Load(dir_ / "bad.dsf");
  ASSERT_FALSE(load);
  EXPECT_EQ(load.Error().fault, c.fault);
  EXPECT_EQ(load.Error().error, c.error);
  EXPECT_EQ(store_.RecordCount(), 2u);
  EXPECT_EQ(StoreFile(), StoreBytes({r1_, r2_}));
  EXPECT_TRUE(handed_.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Files, BadDsfTest,
    ::testing::Values(
        BadDsfCase{
            "SevenBytes", {0x44, 0x53, 1, 0, 1, 0, 0}, BadDsfCase::kFile, FileFault::kShortFile, 0},
        BadDsfCase{"Directory", {}, BadDsfCase::kDirectory, FileFault::kNotRegularFile, 0},
        BadDsfCase{"Missing", {}, BadDsfCase::kMissing, FileFault::kSystemCall, ENOENT}),
    [](const auto& row) { return std::string{row.param.name}; });

TEST_F(ScriptStoreTest, SavingOntoADirectoryOrTheStoreItselfFails) {
  Append({r1_});
  fs::create_directory(dir_ / "folder.dsf");
  EXPECT_FALSE(store_.SaveDsf(dir_ / "folder.dsf"));
  EXPECT_FALSE(store_.SaveDsf(dir_ / "zvqScript.tvr"));
  EXPECT_EQ(StoreFile(), StoreBytes({r1_}));
}

// A link planted in the temporary directory never redirects a write: not the store's, and
// not the scratch file's of a Delete, which then fails and keeps the store.
TEST_F(ScriptStoreTest, PlantedLinksAreNotWrittenThrough) {
  const Bytes victim{'k', 'e', 'e', 'p'};
  WriteFileBytes(dir_ / "victim", victim);
  fs::create_symlink(dir_ / "victim", dir_ / "zvqScript.tvr");
  EXPECT_FALSE(store_.AppendRecord(r1_));
  EXPECT_FALSE(Load(DsfBytes(1, {r1_})));
  EXPECT_EQ(store_.RecordCount(), 0u);

  fs::remove(dir_ / "zvqScript.tvr");
  Append({r1_, r2_});
  fs::create_symlink(dir_ / "victim", dir_ / "zvqDel.tvr");
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
  EXPECT_FALSE(fs::exists(dir_ / "CmdUrtFile.urt"));
  EXPECT_TRUE(fs::exists(dir_ / "test_1.log"));
  EXPECT_EQ(store_.RecordCount(), 1u);
  EXPECT_TRUE(store_.DeleteTemporaryFiles());  // missing files are no error
}

}  // namespace
}  // namespace tavrin::scripts
