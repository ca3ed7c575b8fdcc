// Loads arbitrary bytes as a DSF file into a script store and builds the command image
// from them, checking that the header's count is trusted only as far as the bytes go:
// count, store file, handed records, header-data table and command image all agree, and
// every record is the file's bytes, unchanged.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <vector>

#include "fuzz_support.h"
#include "scripts/command_image.h"
#include "scripts/dsf_file.h"
#include "scripts/script_record.h"
#include "scripts/script_store.h"

namespace {

namespace scripts = tavrin::scripts;
using tavrin::fuzz::Check;
using tavrin::fuzz::ReadFile;

// The records the input really holds: min(header count, whole records present), worked
// out here from the little-endian count at offset 4.
std::uint32_t ExpectedRecords(std::span<const std::uint8_t> input) {
  if (input.size() < scripts::kDsfHeaderSize) return 0;
  std::uint32_t count = 0;
  for (std::size_t i = 8; i-- > 4;) count = count << 8 | input[i];
  return static_cast<std::uint32_t>(std::min<std::size_t>(count, (input.size() - 8) / 32));
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
  Check(ReadFile(store.Paths().scriptStore).size() == std::size_t{expected} * 32);
  for (std::size_t i = 0; i < handed.size(); ++i) {
    const auto encoded = scripts::EncodeScriptRecord(handed[i]);
    Check(std::ranges::equal(encoded, RecordBytes(input, i)));
  }
  if (load) Check(static_cast<bool>(store.SaveDsf(dir / "saved.dsf")));
  return handed;
}

// The command image is built from the records the load handed over (its layout is pinned
// by the unit tests).
void CheckCommandImage(const std::filesystem::path& dir,
                       const std::vector<scripts::ScriptRecord>& handed) {
  const auto table = scripts::PrepareDownload(dir / "input.dsf", dir);
  if (!table) return;
  Check(table->size() == handed.size());
  for (std::size_t i = 0; i < handed.size(); ++i) Check((*table)[i] == handed[i].header);
  const auto header = scripts::ReadCommandImageHeader(dir / scripts::kCommandImageFileName);
  Check(static_cast<bool>(header) && header->recordCount == handed.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const tavrin::fuzz::ScratchDirectory dir("dsf_load_fuzz");
  const std::span<const std::uint8_t> input(data, size);
  tavrin::fuzz::WriteFile(dir.File("input.dsf"), input);
  CheckCommandImage(dir.Path(), CheckLoad(dir.Path(), input));
  return 0;
}
