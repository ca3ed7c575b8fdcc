#include "scripts/script_file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <limits>

namespace tavrin::scripts {
namespace {

constexpr mode_t kFileMode = 0644;             // rw-r--r--, before the umask
constexpr std::size_t kCopyBufferSize = 4096;  // bytes moved per read while copying

FileError SystemCallError(std::string_view step) {
  return FileError{FileFault::kSystemCall, step, errno};
}

FileError ShortFileError(std::string_view step) {
  return FileError{FileFault::kShortFile, step, 0};
}

int OpenRetrying(const char* path, int flags) {
  int fd = -1;
  do {
    fd = ::open(path, flags, kFileMode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

// Refuses anything but a regular file: a DSF "file" that is a directory, a device or a
// pipe has no record count that its bytes could bound.
Result<UniqueFd> RequireRegular(UniqueFd fd, std::string_view step) {
  struct stat status {};
  if (::fstat(fd.Get(), &status) != 0) return SystemCallError(step);
  if (!S_ISREG(status.st_mode)) return FileError{FileFault::kNotRegularFile, step, 0};
  return fd;
}

bool OffsetFits(std::uint64_t offset, std::size_t length) {
  constexpr auto kMaxOffset = static_cast<std::uint64_t>(std::numeric_limits<off_t>::max());
  return offset <= kMaxOffset && length <= kMaxOffset - offset;
}

}  // namespace

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

UniqueFd::~UniqueFd() {
  if (fd_ >= 0) ::close(fd_);
}

Result<UniqueFd> OpenTemporaryFile(const std::filesystem::path& path, TemporaryOpen how,
                                   std::string_view step) {
  int flags = O_CLOEXEC | O_NOFOLLOW;
  switch (how) {
    case TemporaryOpen::kRead:
      flags |= O_RDONLY;
      break;
    case TemporaryOpen::kWrite:
      flags |= O_WRONLY;
      break;
    case TemporaryOpen::kCreateTruncated:
      flags |= O_WRONLY | O_CREAT | O_TRUNC;
      break;
  }
  const int fd = OpenRetrying(path.c_str(), flags);
  if (fd < 0) return SystemCallError(step);
  return UniqueFd{fd};
}

Result<UniqueFd> OpenChosenFileForReading(const std::filesystem::path& path,
                                          std::string_view step) {
  // O_NONBLOCK: opening a pipe must not wait for a writer; regular files ignore it.
  const int fd = OpenRetrying(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return SystemCallError(step);
  return RequireRegular(UniqueFd{fd}, step);
}

Result<UniqueFd> CreateChosenFile(const std::filesystem::path& path, std::string_view step) {
  const int fd = OpenRetrying(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return SystemCallError(step);
  return RequireRegular(UniqueFd{fd}, step);
}

Result<std::uint64_t> FileSize(int fd, std::string_view step) {
  struct stat status {};
  if (::fstat(fd, &status) != 0) return SystemCallError(step);
  return static_cast<std::uint64_t>(status.st_size);
}

Status ReadFully(int fd, std::span<std::uint8_t> out, std::string_view step) {
  std::size_t done = 0;
  while (done < out.size()) {
    const ssize_t got = ::read(fd, out.data() + done, out.size() - done);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return SystemCallError(step);
    if (got == 0) return ShortFileError(step);
    done += static_cast<std::size_t>(got);
  }
  return Ok();
}

Status ReadFullyAt(int fd, std::span<std::uint8_t> out, std::uint64_t offset,
                   std::string_view step) {
  if (!OffsetFits(offset, out.size())) return ShortFileError(step);
  std::size_t done = 0;
  while (done < out.size()) {
    const ssize_t got =
        ::pread(fd, out.data() + done, out.size() - done, static_cast<off_t>(offset + done));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return SystemCallError(step);
    if (got == 0) return ShortFileError(step);
    done += static_cast<std::size_t>(got);
  }
  return Ok();
}

Status WriteFully(int fd, std::span<const std::uint8_t> bytes, std::string_view step) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t put = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (put < 0 && errno == EINTR) continue;
    if (put < 0) return SystemCallError(step);
    done += static_cast<std::size_t>(put);
  }
  return Ok();
}

Status WriteFullyAt(int fd, std::span<const std::uint8_t> bytes, std::uint64_t offset,
                    std::string_view step) {
  if (!OffsetFits(offset, bytes.size())) return FileError{FileFault::kSystemCall, step, EFBIG};
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t put =
        ::pwrite(fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(offset + done));
    if (put < 0 && errno == EINTR) continue;
    if (put < 0) return SystemCallError(step);
    done += static_cast<std::size_t>(put);
  }
  return Ok();
}

Status CopyBytes(int from, std::uint64_t offset, std::uint64_t length, int to,
                 std::string_view step) {
  std::array<std::uint8_t, kCopyBufferSize> buffer{};
  while (length > 0) {
    const std::size_t chunk =
        length < buffer.size() ? static_cast<std::size_t>(length) : buffer.size();
    const std::span<std::uint8_t> part{buffer.data(), chunk};
    if (Status read = ReadFullyAt(from, part, offset, step); !read) return read;
    if (Status written = WriteFully(to, part, step); !written) return written;
    offset += chunk;
    length -= chunk;
  }
  return Ok();
}

Status TruncateFile(int fd, std::uint64_t length, std::string_view step) {
  if (!OffsetFits(length, 0)) return FileError{FileFault::kSystemCall, step, EFBIG};
  int rc = -1;
  do {
    rc = ::ftruncate(fd, static_cast<off_t>(length));
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) return SystemCallError(step);
  return Ok();
}

Status RemoveFile(const std::filesystem::path& path, std::string_view step) {
  if (::unlink(path.c_str()) != 0 && errno != ENOENT) return SystemCallError(step);
  return Ok();
}

Status MoveFile(const std::filesystem::path& from, const std::filesystem::path& to,
                std::string_view step) {
  if (std::rename(from.c_str(), to.c_str()) != 0) return SystemCallError(step);
  return Ok();
}

}  // namespace tavrin::scripts
