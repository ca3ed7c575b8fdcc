#include "transfer_rig.h"

#include <gtest/gtest.h>
#include <poll.h>

#include "scripts/command_image.h"
#include "scripts/script_store.h"
#include "transfer/packet_frame.h"

namespace tavrin::test {

serial::IoResult GatedDevice::Write(std::span<const std::uint8_t> bytes,
                                    std::chrono::milliseconds timeout, serial::StopFd stop) {
  bool held = false;
  gate_.Change([&](Gate& gate) {
    held = gate.hold && gate.hold(bytes);
    if (held) gate = {nullptr, true};
  });
  if (!held) return inner_.Write(bytes, timeout, stop);
  pollfd fd{stop, POLLIN, 0};
  const bool stopped = ::poll(&fd, 1, static_cast<int>(kCueWait / 1ms)) > 0;
  return {stopped ? serial::IoStatus::kStopped : serial::IoStatus::kTimeout, 0, 0};
}

std::size_t TransferRig::Write(std::span<const std::uint8_t> bytes,
                               const serial::StopSignal& cancel) {
  if (beforeWrite) beforeWrite(bytes);
  if (bytes.size() != damage.size || ++candidates_ != damage.nth) {
    return link->WriterGeneric(bytes, &cancel);
  }
  if (damage.cut) return link->WriterGeneric(bytes.first(bytes.size() / 2), &cancel);
  Bytes damaged(bytes.begin(), bytes.end());
  damaged.at(damage.offset) ^= damage.mask;
  return link->WriterGeneric(damaged, &cancel);
}

TransferRig::TransferRig(sim::TargetConfig config, std::optional<sim::NoiseRates> noise,
                         std::size_t maxGroup)
    : targetEnd(TargetStream(config.memorySeed, noise, maxGroup)),
      target(targetEnd, std::move(config)) {
  link = std::make_unique<serial::SerialLink>(dispatcher, status, reporter, [this](auto) {
    auto made = std::make_unique<GatedDevice>(line.PcEnd(), gate);
    device = made.get();
    return made;
  });
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
}

sim::Stream& TransferRig::TargetStream(std::uint64_t seed,
                                       const std::optional<sim::NoiseRates>& noise,
                                       std::size_t maxGroup) {
  sim::Stream* stream = &line.TargetEnd();
  if (noise) {
    noisy = std::make_unique<sim::NoisyStream>(*stream, *noise, *noise, seed);
    stream = noisy.get();
  }
  if (maxGroup > 0) {
    paced = std::make_unique<sim::PacedStream>(*stream, 115200, paceClock,
                                               sim::SendGroups{maxGroup, 1});
    stream = paced.get();
  }
  return *stream;
}

sim::TargetConfig QuickTarget(std::vector<sim::Fault> faults, sim::Scenario scenario) {
  sim::TargetConfig config;
  config.scenario = scenario;
  config.enqDelay = 20ms;
  config.packetSize = 300;
  config.packetsPerEntry = 2;
  config.regionReadyDelay = 10ms;
  config.regionReadyRepeat = 100ms;
  config.resendTimeout = 300ms;
  config.frameTimeout = 200ms;   // a frame the PC abandoned does not hide its next attention
  config.attentionEcho = 100ms;  // long
  config.faults = std::move(faults);
  return config;
}

transfer::DownloadPlan WriteScript(const std::filesystem::path& dir,
                                   const std::vector<Region>& regions) {
  scripts::ScriptStore store(dir);
  for (const auto& region : regions) {
    scripts::ScriptRecord record;
    record.command = {region.start, region.end, 1, 0, 0, 0x12};
    record.header.partitionId = region.partitionId;
    record.header.partitionType = 1;
    record.header.size = region.end - region.start;
    EXPECT_TRUE(store.AppendRecord(record));
  }
  EXPECT_TRUE(store.SaveDsf(dir / "script.dsf"));
  transfer::DownloadPlan plan{dir / "script.dsf", dir, {}};
  const auto table = scripts::PrepareDownload(plan.scriptPath, dir);
  EXPECT_TRUE(table);
  if (table) {
    for (const auto& header : *table) plan.headerData.push_back(scripts::EncodeHeaderData(header));
  }
  return plan;
}

void WriteUrt(const std::filesystem::path& path, const std::vector<Bytes>& frames,
              std::uint32_t packetCount) {
  Bytes image(28, 0);
  image[0] = 'B';
  image[1] = 'U';
  // The simulated target's identity: answer bytes 0-2 are Id2, 3-6 Id1, 7-10 Id3.
  const auto& id = sim::kDefaultIdentity;
  std::copy(id.begin() + 3, id.begin() + 7, image.begin() + 12);
  std::copy(id.begin(), id.begin() + 3, image.begin() + 16);
  std::copy(id.begin() + 7, id.end(), image.begin() + 20);
  for (std::size_t i = 0; i < 4; ++i)
    image[24 + i] = static_cast<std::uint8_t>(packetCount >> (8 * i));
  for (const auto& frame : frames) image.insert(image.end(), frame.begin(), frame.end());
  WriteFile(path, {reinterpret_cast<const char*>(image.data()), image.size()});
}

Bytes DataFrame(std::size_t payloadSize, std::uint8_t seed) {
  Bytes payload(payloadSize);
  for (std::size_t i = 0; i < payloadSize; ++i)
    payload[i] = static_cast<std::uint8_t>(seed + i * 7);
  return transfer::BuildFrame(payload);
}

}  // namespace tavrin::test
