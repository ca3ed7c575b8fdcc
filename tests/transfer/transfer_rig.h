// A whole transfer against the simulated target over an in-memory line: the real
// SerialLink (reader and writer threads), the transfer thread, the receive dispatcher,
// and recorders in place of the output, the panel and the clock.
#pragma once

#include <atomic>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "serial/error_reporter.h"
#include "serial/serial_link.h"
#include "serial/status_log.h"
#include "sim/memory_link.h"
#include "sim/noisy_stream.h"
#include "sim/paced_stream.h"
#include "sim/target.h"
#include "support/recorders.h"
#include "terminal/capture_sink.h"
#include "transfer/receive_dispatcher.h"
#include "transfer/transfer.h"

namespace tavrin::test {

using Bytes = std::vector<std::uint8_t>;

class RecordingCapture final : public terminal::CaptureSink {
 public:
  struct Block {
    std::string text;
    terminal::ColourMark colour;
  };
  void WriteToCapture(std::span<const std::uint8_t> bytes, terminal::ColourMark colour) override;
  std::vector<Block> Blocks() const;
  std::string Text() const;

 private:
  mutable std::mutex mutex_;
  std::vector<Block> blocks_;
};

// A clock the test sets by hand, or one that runs `speed` times faster than real time
// (so that 15-second deadlines pass in a fraction of a second).
class FakeClock final : public transfer::Clock {
 public:
  int SecondOfHour() override;
  void Set(int secondOfHour) { now_ = secondOfHour; }
  void RunFaster(int speed);

 private:
  std::atomic<int> now_{100};
  std::atomic<int> speed_{0};
  std::chrono::steady_clock::time_point since_{};
};

// Damage on the line, in both directions, from one seed.
struct LineNoise {
  sim::NoiseRates rates;
  std::uint64_t seed = 1;
};

class RecordingView final : public transfer::TransferView {
 public:
  void ShowMessage(std::string caption, std::string text, transfer::MessageIcon icon) override;
  void ResultReported(int code) override;
  void RegionCrcMismatch(int region) override;
  void RegionStored(int region, std::uint64_t offset, std::uint32_t size) override;
  void RefreshTransferState() override;
  void AskDownloadSavePath(transfer::DownloadSaveQuestion question) override {
    question.Answer(savePath);
  }

  std::vector<int> Results() const;
  std::vector<std::string> Messages() const;
  std::vector<int> CrcMismatches() const;
  // Where each stored region's data are in the downloaded file, in the order told.
  struct StoredRegion {
    int region;
    std::uint64_t offset;
    std::uint32_t size;
    bool operator==(const StoredRegion&) const = default;
  };
  std::vector<StoredRegion> Stored() const;
  // Waits (bounded) until `count` results have been reported.
  bool WaitForResults(std::size_t count, std::chrono::milliseconds timeout) const;
  // Waits (bounded) until the transfer-state refresh has been called `count` times (the
  // first comes when the transfer is running and has noted its first deadline).
  bool WaitForRefreshes(std::size_t count, std::chrono::milliseconds timeout) const;

  std::optional<std::filesystem::path> savePath;

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::vector<int> results_;
  std::vector<std::string> messages_;
  std::vector<int> crcMismatches_;
  std::vector<StoredRegion> stored_;
  std::size_t refreshes_ = 0;
};

// One byte changed in one write, as line noise would change it: the `nth` write of
// `size` bytes has its byte at `offset` XORed with `mask`.
struct WriteDamage {
  std::size_t size = 0;
  std::size_t nth = 0;
  std::size_t offset = 0;
  std::uint8_t mask = 0;
};

// The transfer's port: WriterGeneric of the link, optionally cut short or damaged on one
// write. Set both before the transfer starts.
class RigPort final : public transfer::TransferPort {
 public:
  std::size_t Write(std::span<const std::uint8_t> bytes, const serial::StopSignal& cancel) override;
  serial::DeviceResult PurgeReceive() override;

  serial::SerialLink* link = nullptr;
  std::atomic<std::size_t> frameToCut{0};  // the n-th write longer than 1 byte is cut (0: none)
  WriteDamage damage;

 private:
  std::atomic<std::size_t> frameWrites_{0};
  std::atomic<std::size_t> damageCandidates_{0};
};

// What the target sends reaches the PC in groups of 1..maxGroup bytes at `baud`, as from a
// UART without a deep FIFO.
struct LineGroups {
  unsigned baud = 921600;
  std::size_t maxGroup = 4;
};

// Counts the blocks the reader hands on, on their way to the receive dispatcher.
class CountingReceiver final : public serial::ReceiveHandler {
 public:
  explicit CountingReceiver(serial::ReceiveHandler& inner) : inner_(inner) {}
  void OutputABuffer(std::span<std::uint8_t> block) override {
    ++blocks_;
    inner_.OutputABuffer(block);
  }
  std::size_t Blocks() const { return blocks_.load(); }

 private:
  serial::ReceiveHandler& inner_;
  std::atomic<std::size_t> blocks_{0};
};

class TransferRig {
 public:
  explicit TransferRig(sim::TargetConfig config = {}, std::optional<LineNoise> noise = {},
                       std::optional<LineGroups> groups = {});
  ~TransferRig();

  // Runs an upload to its end (bounded); returns the results reported.
  std::vector<int> Upload(const std::filesystem::path& urt);
  // Waits for the transfer started by hand to end (bounded).
  bool WaitForEnd();
  // Waits (bounded) until the target has taken `count` frames of the packet phase: the
  // PC reports success once the last frame is written, before the target has read it.
  bool WaitForTargetFrames(std::size_t count);

  std::filesystem::path Dir() const { return dir_; }

  sim::MemoryLink line;
  std::unique_ptr<sim::NoisyStream> noisy;
  sim::SteadyPaceClock paceClock;
  std::unique_ptr<sim::PacedStream> paced;
  sim::Target target;
  RecordingErrorSink errors;
  serial::ErrorReporter reporter{errors};
  serial::StatusLog status;
  RecordingCapture capture;
  RecordingView view;
  FakeClock clock;
  RigPort port;
  transfer::Transfer transfer{{port, view, capture, clock, errors, status}};
  transfer::ReceiveDispatcher dispatcher{transfer, capture, errors};
  CountingReceiver received{dispatcher};
  std::unique_ptr<serial::SerialLink> link;

 private:
  sim::Stream& TargetStream(const std::optional<LineNoise>& noise,
                            const std::optional<LineGroups>& groups);

  std::filesystem::path dir_;
};

// A URT file with the default identity of the simulated target and `frames`.
void WriteUrt(const std::filesystem::path& path, const std::vector<Bytes>& frames,
              std::uint32_t packetCount);
inline void WriteUrt(const std::filesystem::path& path, const std::vector<Bytes>& frames) {
  WriteUrt(path, frames, static_cast<std::uint32_t>(frames.size()));
}
// A frame whose payload is `size` bytes derived from `seed`.
Bytes DataFrame(std::size_t payloadSize, std::uint8_t seed);

}  // namespace tavrin::test
