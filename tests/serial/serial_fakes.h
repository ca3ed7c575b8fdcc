// Test doubles of the serial link (FakeLine and FakeSerialDevice serve other suites too):
// a pseudo-terminal pair, an in-memory device whose line state the test drives, a
// recording receive handler and an error sink whose ends of the run can be waited for.
// Every wait is bounded and woken by the event it waits for.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "serial/receive_handler.h"
#include "serial/serial_device.h"
#include "support/cue.h"
#include "support/recorders.h"

namespace tavrin::serial::test {

constexpr auto kTestWait = std::chrono::seconds{5};  // upper bound of every wait here

inline bool WaitFd(int fd, short events) {
  pollfd ready{fd, events, 0};
  const auto limit = std::chrono::milliseconds(kTestWait).count();
  return ::poll(&ready, 1, static_cast<int>(limit)) > 0 && (ready.revents & events) != 0;
}

// A pseudo-terminal: the test plays the target on the master side; the link opens the
// slave by its path.
class PseudoTerminal {
 public:
  PseudoTerminal() : master_(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK)) {
    std::array<char, 128> name{};
    if (master_ >= 0 && ::grantpt(master_) == 0 && ::unlockpt(master_) == 0 &&
        ::ptsname_r(master_, name.data(), name.size()) == 0) {
      slavePath_ = name.data();
    }
  }
  ~PseudoTerminal() { HangUp(); }
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

  // Writes all of `text` to the master side (the target sends it).
  bool Send(std::string_view text) {
    while (!text.empty()) {
      const ssize_t put = ::write(master_, text.data(), text.size());
      if (put > 0) {
        text.remove_prefix(static_cast<std::size_t>(put));
      } else if (errno != EAGAIN || !WaitFd(master_, POLLOUT)) {
        return false;
      }
    }
    return true;
  }

  // Reads from the master side until `count` bytes have come (what the link wrote);
  // fewer when nothing more comes within the bound.
  std::string Receive(std::size_t count) {
    std::string text;
    std::array<char, 4096> chunk{};
    while (text.size() < count && WaitFd(master_, POLLIN)) {
      const ssize_t got =
          ::read(master_, chunk.data(), std::min(chunk.size(), count - text.size()));
      if (got <= 0 && errno != EAGAIN) break;
      if (got > 0) text.append(chunk.data(), static_cast<std::size_t>(got));
    }
    return text;
  }

 private:
  int master_;
  std::string slavePath_;
};

// What a FakeSerialDevice receives, reports and does, as the test sets it; and what the
// link did with it.
struct LineState {
  std::deque<std::string> incoming;     // blocks to receive, in order
  int readError = 0;                    // reads fail with it
  bool holdWrites = false;              // writes wait for the stop signal and give up
  bool ignoreStop = false;              // reads wait out kTestWait, deaf to the stop signal
  std::optional<IoResult> writeResult;  // of every write (the bytes are recorded when kOk)
  std::optional<LineCounters> counters;
  std::optional<ModemLines> lines;
  int countersError = 0;  // looks at the counters fail with it
  int linesError = 0;     // looks at the modem lines fail with it
  std::size_t inputQueued = 0;
  std::string written;
  std::vector<std::chrono::milliseconds> writeLimits;  // the time each write was given
  int writes = 0;
  int reads = 0;  // reads that began to wait
  int devicesOpen = 0;
};

// The line behind the FakeSerialDevices of one test, shared with the test, which drives it.
class FakeLine {
 private:
  friend class FakeSerialDevice;

  // Runs `change` on the state under the lock; whoever waits looks again once it is done.
  template <typename Change>
  auto Update(const Change& change) {
    std::lock_guard lock(mutex_);
    changed_.notify_all();
    return change(state_);
  }

 public:
  FakeLine() : wake_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}
  ~FakeLine() { ::close(wake_); }
  FakeLine(const FakeLine&) = delete;
  FakeLine& operator=(const FakeLine&) = delete;

  // Changes the state and wakes a read that waits, so that the link looks at it again.
  void Change(const std::function<void(LineState&)>& change) {
    Update(change);
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto put = ::write(wake_, &one, sizeof one);
  }
  void Receive(std::string block) {
    Change([&](LineState& state) { state.incoming.push_back(std::move(block)); });
  }
  void FailReads(int error) {
    Change([&](LineState& state) { state.readError = error; });
  }
  void HoldWrites() {
    Change([](LineState& state) { state.holdWrites = true; });
  }
  void IgnoreStop() {
    Change([](LineState& state) { state.ignoreStop = true; });
  }
  // Waits until `done` holds of the state.
  bool WaitUntil(const std::function<bool(const LineState&)>& done) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, kTestWait, [&] { return done(state_); });
  }
  bool WaitForWrites(int count) {
    return WaitUntil([&](const LineState& state) { return state.writes >= count; });
  }
  bool WaitForWritten(std::size_t size) {
    return WaitUntil([&](const LineState& state) { return state.written.size() >= size; });
  }
  LineState State() const {
    std::lock_guard lock(mutex_);
    return state_;
  }
  std::string Written() const { return State().written; }

 private:
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  int wake_;
  LineState state_;
};

class FakeSerialDevice final : public SerialDevice {
 public:
  explicit FakeSerialDevice(std::shared_ptr<FakeLine> line) : line_(std::move(line)) {
    line_->Update([](LineState& state) { ++state.devicesOpen; });
  }
  ~FakeSerialDevice() override {
    line_->Update([](LineState& state) { --state.devicesOpen; });
  }

  // Returns a block when one is queued; a wake-up without one ends the read quietly
  // (0 bytes), so that the link looks at the line state the test has changed.
  IoResult Read(std::span<std::uint8_t> into, std::chrono::milliseconds timeout,
                StopFd stop) override {
    if (auto result = TakeIncoming(into)) return *result;
    const bool deaf = line_->Update([](LineState& state) {
      ++state.reads;
      return state.ignoreStop;
    });
    std::array<pollfd, 2> fds{pollfd{line_->wake_, POLLIN, 0}, pollfd{stop, POLLIN, 0}};
    if (deaf) timeout = std::chrono::duration_cast<std::chrono::milliseconds>(kTestWait);
    const int ready = ::poll(fds.data(), deaf ? 1 : fds.size(), static_cast<int>(timeout.count()));
    if (fds[1].revents != 0) return {IoStatus::kStopped, 0, 0};
    if (ready == 0) return {IoStatus::kTimeout, 0, 0};
    std::uint64_t count = 0;
    [[maybe_unused]] const auto got = ::read(line_->wake_, &count, sizeof count);
    return TakeIncoming(into).value_or(IoResult{IoStatus::kOk, 0, 0});
  }

  IoResult Write(std::span<const std::uint8_t> bytes, std::chrono::milliseconds limit,
                 StopFd stop) override {
    const auto result = line_->Update([&](LineState& state) -> std::optional<IoResult> {
      ++state.writes;
      state.writeLimits.push_back(limit);
      if (state.holdWrites) return std::nullopt;
      const IoResult outcome = state.writeResult.value_or(IoResult{IoStatus::kOk, bytes.size()});
      if (outcome.status == IoStatus::kOk) {
        state.written.append(bytes.begin(), bytes.begin() + static_cast<long>(outcome.count));
      }
      return outcome;
    });
    if (result) return *result;
    WaitFd(stop, POLLIN);
    return {IoStatus::kStopped, 0, 0};
  }

  DeviceResult PurgeReceive() override { return DeviceResult::Ok(); }
  DeviceResult PurgeBoth() override { return DeviceResult::Ok(); }
  DeviceResult SetDtr(bool) override { return DeviceResult::Ok(); }
  DeviceResult SetRts(bool) override { return DeviceResult::Ok(); }
  LineReading<ModemLines> GetModemLines() override {
    const LineState state = line_->State();
    if (state.linesError != 0) return LineReading<ModemLines>::Failed(state.linesError);
    return {state.lines};
  }
  LineReading<LineCounters> GetLineCounters() override {
    const LineState state = line_->State();
    if (state.countersError != 0) return LineReading<LineCounters>::Failed(state.countersError);
    return {state.counters};
  }
  std::size_t InputQueued() override { return line_->State().inputQueued; }
  std::size_t OutputQueued() override { return 0; }

 private:
  std::optional<IoResult> TakeIncoming(std::span<std::uint8_t> into) {
    return line_->Update([&](LineState& state) -> std::optional<IoResult> {
      if (state.readError != 0) return IoResult{IoStatus::kFailed, 0, state.readError};
      if (state.incoming.empty()) return std::nullopt;
      const std::string block = std::move(state.incoming.front());
      state.incoming.pop_front();
      const std::size_t count = std::min(block.size(), into.size());
      std::copy_n(block.begin(), count, into.begin());
      return IoResult{IoStatus::kOk, count, 0};
    });
  }

  std::shared_ptr<FakeLine> line_;
};

// What OutputABuffer was given, joined, and the largest block; OutputABuffer stops at
// `hold` while that is armed, as a busy receiver would keep the reader/status thread.
class RecordingReceiver : public ReceiveHandler {
 public:
  void OutputABuffer(std::span<std::uint8_t> block) override {
    {
      std::lock_guard lock(mutex_);
      received_.append(block.begin(), block.end());
      largestBlock_ = std::max(largestBlock_, block.size());
    }
    changed_.notify_all();
    hold.Hold();
  }
  std::size_t BytesStillComing() const override { return 0; }
  // Waits until what was received contains `text`.
  bool WaitFor(const std::string& text) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, kTestWait,
                             [&] { return received_.find(text) != std::string::npos; });
  }
  std::string Received() const {
    std::lock_guard lock(mutex_);
    return received_;
  }
  std::size_t LargestBlock() const {
    std::lock_guard lock(mutex_);
    return largestBlock_;
  }
  tavrin::test::Cue hold;

 private:
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::string received_;
  std::size_t largestBlock_ = 0;
};

// A recording error sink whose ends of the run can be waited for; the first end stops at
// `firstEnd` while that is armed, as a window's would while its UI thread is busy.
class WaitableErrorSink : public tavrin::test::RecordingErrorSink {
 public:
  void EndProcess() override {
    RecordingErrorSink::EndProcess();
    int ends = 0;
    {
      std::lock_guard lock(mutex_);
      ends = ++ends_;
    }
    changed_.notify_all();
    if (ends == 1) firstEnd.Hold();
  }
  bool WaitForEnds(int count) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, kTestWait, [&] { return ends_ >= count; });
  }
  tavrin::test::Cue firstEnd;

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  int ends_ = 0;
};

}  // namespace tavrin::serial::test
