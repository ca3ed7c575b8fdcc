// Files for the script tests: a private temporary directory per test and whole-file
// reads and writes.
#pragma once

#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <vector>

#include "scripts/script_record.h"

namespace tavrin::scripts::test {

using Bytes = std::vector<std::uint8_t>;

// A fresh directory under the system's temporary directory, removed with its content.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& Path() const { return path_; }
  std::filesystem::path operator/(const char* name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

Bytes ReadFileBytes(const std::filesystem::path& path);
void WriteFileBytes(const std::filesystem::path& path, const Bytes& bytes);

// A record whose every field differs with `seed`, reserved bytes 0.
ScriptRecord SampleRecord(std::uint8_t seed);
// The bytes of a DSF file: the header with `headerCount`, then `records` encoded.
Bytes DsfBytes(std::uint32_t headerCount, std::initializer_list<ScriptRecord> records);
// A DSF file claiming `headerCount` records and holding SampleRecord(0..records-1).
Bytes DsfOfSampleRecords(std::uint32_t headerCount, int records);
// The store file content for `records`, back to back.
Bytes StoreBytes(std::initializer_list<ScriptRecord> records);

}  // namespace tavrin::scripts::test
