#include "scripts/dsf_file.h"

#include <algorithm>

namespace tavrin::scripts {

DsfHeaderBytes EncodeDsfHeader(std::uint32_t recordCount) {
  DsfHeaderBytes bytes{kDsfMagic0, kDsfMagic1};
  bytes[2] = static_cast<std::uint8_t>(kDsfFormatVersion);
  bytes[3] = static_cast<std::uint8_t>(kDsfFormatVersion >> 8);
  for (std::size_t i = 0; i < 4; ++i) {
    bytes[4 + i] = static_cast<std::uint8_t>(recordCount >> (8 * i));
  }
  return bytes;
}

DsfHeader DecodeDsfHeader(std::span<const std::uint8_t, kDsfHeaderSize> bytes) {
  DsfHeader header;
  header.magic = {bytes[0], bytes[1]};
  header.version = static_cast<std::uint16_t>(bytes[2] | (bytes[3] << 8));
  for (std::size_t i = 4; i > 0; --i) {
    header.recordCount = (header.recordCount << 8) | bytes[4 + i - 1];
  }
  return header;
}

std::uint32_t UsableRecordCount(std::uint32_t headerCount, std::uint64_t fileSize) {
  if (fileSize < kDsfHeaderSize) return 0;
  const std::uint64_t present = (fileSize - kDsfHeaderSize) / kScriptRecordSize;
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(headerCount, present));
}

Result<DsfReader> DsfReader::Open(const std::filesystem::path& path) {
  Result<UniqueFd> fd = OpenChosenFileForReading(path, "open DSF file");
  if (!fd) return fd.Error();
  Result<std::uint64_t> size = FileSize(fd->Get(), "open DSF file");
  if (!size) return size.Error();
  DsfHeaderBytes headerBytes{};
  if (Status read = ReadFully(fd->Get(), headerBytes, "read DSF header"); !read) {
    return read.Error();
  }
  const std::uint32_t headerCount = DecodeDsfHeader(headerBytes).recordCount;
  return DsfReader{std::move(*fd), headerCount, UsableRecordCount(headerCount, *size)};
}

Result<ScriptRecord> DsfReader::ReadNext() {
  ScriptRecordBytes bytes{};
  if (Status read = ReadFully(fd_.Get(), bytes, "read DSF record"); !read) return read.Error();
  return DecodeScriptRecord(bytes);
}

}  // namespace tavrin::scripts
