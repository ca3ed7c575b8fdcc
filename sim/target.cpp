#include "sim/target.h"

#include <algorithm>
#include <array>

#include "sim/loader.h"

namespace tavrin::sim {

namespace {

// Longest wait for bytes before the thread looks at its stop request and timers.
constexpr auto kReadSlice = std::chrono::milliseconds{50};
constexpr std::size_t kReadChunk = 4096;

}  // namespace

Target::Target(Stream& line, TargetConfig config)
    : line_(line),
      config_(std::move(config)),
      memory_(config_.memorySeed),
      loader_(std::make_unique<Loader>(line_, config_, journal_)) {}

Target::~Target() {
  Stop();
}

void Target::Start() {
  if (thread_.joinable()) return;
  running_ = true;
  thread_ = std::jthread([this](std::stop_token stop) { Run(stop); });
}

void Target::Stop() {
  if (!thread_.joinable()) return;
  thread_.request_stop();
  thread_.join();
}

bool Target::Running() const {
  return running_;
}

Bytes Target::RegionData(const RegionRequest& request) const {
  return RegionPlan(request, memory_, config_.packetSize, config_.packetsPerEntry).Data();
}

void Target::Run(std::stop_token stop) {
  std::array<std::uint8_t, kReadChunk> buffer{};
  while (!stop.stop_requested() && loader_->LineUp()) {
    auto wait = kReadSlice;
    if (auto wake = loader_->NextWake(); wake != Loader::TimePoint::max()) {
      auto untilWake = std::chrono::ceil<std::chrono::milliseconds>(wake - Loader::Clock::now());
      wait = std::clamp(untilWake, std::chrono::milliseconds{0}, kReadSlice);
    }
    long n = line_.Read(buffer, wait);
    if (n < 0) break;  // the line is gone
    if (n > 0) heard_ = true;
    if (n > 0) loader_->OnBytes(std::span(buffer).first(static_cast<std::size_t>(n)));
    loader_->OnTick();
  }
  running_ = false;
}

}  // namespace tavrin::sim
