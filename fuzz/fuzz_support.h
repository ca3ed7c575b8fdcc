// Shared by every fuzzer: the check that stops on a finding, files in and out, a scratch
// directory, and the split of a fuzz input into received blocks.
#pragma once

#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <span>
#include <string>
#include <vector>

namespace tavrin::fuzz {

inline void Check(bool condition) {
  if (!condition) __builtin_trap();
}

inline std::vector<std::uint8_t> ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteFile(const std::filesystem::path& path, std::span<const std::uint8_t> bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  Check(out.good());  // a file the harness cannot write is the harness's fault
}

// The process's own scratch directory (one name per process id), emptied on entry and
// exit: much cheaper than a directory per input.
class ScratchDirectory {
 public:
  explicit ScratchDirectory(const std::string& name) {
    path_ = std::filesystem::temp_directory_path() / (name + "_" + std::to_string(::getpid()));
    std::filesystem::create_directory(path_);
    Empty();
  }
  ~ScratchDirectory() { Empty(); }
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;

  const std::filesystem::path& Path() const { return path_; }
  std::filesystem::path File(const std::string& name) const { return path_ / name; }

 private:
  void Empty() {
    for (const auto& entry : std::filesystem::directory_iterator(path_)) {
      std::filesystem::remove_all(entry.path());
    }
  }

  std::filesystem::path path_;
};

// Input layout: one setup byte (its bits choose the starting state), then blocks, each a
// length byte L followed by L + 1 bytes (the last block may be shorter). A block is never
// empty: the dispatcher drops empty reads before they are processed.
struct FuzzInput {
  std::uint8_t setup = 0;
  std::vector<std::vector<std::uint8_t>> blocks;
};

inline FuzzInput SplitInput(std::span<const std::uint8_t> input) {
  FuzzInput out;
  if (input.empty()) return out;
  out.setup = input[0];
  std::size_t at = 1;
  while (at < input.size()) {
    const std::size_t length = std::size_t{input[at++]} + 1;
    const std::size_t take = std::min(length, input.size() - at);
    if (take == 0) break;
    const auto block = input.subspan(at, take);
    out.blocks.emplace_back(block.begin(), block.end());
    at += take;
  }
  return out;
}

}  // namespace tavrin::fuzz
