// The script store: the records of the download script being edited, kept back to back
// (32 bytes each, no header) in zvqScript.tvr of the temporary directory, with the record
// count in memory. DSF files are saved from it and loaded into it.
//
// Every operation runs on the user-interface thread. A failed operation returns the
// FileError (shown as the file-access error box) and leaves the record count equal to the
// number of records the store file really holds, so list rows, records and count stay in
// step.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>

#include "scripts/script_record.h"
#include "scripts/script_result.h"
#include "scripts/temporary_paths.h"

namespace tavrin::scripts {

// What a DSF load took from its file.
struct DsfLoad {
  std::uint32_t headerCount = 0;    // the count the file's header claims
  std::uint32_t recordsLoaded = 0;  // the records it really held, now in the store
};

class ScriptStore {
 public:
  // Called once per loaded record, in file order, after the record is in the store.
  using RecordHandler = std::function<void(const ScriptRecord&)>;

  // `temporaryDirectory` must exist; the store starts with no records.
  explicit ScriptStore(const std::filesystem::path& temporaryDirectory);

  // Writes `record` after the last one; the count goes up by one.
  Status AppendRecord(const ScriptRecord& record);
  // Record `k`, 1-based, 1 <= k <= RecordCount().
  Result<ScriptRecord> ReadRecord(std::uint32_t k) const;
  // Overwrites record `k` in place; the count does not change.
  Status RewriteRecord(std::uint32_t k, const ScriptRecord& record);
  // Removes record `k`; later records move up by one and the count goes down by one.
  // Deleting the only record deletes the store file.
  Status DeleteRecord(std::uint32_t k);

  // Writes the DSF file of all records to `path`, replacing an existing file.
  Status SaveDsf(const std::filesystem::path& path) const;
  // Replaces the store and the count by the records of the DSF file at `path`, handing
  // each to `onRecord`. A file whose header cannot be read, or that is no regular file,
  // changes nothing. A failure part way leaves the records loaded until then.
  Result<DsfLoad> LoadDsf(const std::filesystem::path& path, const RecordHandler& onRecord);

  // Deletes zvqScript.tvr, zvqDumpBIN.fdb and CmdUrtFile.urt; the count is unchanged.
  Status DeleteTemporaryFiles() const;

  std::uint32_t RecordCount() const { return recordCount_; }
  const TemporaryPaths& Paths() const { return paths_; }

 private:
  Status CheckRecordNumber(std::uint32_t k, std::string_view step) const;
  Status DeleteOnlyRecord();
  Status CopyAllBut(std::uint32_t k);

  TemporaryPaths paths_;
  std::uint32_t recordCount_ = 0;
};

}  // namespace tavrin::scripts
