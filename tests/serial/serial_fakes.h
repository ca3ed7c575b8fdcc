// Test doubles for the serial suite: a pseudo-terminal pair, an in-memory device whose
// line state the test drives, a recording receive handler and an error sink that can
// be waited on. Every wait is bounded and woken by the event it waits for.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "serial/receive_handler.h"
#include "serial/serial_device.h"
#include "support/recorders.h"

namespace tavrin::serial::test {

using namespace std::chrono_literals;

constexpr auto kTestWait = std::chrono::seconds{5};  // upper bound of every wait here

// A pseudo-terminal: the test plays the target on the master side; the link opens the
// slave by its path.
class PseudoTerminal {
 public:
  PseudoTerminal() : master_(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC)) {
    if (master_ >= 0 && ::grantpt(master_) == 0 && ::unlockpt(master_) == 0) {
      std::array<char, 128> name{};
      if (::ptsname_r(master_, name.data(), name.size()) == 0) slavePath_ = name.data();
    }
    if (master_ >= 0) ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
  }
  ~PseudoTerminal() {
    if (master_ >= 0) ::close(master_);
  }
  PseudoTerminal(const PseudoTerminal&) = delete;
  PseudoTerminal& operator=(const PseudoTerminal&) = delete;

  bool Valid() const { return master_ >= 0 && !slavePath_.empty(); }
  // Closes the master side: the slave is hung up, as a port whose adapter went away.
  void HangUp() {
    if (master_ >= 0) ::close(master_);
    master_ = -1;
  }
  const std::string& SlavePath() const { return slavePath_; }
  int Master() const { return master_; }

  // Writes all bytes to the master side (the target sends them).
  bool Send(std::span<const std::uint8_t> bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t put = ::write(master_, bytes.data() + done, bytes.size() - done);
      if (put > 0) {
        done += static_cast<std::size_t>(put);
      } else if (put < 0 && errno == EAGAIN) {
        if (!WaitFor(POLLOUT)) return false;
      } else if (put < 0 && errno != EINTR) {
        return false;
      }
    }
    return true;
  }

  // Reads from the master side until `count` bytes have come (what the link wrote);
  // fewer when nothing more comes within the bound.
  std::vector<std::uint8_t> Receive(std::size_t count) {
    std::vector<std::uint8_t> bytes;
    std::array<std::uint8_t, 4096> chunk{};
    while (bytes.size() < count) {
      const ssize_t got =
          ::read(master_, chunk.data(), std::min(chunk.size(), count - bytes.size()));
      if (got > 0) {
        bytes.insert(bytes.end(), chunk.begin(), chunk.begin() + got);
      } else if (got < 0 && (errno == EAGAIN || errno == EIO)) {
        if (!WaitFor(POLLIN)) break;
      } else if (!(got < 0 && errno == EINTR)) {
        break;
      }
    }
    return bytes;
  }

  // Whether the slave side has written something the master can read.
  bool WaitReadable() { return WaitFor(POLLIN); }

 private:
  bool WaitFor(short events) {
    pollfd fd{master_, events, 0};
    const int ready =
        ::poll(&fd, 1, static_cast<int>(std::chrono::milliseconds(kTestWait).count()));
    return ready > 0 && (fd.revents & events) != 0;
  }

  int master_;
  std::string slavePath_;
};

// The state behind a FakeSerialDevice, shared with the test, which drives it: blocks to
// receive, line counters, modem lines, the write outcome; and what was written.
class FakeLine {
 public:
  FakeLine() : wake_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}
  ~FakeLine() { ::close(wake_); }
  FakeLine(const FakeLine&) = delete;
  FakeLine& operator=(const FakeLine&) = delete;

  void Receive(std::string bytes) {
    std::lock_guard lock(mutex_);
    incoming_.push_back(std::move(bytes));
    Wake();
  }
  void FailReads(int error) {
    std::lock_guard lock(mutex_);
    readError_ = error;
    Wake();
  }
  // Reads then wait for Release() alone and no longer see the stop signal.
  void IgnoreStop() {
    std::lock_guard lock(mutex_);
    ignoreStop_ = true;
  }
  void Release() {
    std::lock_guard lock(mutex_);
    released_ = true;
    changed_.notify_all();
    Wake();
  }
  void SetCounters(const LineCounters& counters) {
    std::lock_guard lock(mutex_);
    counters_ = counters;
    Wake();
  }
  void SetModemLines(const ModemLines& lines) {
    std::lock_guard lock(mutex_);
    lines_ = lines;
    Wake();
  }
  // Later looks at the modem lines or the counters fail with `error` (0: they work again).
  void FailModemLines(int error) {
    std::lock_guard lock(mutex_);
    linesError_ = error;
  }
  void FailCounters(int error) {
    std::lock_guard lock(mutex_);
    countersError_ = error;
  }
  void SetInputQueued(std::size_t count) {
    std::lock_guard lock(mutex_);
    inputQueued_ = count;
  }
  // The outcome of every later write (the bytes are still recorded when it is kOk).
  void SetWriteResult(std::optional<IoResult> result) {
    std::lock_guard lock(mutex_);
    writeResult_ = result;
  }
  // Writes then wait for the stop signal and give up.
  void HoldWrites() {
    std::lock_guard lock(mutex_);
    holdWrites_ = true;
  }

  std::string Written() const {
    std::lock_guard lock(mutex_);
    return written_;
  }
  bool WaitForWrites(int count) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, kTestWait, [&] { return writes_ >= count; });
  }
  // Waits until at least `size` bytes have been written in all.
  bool WaitForWritten(std::size_t size) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, kTestWait, [&] { return written_.size() >= size; });
  }
  // Waits until the link has begun `count` reads.
  bool WaitForReads(int count) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, kTestWait, [&] { return reads_ >= count; });
  }
  bool DeviceOpen() const {
    std::lock_guard lock(mutex_);
    return devicesOpen_ > 0;
  }
  bool WaitForDeviceClosed() {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, kTestWait, [&] { return devicesOpen_ == 0; });
  }

 private:
  friend class FakeSerialDevice;

  void Wake() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto put = ::write(wake_, &one, sizeof one);
  }
  void Drain() {
    std::uint64_t count = 0;
    [[maybe_unused]] const auto got = ::read(wake_, &count, sizeof count);
  }

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  int wake_;
  std::deque<std::string> incoming_;
  int readError_ = 0;
  bool ignoreStop_ = false;
  bool released_ = false;
  bool holdWrites_ = false;
  std::optional<LineCounters> counters_;
  std::optional<ModemLines> lines_;
  int countersError_ = 0;
  int linesError_ = 0;
  std::size_t inputQueued_ = 0;
  std::optional<IoResult> writeResult_;
  std::string written_;
  int writes_ = 0;
  int reads_ = 0;
  int devicesOpen_ = 0;
};

class FakeSerialDevice final : public SerialDevice {
 public:
  explicit FakeSerialDevice(std::shared_ptr<FakeLine> line) : line_(std::move(line)) {
    std::lock_guard lock(line_->mutex_);
    ++line_->devicesOpen_;
  }
  ~FakeSerialDevice() override {
    std::lock_guard lock(line_->mutex_);
    --line_->devicesOpen_;
    line_->changed_.notify_all();
  }

  // Returns a block when one is queued; a wake-up without one ends the read quietly
  // (0 bytes), so that the link looks at the line state the test has changed.
  IoResult Read(std::span<std::uint8_t> into, std::chrono::milliseconds timeout,
                StopFd stop) override {
    if (auto result = TakeIncoming(into)) return *result;
    bool ignoreStop = false;
    {
      std::lock_guard lock(line_->mutex_);
      ignoreStop = line_->ignoreStop_;
      ++line_->reads_;
      line_->changed_.notify_all();
    }
    std::array<pollfd, 2> fds{pollfd{line_->wake_, POLLIN, 0}, pollfd{stop, POLLIN, 0}};
    const auto wait = ignoreStop ? std::chrono::milliseconds(kTestWait) : timeout;
    const int ready = ::poll(fds.data(), ignoreStop ? 1 : 2, static_cast<int>(wait.count()));
    if (!ignoreStop && fds[1].revents != 0) return {IoStatus::kStopped, 0, 0};
    if (ready == 0) return {IoStatus::kTimeout, 0, 0};
    line_->Drain();
    if (auto result = TakeIncoming(into)) return *result;
    return {IoStatus::kOk, 0, 0};
  }

  IoResult Write(std::span<const std::uint8_t> bytes, std::chrono::milliseconds,
                 StopFd stop) override {
    std::unique_lock lock(line_->mutex_);
    if (line_->holdWrites_ && !line_->released_) {
      ++line_->writes_;
      line_->changed_.notify_all();
      lock.unlock();
      pollfd fd{stop, POLLIN, 0};
      ::poll(&fd, 1, static_cast<int>(std::chrono::milliseconds(kTestWait).count()));
      return {IoStatus::kStopped, 0, 0};
    }
    IoResult result{IoStatus::kOk, bytes.size(), 0};
    if (line_->writeResult_) result = *line_->writeResult_;
    if (result.status == IoStatus::kOk) {
      line_->written_.append(bytes.begin(), bytes.begin() + static_cast<long>(result.count));
    }
    ++line_->writes_;
    line_->changed_.notify_all();
    return result;
  }

  DeviceResult PurgeReceive() override { return DeviceResult::Ok(); }
  DeviceResult PurgeBoth() override { return DeviceResult::Ok(); }
  DeviceResult SetDtr(bool) override { return DeviceResult::Ok(); }
  DeviceResult SetRts(bool) override { return DeviceResult::Ok(); }
  LineReading<ModemLines> GetModemLines() override {
    std::lock_guard lock(line_->mutex_);
    if (line_->linesError_ != 0) return LineReading<ModemLines>::Failed(line_->linesError_);
    return {line_->lines_};
  }
  LineReading<LineCounters> GetLineCounters() override {
    std::lock_guard lock(line_->mutex_);
    if (line_->countersError_ != 0) return LineReading<LineCounters>::Failed(line_->countersError_);
    return {line_->counters_};
  }
  std::size_t InputQueued() override {
    std::lock_guard lock(line_->mutex_);
    return line_->inputQueued_;
  }
  std::size_t OutputQueued() override { return 0; }

 private:
  std::optional<IoResult> TakeIncoming(std::span<std::uint8_t> into) {
    std::lock_guard lock(line_->mutex_);
    if (line_->readError_ != 0) return IoResult{IoStatus::kFailed, 0, line_->readError_};
    if (line_->ignoreStop_ && line_->released_) return IoResult{IoStatus::kStopped, 0, 0};
    if (line_->incoming_.empty()) return std::nullopt;
    const std::string block = std::move(line_->incoming_.front());
    line_->incoming_.pop_front();
    const std::size_t count = std::min(block.size(), into.size());
    std::copy_n(block.begin(), count, into.begin());
    return IoResult{IoStatus::kOk, count, 0};
  }

  std::shared_ptr<FakeLine> line_;
};

// OutputABuffer's blocks, in order.
class RecordingReceiver : public ReceiveHandler {
 public:
  void OutputABuffer(std::span<std::uint8_t> block) override {
    {
      std::lock_guard lock(mutex_);
      blocks_.emplace_back(block.begin(), block.end());
      total_ += block.size();
    }
    changed_.notify_all();
  }
  bool WaitForBytes(std::size_t count) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, kTestWait, [&] { return total_ >= count; });
  }
  std::vector<std::string> Blocks() const {
    std::lock_guard lock(mutex_);
    return blocks_;
  }

 private:
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::string> blocks_;
  std::size_t total_ = 0;
};

// A recording error sink whose end of the run can be waited for.
class WaitableErrorSink : public tavrin::test::RecordingErrorSink {
 public:
  void EndProcess() override {
    RecordingErrorSink::EndProcess();
    std::lock_guard lock(mutex_);
    ended_ = true;
    changed_.notify_all();
  }
  bool WaitForEndProcess() {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, kTestWait, [&] { return ended_; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool ended_ = false;
};

}  // namespace tavrin::serial::test
