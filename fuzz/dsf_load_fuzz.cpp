// Loads arbitrary bytes as a DSF file into a script store and builds the command image
// from them, checking that the header's count is trusted only as far as the bytes go:
// count, store file, handed records, header-data table and command image all agree, and
// every record is the file's bytes, unchanged.
#include <stdlib.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <span>
#include <string>
#include <vector>

#include "scripts/command_image.h"
#include "scripts/dsf_file.h"
#include "scripts/script_record.h"
#include "scripts/script_store.h"

namespace {

namespace scripts = tavrin::scripts;
using Bytes = std::vector<std::uint8_t>;

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

Bytes ReadAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteAll(const std::filesystem::path& path, std::span<const std::uint8_t> bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

// The records the input really holds: min(header count, whole records present).
std::uint32_t ExpectedRecords(std::span<const std::uint8_t> input) {
  if (input.size() < scripts::kDsfHeaderSize) return 0;
  const auto header = scripts::DecodeDsfHeader(input.first<scripts::kDsfHeaderSize>());
  return scripts::UsableRecordCount(header.recordCount, input.size());
}

std::span<const std::uint8_t, scripts::kScriptRecordSize> RecordBytes(
    std::span<const std::uint8_t> input, std::size_t index) {
  return input.subspan(scripts::kDsfHeaderSize + index * scripts::kScriptRecordSize)
      .first<scripts::kScriptRecordSize>();
}

std::vector<scripts::ScriptRecord> CheckLoad(const std::filesystem::path& dir,
                                             std::span<const std::uint8_t> input) {
  scripts::ScriptStore store(dir);
  std::vector<scripts::ScriptRecord> handed;
  const auto load = store.LoadDsf(
      dir / "input.dsf", [&](const scripts::ScriptRecord& record) { handed.push_back(record); });
  const std::uint32_t expected = ExpectedRecords(input);
  Check(static_cast<bool>(load) == (input.size() >= scripts::kDsfHeaderSize));
  Check(store.RecordCount() == expected && handed.size() == expected);
  Check(ReadAll(store.Paths().scriptStore).size() == std::size_t{expected} * 32);
  for (std::size_t i = 0; i < handed.size(); ++i) {
    const auto encoded = scripts::EncodeScriptRecord(handed[i]);
    Check(std::ranges::equal(encoded, RecordBytes(input, i)));
  }
  if (load) {
    Check(static_cast<bool>(store.SaveDsf(dir / "saved.dsf")));
    Check(ReadAll(dir / "saved.dsf").size() ==
          scripts::kDsfHeaderSize + std::size_t{expected} * 32);
  }
  return handed;
}

void CheckCommandImage(const std::filesystem::path& dir, std::span<const std::uint8_t> input,
                       const std::vector<scripts::ScriptRecord>& handed) {
  const auto table = scripts::PrepareDownload(dir / "input.dsf", dir);
  const std::filesystem::path image = dir / scripts::kCommandImageFileName;
  if (input.size() < scripts::kDsfHeaderSize) {
    Check(!table && ReadAll(image).empty());
    return;
  }
  Check(static_cast<bool>(table) && table->size() == handed.size());
  for (std::size_t i = 0; i < handed.size(); ++i) Check((*table)[i] == handed[i].header);
  Check(ReadAll(image).size() ==
        scripts::kCommandImageHeaderSize + handed.size() * scripts::kCommandPacketSize);
  const auto header = scripts::ReadCommandImageHeader(image);
  Check(static_cast<bool>(header) && header->recordCount == handed.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string pattern = (std::filesystem::temp_directory_path() / "dsf_fuzz_XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) return 0;
  const std::filesystem::path dir(pattern);
  const std::span<const std::uint8_t> input(data, size);
  WriteAll(dir / "input.dsf", input);
  const std::vector<scripts::ScriptRecord> handed = CheckLoad(dir, input);
  CheckCommandImage(dir, input, handed);
  std::filesystem::remove_all(dir);
  return 0;
}
