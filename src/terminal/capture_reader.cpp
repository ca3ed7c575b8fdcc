#include "terminal/capture_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace tavrin::terminal {

std::shared_ptr<const CaptureReader> CaptureReader::Open(const std::filesystem::path& path,
                                                         int sameAs) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return nullptr;
  if (sameAs >= 0) {
    struct stat mine {};
    struct stat theirs {};
    if (::fstat(fd, &mine) != 0 || ::fstat(sameAs, &theirs) != 0 || mine.st_ino != theirs.st_ino ||
        mine.st_dev != theirs.st_dev) {
      ::close(fd);
      return nullptr;
    }
  }
  return std::shared_ptr<const CaptureReader>(new CaptureReader(fd));
}

CaptureReader::~CaptureReader() {
  ::close(fd_);
}

std::size_t CaptureReader::ReadAt(std::span<std::uint8_t> into, std::uint64_t offset) const {
  std::size_t filled = 0;
  while (filled < into.size()) {
    const ssize_t n = ::pread(fd_, into.data() + filled, into.size() - filled,
                              static_cast<off_t>(offset + filled));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    filled += static_cast<std::size_t>(n);
  }
  return filled;
}

}  // namespace tavrin::terminal
