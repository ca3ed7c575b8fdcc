// A whole transfer against the simulated target over an in-memory line, with recorders
// for the host; the core's tests use its files and fakes too.
#pragma once

#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <tuple>
#include <vector>

#include "serial/com_test.h"
#include "serial/error_reporter.h"
#include "serial/serial_link.h"
#include "serial/status_log.h"
#include "sim/memory_link.h"
#include "sim/noisy_stream.h"
#include "sim/paced_stream.h"
#include "sim/target.h"
#include "support/cue.h"
#include "support/recorders.h"
#include "support/temp_files.h"
#include "terminal/capture_sink.h"
#include "transfer/receive_dispatcher.h"
#include "transfer/transfer.h"

namespace tavrin::test {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

// What fakes record from other threads: changed under a lock, copied out, waited for.
template <typename State>
class Recorded {
 public:
  template <typename F>
  void Change(F change) {
    {
      std::lock_guard lock(mutex_);
      change(state_);
    }
    changed_.notify_all();
  }
  State Get() const {
    std::lock_guard lock(mutex_);
    return state_;
  }
  template <typename P>
  bool WaitFor(P done, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return done(state_); });
  }

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  State state_{};
};

class RecordingCapture final : public terminal::CaptureSink, public RecordingOutputSink {
 public:
  void WriteToCapture(std::span<const std::uint8_t> bytes, terminal::ColourMark colour) override {
    Show(bytes, colour);
  }
};

// A clock set by hand, or running `speed` times faster than real time.
class FakeClock final : public transfer::Clock {
 public:
  int SecondOfHour() override {
    const auto elapsed = (std::chrono::steady_clock::now() - start_) / 1ms;
    return static_cast<int>((now + elapsed * speed / 1000) % 3600);
  }

  std::atomic<int> now{100};
  std::atomic<int> speed{0};

 private:
  const std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

// The window: the send indicator and message boxes stop on cue; the save question is held.
class RecordingView final : public transfer::TransferView, public serial::ComTestView {
 public:
  using StoredRegion = std::tuple<int, std::uint64_t, std::uint32_t>;  // region, offset, size
  struct Seen {
    std::vector<int> results;
    std::vector<std::string> messages;  // caption|text
    std::vector<std::filesystem::path> fileNames;
    std::vector<int> crcMismatches;
    std::vector<StoredRegion> stored;  // where each region's data went in the downloaded file
    std::size_t refreshes = 0;
    // The calls that set the window's controls, in order: "refresh", "idle", "comtest",
    // "label" (progress label hidden) and "name:" with the file-name field's new text.
    std::vector<std::string> controls;
    std::optional<transfer::DownloadSaveQuestion> question;  // held, not taken yet
  };

  void ShowReceived(std::vector<std::uint8_t>) override {}  // the COM test's echo
  void SetSendIndicator(bool shown) override {
    if (shown) sendIndicator.Hold();
  }
  void SetFileName(std::filesystem::path path) override {
    seen.Change([&](Seen& s) {
      s.fileNames.push_back(path);
      s.controls.push_back("name:" + path.filename().string());
    });
  }
  void TransferControlsIdle() override { Control("idle"); }
  void OfferComPortTesting() override { Control("comtest"); }
  void HideProgressLabel() override { Control("label"); }
  void ShowMessage(std::string caption, std::string text, transfer::MessageIcon) override {
    seen.Change([&](Seen& s) { s.messages.push_back(caption + "|" + text); });
    message.Hold();
  }
  void ResultReported(int code) override {
    seen.Change([&](Seen& s) { s.results.push_back(code); });
  }
  void RegionCrcMismatch(int region) override {
    seen.Change([&](Seen& s) { s.crcMismatches.push_back(region); });
  }
  void RegionStored(int region, std::uint64_t offset, std::uint32_t size) override {
    seen.Change([&](Seen& s) { s.stored.push_back({region, offset, size}); });
  }
  void RefreshTransferState() override {
    seen.Change([](Seen& s) {
      ++s.refreshes;
      s.controls.push_back("refresh");
    });
  }
  void Control(const char* call) {
    seen.Change([&](Seen& s) { s.controls.push_back(call); });
  }
  void AskDownloadSavePath(transfer::DownloadSaveQuestion question) override {
    if (!holdQuestion) return question.Answer(savePath);
    seen.Change([&](Seen& s) { s.question = std::move(question); });
  }

  std::vector<int> Results() const { return seen.Get().results; }
  bool WaitForResults(std::size_t count, std::chrono::milliseconds timeout) const {
    return seen.WaitFor([&](const Seen& s) { return s.results.size() >= count; }, timeout);
  }
  std::optional<transfer::DownloadSaveQuestion> WaitForQuestion() {
    std::optional<transfer::DownloadSaveQuestion> question;
    seen.WaitFor([](const Seen& s) { return s.question.has_value(); }, kCueWait);
    seen.Change([&](Seen& s) { question = std::exchange(s.question, std::nullopt); });
    return question;
  }

  Recorded<Seen> seen;
  Cue sendIndicator;
  Cue message;
  std::optional<std::filesystem::path> savePath;  // the answer given at once
  bool holdQuestion = false;                      // set before the download starts
};

// The `nth` write of `size` bytes is cut in half, or has byte `offset` XORed with `mask`.
struct WriteDamage {
  std::size_t size = 0;
  std::size_t nth = 0;
  bool cut = false;
  std::size_t offset = 0;
  std::uint8_t mask = 0;
};

// The PC end of the line, counting reads with bytes. The gated write that `hold` matches
// waits for its stop, then is abandoned: a target that stops taking bytes.
class GatedDevice final : public serial::SerialDevice {
 public:
  struct Gate {
    std::function<bool(std::span<const std::uint8_t>)> hold;
    bool held = false;
  };
  GatedDevice(serial::SerialDevice& inner, Recorded<Gate>& gate) : inner_(inner), gate_(gate) {}
  serial::IoResult Read(std::span<std::uint8_t> into, std::chrono::milliseconds timeout,
                        serial::StopFd stop) override {
    const auto result = inner_.Read(into, timeout, stop);
    if (result.count > 0) ++reads;
    return result;
  }
  serial::IoResult Write(std::span<const std::uint8_t> bytes, std::chrono::milliseconds timeout,
                         serial::StopFd stop) override;
  serial::DeviceResult PurgeReceive() override { return inner_.PurgeReceive(); }
  serial::DeviceResult PurgeBoth() override { return inner_.PurgeBoth(); }
  serial::DeviceResult SetDtr(bool) override { return serial::DeviceResult::Ok(); }
  serial::DeviceResult SetRts(bool) override { return serial::DeviceResult::Ok(); }
  serial::LineReading<serial::ModemLines> GetModemLines() override { return {}; }
  serial::LineReading<serial::LineCounters> GetLineCounters() override { return {}; }
  std::size_t InputQueued() override { return inner_.InputQueued(); }
  std::size_t OutputQueued() override { return inner_.OutputQueued(); }

  std::atomic<std::size_t> reads{0};

 private:
  serial::SerialDevice& inner_;
  Recorded<Gate>& gate_;
};

// The transfer's port is the link's WriterGeneric, with `damage` (set before the start).
class TransferRig final : public transfer::TransferPort {
 public:
  // `noise` damages the line both ways, seeded with the memory seed; with `maxGroup`, what
  // the target sends reaches the PC in groups of 1..maxGroup bytes at 115200 baud,
  // the link's speed.
  explicit TransferRig(sim::TargetConfig config = {}, std::optional<sim::NoiseRates> noise = {},
                       std::size_t maxGroup = 0);
  ~TransferRig() override;
  std::size_t Write(std::span<const std::uint8_t> bytes, const serial::StopSignal& cancel) override;
  serial::DeviceResult PurgeReceive() override { return link->PurgeReceive(); }

  std::vector<int> Upload(const std::filesystem::path& urt) {
    transfer.StartUpload(urt);
    WaitForEnd();
    return view.Results();
  }
  bool WaitForEnd() { return transfer.WaitUntilFinished(20s); }

  TempDir dir;
  sim::MemoryLink line;
  std::unique_ptr<sim::NoisyStream> noisy;
  sim::SteadyPaceClock paceClock;
  std::unique_ptr<sim::PacedStream> paced;
  sim::Stream& targetEnd;  // the line's end, through the noise and the pacing asked for
  sim::Target target;
  RecordingErrorSink errors;
  serial::ErrorReporter reporter{errors};
  serial::StatusLog status;
  RecordingCapture capture;
  RecordingView view;
  FakeClock clock;
  WriteDamage damage;
  // Called with each of the transfer's writes before it goes out (set before the start).
  std::function<void(std::span<const std::uint8_t>)> beforeWrite;
  transfer::Transfer transfer{{*this, view, capture, clock, errors, status}};
  transfer::ReceiveDispatcher dispatcher{transfer, capture, errors};
  Recorded<GatedDevice::Gate> gate;  // outlives the link's device
  std::unique_ptr<serial::SerialLink> link;
  GatedDevice* device = nullptr;  // the link's

 private:
  std::atomic<std::size_t> candidates_{0};
  sim::Stream& TargetStream(std::uint64_t seed, const std::optional<sim::NoiseRates>& noise,
                            std::size_t maxGroup);
};

// The loader's timings shortened for quick transfers.
sim::TargetConfig QuickTarget(std::vector<sim::Fault> faults = {},
                              sim::Scenario scenario = sim::Scenario::kNormal);

struct Region {
  std::uint32_t start;
  std::uint32_t end;
  std::uint8_t partitionId;
};
// Writes dir/script.dsf with one record per region and prepares its download in `dir`.
transfer::DownloadPlan WriteScript(const std::filesystem::path& dir,
                                   const std::vector<Region>& regions);

// A URT file with the simulated target's identity.
void WriteUrt(const std::filesystem::path& path, const std::vector<Bytes>& frames,
              std::uint32_t packetCount);
inline void WriteUrt(const std::filesystem::path& path, const std::vector<Bytes>& frames) {
  WriteUrt(path, frames, static_cast<std::uint32_t>(frames.size()));
}
Bytes DataFrame(std::size_t payloadSize, std::uint8_t seed);

inline Bytes ReadBytes(const std::filesystem::path& path) {
  const std::string text = ReadFile(path);
  return {text.begin(), text.end()};
}

}  // namespace tavrin::test
