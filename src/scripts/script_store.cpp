#include "scripts/script_store.h"

#include <cerrno>
#include <system_error>

#include "scripts/dsf_file.h"
#include "scripts/script_file_io.h"

namespace tavrin::scripts {
namespace {

// Byte offset of record k (1-based) in the store.
std::uint64_t RecordOffset(std::uint32_t k) {
  return std::uint64_t{k - 1} * kScriptRecordSize;
}

std::uint64_t StoreSize(std::uint32_t count) {
  return std::uint64_t{count} * kScriptRecordSize;
}

}  // namespace

ScriptStore::ScriptStore(const std::filesystem::path& temporaryDirectory)
    : paths_(TemporaryPaths::In(temporaryDirectory)) {}

Status ScriptStore::CheckRecordNumber(std::uint32_t k, std::string_view step) const {
  if (k < 1 || k > recordCount_) return FileError{FileFault::kNoSuchRecord, step, 0};
  return Ok();
}

Status ScriptStore::AppendRecord(const ScriptRecord& record) {
  constexpr std::string_view kStep = "append script record";
  // The first record starts a new store, whatever an earlier one left behind.
  const TemporaryOpen how =
      recordCount_ == 0 ? TemporaryOpen::kCreateTruncated : TemporaryOpen::kWrite;
  Result<UniqueFd> store = OpenTemporaryFile(paths_.scriptStore, how, kStep);
  if (!store) return store.Error();
  const ScriptRecordBytes bytes = EncodeScriptRecord(record);
  if (Status written = WriteFullyAt(store->Get(), bytes, StoreSize(recordCount_), kStep);
      !written) {
    // A partly written record is cut off again so the file matches the count.
    (void)TruncateFile(store->Get(), StoreSize(recordCount_), kStep);
    return written;
  }
  ++recordCount_;
  return Ok();
}

Result<ScriptRecord> ScriptStore::ReadRecord(std::uint32_t k) const {
  constexpr std::string_view kStep = "read script record";
  if (Status valid = CheckRecordNumber(k, kStep); !valid) return valid.Error();
  Result<UniqueFd> store = OpenTemporaryFile(paths_.scriptStore, TemporaryOpen::kRead, kStep);
  if (!store) return store.Error();
  ScriptRecordBytes bytes{};
  if (Status read = ReadFullyAt(store->Get(), bytes, RecordOffset(k), kStep); !read) {
    return read.Error();
  }
  return DecodeScriptRecord(bytes);
}

Status ScriptStore::RewriteRecord(std::uint32_t k, const ScriptRecord& record) {
  constexpr std::string_view kStep = "rewrite script record";
  if (Status valid = CheckRecordNumber(k, kStep); !valid) return valid;
  Result<UniqueFd> store = OpenTemporaryFile(paths_.scriptStore, TemporaryOpen::kWrite, kStep);
  if (!store) return store.Error();
  return WriteFullyAt(store->Get(), EncodeScriptRecord(record), RecordOffset(k), kStep);
}

Status ScriptStore::DeleteRecord(std::uint32_t k) {
  if (Status valid = CheckRecordNumber(k, "delete script record"); !valid) return valid;
  Status removed = recordCount_ == 1 ? DeleteOnlyRecord() : CopyAllBut(k);
  if (!removed) return removed;
  --recordCount_;
  return Ok();
}

Status ScriptStore::DeleteOnlyRecord() {
  return RemoveFile(paths_.scriptStore, "delete script store");
}

// Copies every record but k into the scratch file, which then takes the store's name.
// The store is replaced in one rename, so a failure anywhere leaves it whole.
Status ScriptStore::CopyAllBut(std::uint32_t k) {
  constexpr std::string_view kStep = "delete script record";
  Result<UniqueFd> store = OpenTemporaryFile(paths_.scriptStore, TemporaryOpen::kRead, kStep);
  if (!store) return store.Error();
  Status copied = [&]() -> Status {
    Result<UniqueFd> scratch =
        OpenTemporaryFile(paths_.deleteScratch, TemporaryOpen::kCreateTruncated, kStep);
    if (!scratch) return scratch.Error();
    if (Status before = CopyBytes(store->Get(), 0, StoreSize(k - 1), scratch->Get(), kStep);
        !before) {
      return before;
    }
    return CopyBytes(store->Get(), RecordOffset(k + 1), StoreSize(recordCount_ - k), scratch->Get(),
                     kStep);
  }();
  if (copied) copied = MoveFile(paths_.deleteScratch, paths_.scriptStore, kStep);
  if (!copied) (void)RemoveFile(paths_.deleteScratch, kStep);
  return copied;
}

Status ScriptStore::SaveDsf(const std::filesystem::path& path) const {
  constexpr std::string_view kStep = "save DSF file";
  // Saving onto the store itself would empty it before its records are copied.
  std::error_code ignored;
  if (std::filesystem::equivalent(path, paths_.scriptStore, ignored)) {
    return FileError{FileFault::kSystemCall, kStep, EINVAL};
  }
  Result<UniqueFd> dsf = CreateChosenFile(path, kStep);
  if (!dsf) return dsf.Error();
  if (Status header = WriteFully(dsf->Get(), EncodeDsfHeader(recordCount_), kStep); !header) {
    return header;
  }
  if (recordCount_ == 0) return Ok();  // no store file is needed for no records
  Result<UniqueFd> store = OpenTemporaryFile(paths_.scriptStore, TemporaryOpen::kRead, kStep);
  if (!store) return store.Error();
  return CopyBytes(store->Get(), 0, StoreSize(recordCount_), dsf->Get(), kStep);
}

Result<DsfLoad> ScriptStore::LoadDsf(const std::filesystem::path& path,
                                     const RecordHandler& onRecord) {
  constexpr std::string_view kStep = "load DSF file";
  Result<DsfReader> reader = DsfReader::Open(path);
  if (!reader) return reader.Error();
  Result<UniqueFd> store =
      OpenTemporaryFile(paths_.scriptStore, TemporaryOpen::kCreateTruncated, kStep);
  if (!store) return store.Error();
  recordCount_ = 0;  // the store is empty from here on
  DsfLoad load{reader->HeaderCount(), 0};
  while (load.recordsLoaded < reader->RecordCount()) {
    Result<ScriptRecord> record = reader->ReadNext();
    if (!record) return record.Error();
    const std::uint64_t offset = StoreSize(recordCount_);
    if (Status written = WriteFully(store->Get(), EncodeScriptRecord(*record), kStep); !written) {
      (void)TruncateFile(store->Get(), offset, kStep);
      return written.Error();
    }
    ++recordCount_;
    ++load.recordsLoaded;
    if (onRecord) onRecord(*record);
  }
  return load;
}

Status ScriptStore::DeleteTemporaryFiles() const {
  return scripts::DeleteTemporaryFiles(paths_);
}

}  // namespace tavrin::scripts
