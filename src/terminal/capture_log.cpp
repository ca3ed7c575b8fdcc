#include "terminal/capture_log.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <new>
#include <utility>

namespace tavrin::terminal {
namespace {

// Save copies the capture through a buffer of this size, so a capture of any length
// needs no more memory than this.
constexpr std::size_t kSaveChunkSize = 64 * 1024;
// Only the low 32 bits of the capture file's size are taken as the length to save.
constexpr std::uint64_t kSaveLengthMask = 0xFFFFFFFFu;
// A saved log has a blank in place of these bytes (NUL, XON, the attention byte).
constexpr std::uint8_t kBlank = 0x20;
constexpr std::uint8_t kNul = 0x00;
constexpr std::uint8_t kXon = 0x11;
constexpr std::uint8_t kAttention = 0x17;
constexpr mode_t kFileMode = 0644;

struct WriteOutcome {
  std::size_t written = 0;
  int error = 0;  // errno of the failed call, 0 when no call failed
};

// Writes until all bytes are out or a call fails or makes no progress.
WriteOutcome WriteAll(int fd, std::span<const std::uint8_t> bytes) {
  WriteOutcome outcome;
  while (outcome.written < bytes.size()) {
    const auto rest = bytes.subspan(outcome.written);
    const ssize_t n = ::write(fd, rest.data(), rest.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      outcome.error = errno;
      break;
    }
    if (n == 0) break;
    outcome.written += static_cast<std::size_t>(n);
  }
  return outcome;
}

// One pread, retried when interrupted. Returns the bytes read, 0 at the end or on error.
std::size_t ReadAt(int fd, std::span<std::uint8_t> into, std::uint64_t offset) {
  for (;;) {
    const ssize_t n = ::pread(fd, into.data(), into.size(), static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    return n > 0 ? static_cast<std::size_t>(n) : 0;
  }
}

std::uint64_t SaveLength(int fd) {
  struct stat status {};
  if (fd < 0 || ::fstat(fd, &status) != 0 || status.st_size < 0) return 0;
  return static_cast<std::uint64_t>(status.st_size) & kSaveLengthMask;
}

void BlankControlBytes(std::span<std::uint8_t> bytes) {
  std::replace_if(
      bytes.begin(), bytes.end(),
      [](std::uint8_t b) { return b == kNul || b == kXon || b == kAttention; }, kBlank);
}

SaveResult MakeSaveResult(SaveOutcome outcome, const std::filesystem::path& logPath) {
  const std::string programCaption(kProgramCaption);
  switch (outcome) {
    case SaveOutcome::kOpenFailed:
      return {outcome, std::string(kSaveOpenFailedText), logPath.string(), MessageIcon::kNone};
    case SaveOutcome::kNoMemory:
      return {outcome, std::string(kSaveNoMemoryText), logPath.string(), MessageIcon::kNone};
    case SaveOutcome::kWriteFailed:
      return {outcome, std::string(kSaveWriteFailedText), programCaption, MessageIcon::kNone};
    case SaveOutcome::kEmpty:
      return {outcome, std::string(kSaveEmptyText), programCaption, MessageIcon::kExclamation};
    case SaveOutcome::kSaved:
      break;
  }
  return {SaveOutcome::kSaved, std::string(kSaveDoneText), programCaption,
          MessageIcon::kInformation};
}

}  // namespace

CaptureLog::CaptureLog(std::filesystem::path tempDir, OutputSink& output,
                       serial::ErrorReporter& errors)
    : path_(std::move(tempDir) / kCaptureFileName), output_(output), errors_(errors) {
  std::lock_guard lock(captureLock_);
  CreateCaptureFile();
}

CaptureLog::~CaptureLog() {
  CloseCaptureFile();
}

// Creates the file empty, replacing an older one, for reading and appending. A symbolic
// link planted in its place is not followed (the open fails), so nothing is ever written
// through it. The exclusive lock stands in for "others may only read": a second program
// sharing the temporary directory cannot take over (or empty) a capture in use.
void CaptureLog::CreateCaptureFile() {
  const int fd =
      ::open(path_.c_str(), O_RDWR | O_CREAT | O_APPEND | O_NOFOLLOW | O_CLOEXEC, kFileMode);
  if (fd < 0) {
    errors_.ReportError(kCreateCaptureStep, errno);
    return;
  }
  struct stat status {};
  int error = 0;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::fstat(fd, &status) != 0) {
    error = errno;
  } else if (!S_ISREG(status.st_mode)) {
    error = EINVAL;
  } else if (::ftruncate(fd, 0) != 0) {
    error = errno;
  }
  if (error != 0) {
    ::close(fd);
    errors_.ReportError(kCreateCaptureStep, error);
    return;
  }
  file_ = fd;
}

void CaptureLog::CloseCaptureFile() {
  if (file_ >= 0) ::close(file_);
  file_ = -1;
}

void CaptureLog::WriteToCapture(std::span<const std::uint8_t> bytes, ColourMark colour) {
  std::lock_guard lock(captureLock_);
  Append(bytes);
  const std::vector<std::uint8_t> block = ReadPending(bytes.size());
  if (!block.empty()) output_.Show(block, colour);
}

// The file is opened for appending, so every write lands at its current end.
void CaptureLog::Append(std::span<const std::uint8_t> bytes) {
  const WriteOutcome outcome = file_ >= 0 ? WriteAll(file_, bytes) : WriteOutcome{0, EBADF};
  if (outcome.error != 0) errors_.ReportError(kCaptureWriteStep, outcome.error);
  if (outcome.written < bytes.size()) {
    errors_.ReportError(kCaptureShortWriteStep, outcome.error != 0 ? outcome.error : EIO);
  }
}

// Reads up to `pendingCount` bytes from the stream offset and moves the offset past
// them; fewer when the file yields fewer (a failed or short append).
std::vector<std::uint8_t> CaptureLog::ReadPending(std::size_t pendingCount) {
  std::vector<std::uint8_t> block;
  if (file_ < 0 || pendingCount == 0) return block;
  block.resize(pendingCount);
  std::size_t filled = 0;
  while (filled < pendingCount) {
    const std::size_t n = ReadAt(file_, std::span(block).subspan(filled), streamOffset_);
    if (n == 0) break;
    filled += n;
    streamOffset_ += n;
  }
  block.resize(filled);
  return block;
}

// Only a file this log holds is deleted: one that another program holds stays, and the
// new creation then fails on its lock; a stale one is emptied by the creation.
void CaptureLog::DeleteCaptureFile() {
  if (file_ < 0) return;
  CloseCaptureFile();
  ::unlink(path_.c_str());
}

void CaptureLog::Clear() {
  std::lock_guard lock(captureLock_);
  DeleteCaptureFile();
  CreateCaptureFile();
  streamOffset_ = 0;
  output_.ClearOutput();
}

SaveResult CaptureLog::Save(const std::filesystem::path& logPath) {
  std::lock_guard lock(captureLock_);
  const int logFile = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, kFileMode);
  if (logFile < 0) return MakeSaveResult(SaveOutcome::kOpenFailed, logPath);
  SaveResult result = CopyInto(logFile, logPath);
  if (::close(logFile) != 0 && result.outcome == SaveOutcome::kSaved) {
    result = MakeSaveResult(SaveOutcome::kWriteFailed, logPath);
  }
  if (result.outcome == SaveOutcome::kEmpty) ::unlink(logPath.c_str());
  return result;
}

// Copies the capture from offset 0 (pread: the append position is not moved) with the
// control bytes blanked. A read that ends early ends the copy with what was read.
SaveResult CaptureLog::CopyInto(int logFile, const std::filesystem::path& logPath) {
  const std::uint64_t length = SaveLength(file_);
  const std::unique_ptr<std::uint8_t[]> buffer(new (std::nothrow) std::uint8_t[kSaveChunkSize]);
  if (!buffer) return MakeSaveResult(SaveOutcome::kNoMemory, logPath);
  std::uint64_t copied = 0;
  while (copied < length) {
    const std::span chunk(buffer.get(), std::min<std::uint64_t>(kSaveChunkSize, length - copied));
    const std::span<std::uint8_t> read = chunk.first(ReadAt(file_, chunk, copied));
    if (read.empty()) break;
    BlankControlBytes(read);
    const WriteOutcome outcome = WriteAll(logFile, read);
    if (outcome.written < read.size()) return MakeSaveResult(SaveOutcome::kWriteFailed, logPath);
    copied += read.size();
  }
  return MakeSaveResult(copied == 0 ? SaveOutcome::kEmpty : SaveOutcome::kSaved, logPath);
}

void CaptureLog::CloseAndDelete() {
  std::lock_guard lock(captureLock_);
  DeleteCaptureFile();
}

bool CaptureLog::IsOpen() const {
  std::lock_guard lock(captureLock_);
  return file_ >= 0;
}

std::uint64_t CaptureLog::StreamOffset() const {
  std::lock_guard lock(captureLock_);
  return streamOffset_;
}

}  // namespace tavrin::terminal
