// Fakes for driving one long-lived PortCore the way a window does: host sinks that stop on
// cue (as a UI thread that is busy elsewhere would leave them), a device that holds a
// write the target does not take, and the core built over them. Every wait is bounded
// and woken by the event it waits for.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/port_core.h"
#include "serial/serial_device.h"
#include "serial/serial_link.h"
#include "support/cue.h"
#include "support/recorders.h"
#include "terminal/output_sink.h"
#include "transfer/clock.h"
#include "transfer/transfer_view.h"

namespace tavrin::core::test {

using namespace std::chrono_literals;

constexpr auto kTestWait = std::chrono::seconds{5};  // upper bound of every wait here

using tavrin::test::Cue;

// The transfer panel and message boxes of a window, with owned values kept the way a
// queue to the UI thread keeps them. SetSendIndicator(true) and ShowMessage stop on cue;
// the save question is answered at once, or held for the test to answer later.
class CueView final : public transfer::TransferView {
 public:
  void SetSendIndicator(bool shown) override;
  void SetFileName(std::filesystem::path path) override;
  void ShowMessage(std::string caption, std::string text, transfer::MessageIcon icon) override;
  void AskDownloadSavePath(transfer::DownloadSaveQuestion question) override;
  void ResultReported(int code) override;

  // Waits until `count` results have been reported in all.
  bool WaitForResults(std::size_t count);
  std::vector<int> Results() const;
  std::vector<std::string> Messages() const;
  std::vector<std::filesystem::path> FileNames() const;
  // The question held (holdQuestion set), once it has been asked.
  std::optional<transfer::DownloadSaveQuestion> WaitForQuestion();

  Cue sendIndicator;
  Cue message;
  std::optional<std::filesystem::path> savePath;  // the answer given at once
  bool holdQuestion = false;                      // set before the download starts

 private:
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<int> results_;
  std::vector<std::string> messages_;
  std::vector<std::filesystem::path> fileNames_;
  std::optional<transfer::DownloadSaveQuestion> question_;
};

// The output window: every call in order ("\f" stands for a ClearOutput); Show stops on
// cue.
class CueOutput final : public terminal::OutputSink {
 public:
  void Show(std::span<const std::uint8_t> bytes, terminal::ColourMark colour) override;
  void ClearOutput() override;

  // Waits until the calls, joined, contain `text`.
  bool WaitFor(const std::string& text);
  std::string Calls() const;

  Cue show;

 private:
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::string calls_;
};

class NoComTest final : public serial::ComTestView {
 public:
  void ShowReceived(std::vector<std::uint8_t>) override {}
};

class FixedClock final : public transfer::Clock {
 public:
  int SecondOfHour() override { return 100; }  // deadlines never fall due
};

// A target that stops taking bytes: the write chosen by the test blocks until the stop
// descriptor it was given is raised (the link's stop or a transfer's cancel), and is then
// abandoned with nothing written.
class WriteGate {
 public:
  using Match = std::function<bool(std::span<const std::uint8_t>)>;
  void HoldNext(Match match);
  // Called by the device for every write: true when this one is to be held (once).
  bool TakeHold(std::span<const std::uint8_t> bytes);
  bool WaitHeld();

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  Match match_;
  bool held_ = false;
};

// The PC end of an in-memory line behind a WriteGate.
class GatedDevice final : public serial::SerialDevice {
 public:
  GatedDevice(serial::SerialDevice& inner, WriteGate& gate) : inner_(inner), gate_(gate) {}
  serial::IoResult Read(std::span<std::uint8_t> into, std::chrono::milliseconds timeout,
                        serial::StopFd stop) override;
  serial::IoResult Write(std::span<const std::uint8_t> bytes, std::chrono::milliseconds timeout,
                         serial::StopFd stop) override;
  serial::DeviceResult PurgeReceive() override { return inner_.PurgeReceive(); }
  serial::DeviceResult PurgeBoth() override { return inner_.PurgeBoth(); }
  serial::DeviceResult SetDtr(bool on) override { return inner_.SetDtr(on); }
  serial::DeviceResult SetRts(bool on) override { return inner_.SetRts(on); }
  serial::LineReading<serial::ModemLines> GetModemLines() override {
    return inner_.GetModemLines();
  }
  serial::LineReading<serial::LineCounters> GetLineCounters() override {
    return inner_.GetLineCounters();
  }
  std::size_t InputQueued() override { return inner_.InputQueued(); }
  std::size_t OutputQueued() override { return inner_.OutputQueued(); }

 private:
  serial::SerialDevice& inner_;
  WriteGate& gate_;
};

// A private temporary directory, removed with its content.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& Path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// The host of one PortCore: its temporary directory, its sinks and the core itself.
struct CoreHostRig {
  CoreHostRig(serial::DeviceFactory factory, serial::LinkTimings timings = {});

  TempDir dir;
  CueOutput output;
  CueView view;
  tavrin::test::RecordingErrorSink errors;
  NoComTest comTest;
  FixedClock clock;
  std::unique_ptr<PortCore> core;
};

}  // namespace tavrin::core::test
