#include "core_fakes.h"

#include <poll.h>
#include <stdlib.h>

#include <algorithm>

namespace tavrin::core::test {

void CueView::SetSendIndicator(bool shown) {
  if (shown) sendIndicator.Hold();
}

void CueView::SetFileName(std::filesystem::path path) {
  std::lock_guard lock(mutex_);
  fileNames_.push_back(std::move(path));
}

void CueView::ShowMessage(std::string caption, std::string text, transfer::MessageIcon) {
  {
    std::lock_guard lock(mutex_);
    messages_.push_back(std::move(caption) + "|" + std::move(text));
  }
  message.Hold();
}

void CueView::AskDownloadSavePath(transfer::DownloadSaveQuestion question) {
  if (!holdQuestion) {
    question.Answer(savePath);
    return;
  }
  {
    std::lock_guard lock(mutex_);
    question_ = std::move(question);
  }
  changed_.notify_all();
}

void CueView::ResultReported(int code) {
  {
    std::lock_guard lock(mutex_);
    results_.push_back(code);
  }
  changed_.notify_all();
}

bool CueView::WaitForResults(std::size_t count) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, kTestWait, [&] { return results_.size() >= count; });
}

std::vector<int> CueView::Results() const {
  std::lock_guard lock(mutex_);
  return results_;
}

std::vector<std::string> CueView::Messages() const {
  std::lock_guard lock(mutex_);
  return messages_;
}

std::vector<std::filesystem::path> CueView::FileNames() const {
  std::lock_guard lock(mutex_);
  return fileNames_;
}

std::optional<transfer::DownloadSaveQuestion> CueView::WaitForQuestion() {
  std::unique_lock lock(mutex_);
  changed_.wait_for(lock, kTestWait, [this] { return question_.has_value(); });
  return std::exchange(question_, std::nullopt);
}

void CueOutput::Show(std::span<const std::uint8_t> bytes, terminal::ColourMark) {
  {
    std::lock_guard lock(mutex_);
    calls_.append(bytes.begin(), bytes.end());
  }
  changed_.notify_all();
  show.Hold();
}

void CueOutput::ClearOutput() {
  {
    std::lock_guard lock(mutex_);
    calls_ += '\f';
  }
  changed_.notify_all();
}

bool CueOutput::WaitFor(const std::string& text) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, kTestWait, [&] { return calls_.find(text) != std::string::npos; });
}

std::string CueOutput::Calls() const {
  std::lock_guard lock(mutex_);
  return calls_;
}

void WriteGate::HoldNext(Match match) {
  std::lock_guard lock(mutex_);
  match_ = std::move(match);
  held_ = false;
}

bool WriteGate::TakeHold(std::span<const std::uint8_t> bytes) {
  std::lock_guard lock(mutex_);
  if (!match_ || !match_(bytes)) return false;
  match_ = nullptr;
  held_ = true;
  changed_.notify_all();
  return true;
}

bool WriteGate::WaitHeld() {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, kTestWait, [this] { return held_; });
}

serial::IoResult GatedDevice::Read(std::span<std::uint8_t> into, std::chrono::milliseconds timeout,
                                   serial::StopFd stop) {
  return inner_.Read(into, timeout, stop);
}

serial::IoResult GatedDevice::Write(std::span<const std::uint8_t> bytes,
                                    std::chrono::milliseconds timeout, serial::StopFd stop) {
  if (!gate_.TakeHold(bytes)) return inner_.Write(bytes, timeout, stop);
  pollfd fd{stop, POLLIN, 0};
  const int ready = ::poll(&fd, 1, static_cast<int>(std::chrono::milliseconds(kTestWait).count()));
  if (ready <= 0) return {serial::IoStatus::kTimeout, 0, 0};
  return {serial::IoStatus::kStopped, 0, 0};
}

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "tavrin-core.XXXXXX").string();
  if (::mkdtemp(pattern.data())) path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
}

namespace {

CoreConfig ConfigFor(std::filesystem::path tempDir, serial::DeviceFactory factory,
                     serial::LinkTimings timings, transfer::Clock& clock) {
  CoreConfig config;
  config.tempDir = std::move(tempDir);
  config.deviceFactory = std::move(factory);
  config.linkTimings = timings;
  config.clock = &clock;
  return config;
}

}  // namespace

CoreHostRig::CoreHostRig(serial::DeviceFactory factory, serial::LinkTimings timings)
    : core(std::make_unique<PortCore>(CoreHost{output, view, errors, comTest},
                                      ConfigFor(dir.Path(), std::move(factory), timings, clock))) {}

}  // namespace tavrin::core::test
