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
  HeldReports reports;
  {
    std::lock_guard lock(captureLock_);
    CreateCaptureFile(reports);
    PostCaptureFile();
  }
  Report(reports);
  DeliverOutput();
}

CaptureLog::~CaptureLog() {
  std::lock_guard lock(captureLock_);
  CloseCaptureFile();
}

// Creates the file empty, replacing an older one, for reading and appending. A symbolic
// link planted in its place is not followed (the open fails), so nothing is ever written
// through it. The exclusive lock stands in for "others may only read": a second program
// sharing the temporary directory cannot take over (or empty) a capture in use.
void CaptureLog::CreateCaptureFile(HeldReports& reports) {
  const int fd =
      ::open(path_.c_str(), O_RDWR | O_CREAT | O_APPEND | O_NOFOLLOW | O_CLOEXEC, kFileMode);
  if (fd < 0) {
    reports.push_back({kCreateCaptureStep, errno});
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
    reports.push_back({kCreateCaptureStep, error});
    return;
  }
  file_ = fd;
}

// Under the capture lock, right after the file was created: the reader is opened on the
// file the log holds (not on whatever the path may name later) and queued ahead of the
// file's first block.
void CaptureLog::PostCaptureFile() {
  OutputCall call;
  call.kind = OutputCall::Kind::kUseFile;
  if (file_ >= 0) call.file = CaptureReader::Open(path_, file_);
  Post(std::move(call));
}

void CaptureLog::CloseCaptureFile() {
  if (file_ >= 0) ::close(file_);
  file_ = -1;
}

void CaptureLog::WriteToCapture(std::span<const std::uint8_t> bytes, ColourMark colour) {
  HeldReports reports;
  {
    std::lock_guard lock(captureLock_);
    Append(bytes, reports);
    std::vector<std::uint8_t> block = ReadPending(bytes.size());
    if (!block.empty()) Post({OutputCall::Kind::kShow, std::move(block), colour, nullptr});
  }
  Report(reports);
  DeliverOutput();
}

// The file is opened for appending, so every write lands at its current end.
void CaptureLog::Append(std::span<const std::uint8_t> bytes, HeldReports& reports) {
  const WriteOutcome outcome = file_ >= 0 ? WriteAll(file_, bytes) : WriteOutcome{0, EBADF};
  if (outcome.error != 0) reports.push_back({kCaptureWriteStep, outcome.error});
  if (outcome.written < bytes.size()) {
    reports.push_back({kCaptureShortWriteStep, outcome.error != 0 ? outcome.error : EIO});
  }
}

// Under the capture lock, so the outbox keeps the order of the file.
void CaptureLog::Post(OutputCall call) {
  std::lock_guard lock(outboxMutex_);
  outbox_.push_back(std::move(call));
}

void CaptureLog::Report(const HeldReports& reports) {
  for (const HeldReport& report : reports) errors_.ReportError(report.step, report.error);
}

// Hands the outbox to the sink, oldest first, with no lock held during a call. A thread
// that finds another one delivering leaves its calls to it: that one goes on until the
// outbox is empty, so nothing waits there once every thread has returned.
void CaptureLog::DeliverOutput() {
  {
    std::lock_guard lock(outboxMutex_);
    if (delivering_) return;
    delivering_ = true;
  }
  for (;;) {
    std::deque<OutputCall> calls;
    {
      std::lock_guard lock(outboxMutex_);
      if (outbox_.empty()) {
        delivering_ = false;
        return;
      }
      calls.swap(outbox_);
    }
    for (OutputCall& call : calls) {
      switch (call.kind) {
        case OutputCall::Kind::kClear:
          output_.ClearOutput();
          break;
        case OutputCall::Kind::kUseFile:
          output_.UseCaptureFile(std::move(call.file));
          break;
        case OutputCall::Kind::kShow:
          output_.Show(call.bytes, call.colour);
          break;
      }
    }
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
  HeldReports reports;
  {
    std::lock_guard lock(captureLock_);
    DeleteCaptureFile();
    CreateCaptureFile(reports);
    streamOffset_ = 0;
    Post({OutputCall::Kind::kClear, {}, ColourMark::kNone, nullptr});
    PostCaptureFile();
  }
  Report(reports);
  DeliverOutput();
}

SaveResult CaptureLog::Save(const std::filesystem::path& logPath) {
  const int logFile = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, kFileMode);
  if (logFile < 0) return MakeSaveResult(SaveOutcome::kOpenFailed, logPath);
  // The length and a handle of Save's own, under the lock; the copy outside it. Appends
  // only add past the length, and the handle keeps the file readable whatever happens to
  // the log's own.
  std::uint64_t length = 0;
  int capture = -1;
  {
    std::lock_guard lock(captureLock_);
    length = SaveLength(file_);
    if (file_ >= 0) capture = ::fcntl(file_, F_DUPFD_CLOEXEC, 0);
  }
  // Without a handle (descriptors exhausted) nothing can be copied: a shortage like a
  // missing copy buffer.
  SaveResult result = capture >= 0 || length == 0 ? CopyInto(capture, length, logFile, logPath)
                                                  : MakeSaveResult(SaveOutcome::kNoMemory, logPath);
  if (capture >= 0) ::close(capture);
  if (::close(logFile) != 0 && result.outcome == SaveOutcome::kSaved) {
    result = MakeSaveResult(SaveOutcome::kWriteFailed, logPath);
  }
  if (result.outcome == SaveOutcome::kEmpty) ::unlink(logPath.c_str());
  return result;
}

// Copies `length` bytes of the capture from offset 0 (pread: no file position is moved)
// with the control bytes blanked. A read that ends early ends the copy with what was read.
SaveResult CaptureLog::CopyInto(int capture, std::uint64_t length, int logFile,
                                const std::filesystem::path& logPath) {
  const std::unique_ptr<std::uint8_t[]> buffer(new (std::nothrow) std::uint8_t[kSaveChunkSize]);
  if (!buffer) return MakeSaveResult(SaveOutcome::kNoMemory, logPath);
  std::uint64_t copied = 0;
  while (copied < length) {
    const std::span chunk(buffer.get(), std::min<std::uint64_t>(kSaveChunkSize, length - copied));
    const std::span<std::uint8_t> read = chunk.first(ReadAt(capture, chunk, copied));
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
