#include "transfer_rig.h"

#include <unistd.h>

#include <fstream>
#include <thread>

#include "transfer/packet_frame.h"

namespace tavrin::test {

using namespace std::chrono_literals;

void RecordingCapture::WriteToCapture(std::span<const std::uint8_t> bytes,
                                      terminal::ColourMark colour) {
  std::lock_guard lock(mutex_);
  blocks_.push_back({std::string(bytes.begin(), bytes.end()), colour});
}

std::vector<RecordingCapture::Block> RecordingCapture::Blocks() const {
  std::lock_guard lock(mutex_);
  return blocks_;
}

std::string RecordingCapture::Text() const {
  std::lock_guard lock(mutex_);
  std::string text;
  for (const auto& block : blocks_) text += block.text;
  return text;
}

void RecordingView::ShowMessage(std::string caption, std::string text, transfer::MessageIcon) {
  std::lock_guard lock(mutex_);
  messages_.push_back(caption + "|" + text);
}

void RecordingView::ResultReported(int code) {
  {
    std::lock_guard lock(mutex_);
    results_.push_back(code);
  }
  changed_.notify_all();
}

void RecordingView::RegionCrcMismatch(int region) {
  std::lock_guard lock(mutex_);
  crcMismatches_.push_back(region);
}

void RecordingView::RegionStored(int region, std::uint64_t offset, std::uint32_t size) {
  std::lock_guard lock(mutex_);
  stored_.push_back({region, offset, size});
}

std::vector<RecordingView::StoredRegion> RecordingView::Stored() const {
  std::lock_guard lock(mutex_);
  return stored_;
}

void RecordingView::RefreshTransferState() {
  {
    std::lock_guard lock(mutex_);
    ++refreshes_;
  }
  changed_.notify_all();
}

bool RecordingView::WaitForRefreshes(std::size_t count, std::chrono::milliseconds timeout) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return refreshes_ >= count; });
}

std::vector<int> RecordingView::Results() const {
  std::lock_guard lock(mutex_);
  return results_;
}

std::vector<std::string> RecordingView::Messages() const {
  std::lock_guard lock(mutex_);
  return messages_;
}

std::vector<int> RecordingView::CrcMismatches() const {
  std::lock_guard lock(mutex_);
  return crcMismatches_;
}

bool RecordingView::WaitForResults(std::size_t count, std::chrono::milliseconds timeout) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return results_.size() >= count; });
}

std::size_t RigPort::Write(std::span<const std::uint8_t> bytes, const serial::StopSignal& cancel) {
  if (!link) return 0;
  if (bytes.size() > 1 && ++frameWrites_ == frameToCut) {
    return link->WriterGeneric(bytes.first(bytes.size() / 2), &cancel);
  }
  if (bytes.size() == damage.size && ++damageCandidates_ == damage.nth) {
    Bytes damaged(bytes.begin(), bytes.end());
    damaged.at(damage.offset) ^= damage.mask;
    return link->WriterGeneric(damaged, &cancel);
  }
  return link->WriterGeneric(bytes, &cancel);
}

serial::DeviceResult RigPort::PurgeReceive() {
  return link ? link->PurgeReceive() : serial::DeviceResult::Ok();
}

namespace {

// The link's device is the PC end of the in-memory line, which the line owns.
class BorrowedDevice final : public serial::SerialDevice {
 public:
  explicit BorrowedDevice(serial::SerialDevice& inner) : inner_(inner) {}
  serial::IoResult Read(std::span<std::uint8_t> into, std::chrono::milliseconds timeout,
                        serial::StopFd stop) override {
    return inner_.Read(into, timeout, stop);
  }
  serial::IoResult Write(std::span<const std::uint8_t> bytes, std::chrono::milliseconds timeout,
                         serial::StopFd stop) override {
    return inner_.Write(bytes, timeout, stop);
  }
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
};

std::filesystem::path MakeTempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "tavrin-rig.XXXXXX").string();
  if (!::mkdtemp(pattern.data())) return {};
  return pattern;
}

}  // namespace

int FakeClock::SecondOfHour() {
  const int speed = speed_;
  if (speed == 0) return now_;
  const auto elapsed = std::chrono::steady_clock::now() - since_;
  const auto seconds =
      std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count() * speed / 1000;
  return static_cast<int>((now_ + seconds) % 3600);
}

void FakeClock::RunFaster(int speed) {
  since_ = std::chrono::steady_clock::now();
  speed_ = speed;
}

TransferRig::TransferRig(sim::TargetConfig config, std::optional<LineNoise> noise,
                         std::optional<LineGroups> groups)
    : target(TargetStream(noise, groups), std::move(config)), dir_(MakeTempDir()) {
  link = std::make_unique<serial::SerialLink>(received, status, reporter, [this](std::string_view) {
    return std::make_unique<BorrowedDevice>(line.PcEnd());
  });
  port.link = link.get();
  target.Start();
  serial::PortSettings settings;
  settings.portName = "memory";
  link->OpenPort(settings);
}

TransferRig::~TransferRig() {
  transfer.Cancel();
  transfer.WaitUntilFinished(5s);
  link->ClosePort();
  target.Stop();
  std::error_code ignored;
  std::filesystem::remove_all(dir_, ignored);
}

sim::Stream& TransferRig::TargetStream(const std::optional<LineNoise>& noise,
                                       const std::optional<LineGroups>& groups) {
  sim::Stream* stream = &line.TargetEnd();
  if (noise) {
    noisy = std::make_unique<sim::NoisyStream>(*stream, noise->rates, noise->rates, noise->seed);
    stream = noisy.get();
  }
  if (groups) {
    paced = std::make_unique<sim::PacedStream>(*stream, groups->baud, paceClock,
                                               sim::SendGroups{groups->maxGroup, 1});
    stream = paced.get();
  }
  return *stream;
}

std::vector<int> TransferRig::Upload(const std::filesystem::path& urt) {
  transfer.StartUpload(urt);
  WaitForEnd();
  return view.Results();
}

bool TransferRig::WaitForEnd() {
  return transfer.WaitUntilFinished(20s);
}

bool TransferRig::WaitForTargetFrames(std::size_t count) {
  for (int i = 0; i < 500; ++i) {
    if (target.PacketPhaseFrames().size() >= count) return true;
    std::this_thread::sleep_for(10ms);
  }
  return false;
}

void WriteUrt(const std::filesystem::path& path, const std::vector<Bytes>& frames,
              std::uint32_t packetCount) {
  Bytes header(28, 0);
  header[0] = 'B';
  header[1] = 'U';
  // The simulated target's identity: answer bytes 0-2 are Id2, 3-6 Id1, 7-10 Id3.
  const auto& id = sim::kDefaultIdentity;
  for (std::size_t i = 0; i < 4; ++i) header[12 + i] = id[3 + i];
  for (std::size_t i = 0; i < 3; ++i) header[16 + i] = id[i];
  for (std::size_t i = 0; i < 4; ++i) header[20 + i] = id[7 + i];
  for (std::size_t i = 0; i < 4; ++i)
    header[24 + i] = static_cast<std::uint8_t>(packetCount >> (8 * i));
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(header.data()), 28);
  for (const auto& frame : frames) {
    out.write(reinterpret_cast<const char*>(frame.data()),
              static_cast<std::streamsize>(frame.size()));
  }
}

Bytes DataFrame(std::size_t payloadSize, std::uint8_t seed) {
  Bytes payload(payloadSize);
  for (std::size_t i = 0; i < payloadSize; ++i)
    payload[i] = static_cast<std::uint8_t>(seed + i * 7);
  return transfer::BuildFrame(payload);
}

}  // namespace tavrin::test
