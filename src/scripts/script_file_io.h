// The file calls of the script files: whole-buffer reads and writes that retry after
// interruptions and partial transfers, and the two ways files are opened.
//  - Files of the temporary directory (script store, scratch file, command image) are
//    never opened through a symbolic link, so a link planted in the directory cannot
//    redirect a write or a read.
//  - Files the operator chose (DSF files) may be links, but must be regular files: a
//    directory, device or pipe is refused, and opening never waits for a pipe's writer.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string_view>
#include <utility>

#include "scripts/script_result.h"

namespace tavrin::scripts {

// Owns one file descriptor and closes it.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept;
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd();

  int Get() const { return fd_; }

 private:
  int fd_ = -1;
};

// How a file of the temporary directory is opened.
enum class TemporaryOpen {
  kRead,             // an existing file, for reading
  kWrite,            // an existing file, for writing in place
  kCreateTruncated,  // created, or emptied when it exists, for writing
};

Result<UniqueFd> OpenTemporaryFile(const std::filesystem::path& path, TemporaryOpen how,
                                   std::string_view step);
// A regular file chosen by the operator, for reading.
Result<UniqueFd> OpenChosenFileForReading(const std::filesystem::path& path, std::string_view step);
// A regular file chosen by the operator, created or replaced, for writing.
Result<UniqueFd> CreateChosenFile(const std::filesystem::path& path, std::string_view step);

// The size in bytes of the open file.
Result<std::uint64_t> FileSize(int fd, std::string_view step);

// Reads exactly `out.size()` bytes from the current position (kShortFile at an early end).
Status ReadFully(int fd, std::span<std::uint8_t> out, std::string_view step);
// Reads exactly `out.size()` bytes at `offset`.
Status ReadFullyAt(int fd, std::span<std::uint8_t> out, std::uint64_t offset,
                   std::string_view step);
// Writes all of `bytes` at the current position.
Status WriteFully(int fd, std::span<const std::uint8_t> bytes, std::string_view step);
// Writes all of `bytes` at `offset`.
Status WriteFullyAt(int fd, std::span<const std::uint8_t> bytes, std::uint64_t offset,
                    std::string_view step);
// Copies `length` bytes from `from` at `offset` to the current position of `to`, through a
// fixed buffer.
Status CopyBytes(int from, std::uint64_t offset, std::uint64_t length, int to,
                 std::string_view step);
// Cuts the file to `length` bytes.
Status TruncateFile(int fd, std::uint64_t length, std::string_view step);
// Deletes the file (a link itself, never its target); a missing file is no error.
Status RemoveFile(const std::filesystem::path& path, std::string_view step);
// Moves `from` onto the name `to`, replacing what had that name.
Status MoveFile(const std::filesystem::path& from, const std::filesystem::path& to,
                std::string_view step);

}  // namespace tavrin::scripts
