// Download script files (*.DSF): "D", "S", u16 format version 1, u32 record count n, then
// n records of 32 bytes as in the script store; all little-endian.
//
// A DSF file is trusted only as far as its bytes go: the records read are the smaller of
// the header's count and the whole records the file holds, and nothing is allocated by
// the header's count. Magic and version are not tested.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <vector>

#include "scripts/script_file_io.h"
#include "scripts/script_record.h"
#include "scripts/script_result.h"

namespace tavrin::scripts {

constexpr std::size_t kDsfHeaderSize = 8;  // bytes before the first record
constexpr std::uint8_t kDsfMagic0 = 0x44;  // "D"
constexpr std::uint8_t kDsfMagic1 = 0x53;  // "S"
constexpr std::uint16_t kDsfFormatVersion = 1;

struct DsfHeader {
  std::array<std::uint8_t, 2> magic{};
  std::uint16_t version = 0;
  std::uint32_t recordCount = 0;
};

using DsfHeaderBytes = std::array<std::uint8_t, kDsfHeaderSize>;

// The header of a DSF file of `recordCount` records.
DsfHeaderBytes EncodeDsfHeader(std::uint32_t recordCount);
DsfHeader DecodeDsfHeader(std::span<const std::uint8_t, kDsfHeaderSize> bytes);

// The records a DSF file of `fileSize` bytes whose header says `headerCount` really has.
std::uint32_t UsableRecordCount(std::uint32_t headerCount, std::uint64_t fileSize);

// Reads the records of one DSF file in order. The file stays open while the reader lives.
class DsfReader {
 public:
  // Opens the file and reads its header. A file shorter than the header is kShortFile;
  // a directory, device or pipe is kNotRegularFile.
  static Result<DsfReader> Open(const std::filesystem::path& path);

  std::uint32_t HeaderCount() const { return headerCount_; }
  // How many records ReadNext gives: min(header count, whole records present).
  std::uint32_t RecordCount() const { return recordCount_; }

  // The next record; call it at most RecordCount() times. kShortFile when the file has
  // shrunk since it was opened.
  Result<ScriptRecord> ReadNext();

 private:
  DsfReader(UniqueFd fd, std::uint32_t headerCount, std::uint32_t recordCount)
      : fd_(std::move(fd)), headerCount_(headerCount), recordCount_(recordCount) {}

  UniqueFd fd_;
  std::uint32_t headerCount_;
  std::uint32_t recordCount_;
};

}  // namespace tavrin::scripts
