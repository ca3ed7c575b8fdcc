// CaptureReader: a read-only handle on one capture file, for a front end that shows the
// capture by reading the file itself rather than keeping a copy of what it was handed.
// The capture log opens one for each file it creates (at start and at every Clear) and
// hands it to its OutputSink before the first block of that file, so a reader always
// reads the file the blocks it was told about went to, even after the path names a
// newer one.
//
// The file is only ever appended to, so a byte once shown never changes: any thread may
// read up to the length the blocks it was shown add up to.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>

namespace tavrin::terminal {

class CaptureReader {
 public:
  // Opens `path` read-only; null when it cannot be opened. `sameAs` (a descriptor of the
  // file just created) guards against the path naming another file by then.
  static std::shared_ptr<const CaptureReader> Open(const std::filesystem::path& path,
                                                   int sameAs = -1);
  ~CaptureReader();
  CaptureReader(const CaptureReader&) = delete;
  CaptureReader& operator=(const CaptureReader&) = delete;

  // Reads at `offset` until `into` is full or the file ends; returns the bytes read
  // (fewer only at the end of the file or on an error).
  std::size_t ReadAt(std::span<std::uint8_t> into, std::uint64_t offset) const;

 private:
  explicit CaptureReader(int fd) : fd_(fd) {}
  int fd_;
};

}  // namespace tavrin::terminal
