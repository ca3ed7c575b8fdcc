// The PC's side of the line, played by hand in tests: writes bytes and reads what the
// simulated target answers, every wait bounded.
#pragma once

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <vector>

#include "sim/memory_link.h"
#include "sim/target.h"
#include "sim/target_config.h"
#include "transfer/packet_frame.h"

namespace tavrin::sim::test {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

// Timing short enough for tests; behaviour otherwise as configured by default.
inline TargetConfig QuickConfig() {
  TargetConfig config;
  config.enqDelay = 20ms;
  config.splitAnswerGap = 20ms;
  config.testFrameQuiet = 50ms;
  config.frameTimeout = 100ms;
  return config;
}

class ScriptedPc {
 public:
  explicit ScriptedPc(serial::SerialDevice& device) : device_(device) {}

  void Send(const Bytes& bytes) { device_.Write(bytes, 1s, -1); }

  // Reads until `count` bytes have come (fewer if the wait runs out).
  Bytes Receive(std::size_t count, std::chrono::milliseconds timeout = 5s) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::uint8_t buffer[4096];
    while (pending_.size() < count) {
      const auto left =
          std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      const auto result = device_.Read(buffer, std::max(left, 0ms), -1);
      if (result.status == serial::IoStatus::kFailed) break;
      pending_.insert(pending_.end(), buffer, buffer + result.count);
      if (result.count == 0 && left.count() <= 0) break;
    }
    const auto take = static_cast<std::ptrdiff_t>(std::min(count, pending_.size()));
    Bytes out(pending_.begin(), pending_.begin() + take);
    pending_.erase(pending_.begin(), pending_.begin() + take);
    return out;
  }

  // Reads whatever comes within `wait` (for checking that nothing comes).
  Bytes Drain(std::chrono::milliseconds wait) { return Receive(SIZE_MAX, wait); }

 private:
  serial::SerialDevice& device_;
  Bytes pending_;  // read but not yet handed out
};

// FE 01 00 and the 11 bytes. Sized once and filled in place: growing a three-byte vector
// by the identity makes GCC 12 at -O3 warn (-Warray-bounds) about a copy it wrongly thinks
// overruns it.
inline Bytes WhoAmIAnswer(const Identity& identity) {
  constexpr std::array<std::uint8_t, 3> kPrefix{0xFE, 0x01, 0x00};
  Bytes answer(kPrefix.size() + identity.size());
  std::copy(identity.begin(), identity.end(),
            std::copy(kPrefix.begin(), kPrefix.end(), answer.begin()));
  return answer;
}

// The PC's command frames.
inline Bytes WhoAmICommand() {
  return transfer::BuildFrame(Bytes{0xFE, 0x01, 0x00});
}
inline Bytes WhoAmIReply(const Identity& identity) {
  return transfer::BuildFrame(WhoAmIAnswer(identity));
}

// A target on an in-memory line with a scripted PC.
struct SimRig {
  explicit SimRig(const TargetConfig& config = QuickConfig()) : target(link.TargetEnd(), config) {
    target.Start();
  }
  ~SimRig() {
    target.Stop();
    link.Close();
  }

  // Attention through the who-am-I reply, as a PC does against a well-behaved loader;
  // returns false at the first answer that differs.
  bool Handshake(bool withModeCommand = true) {
    const Identity& id = target.Config().identity;
    pc.Send({0x17});
    if (pc.Receive(2) != Bytes{0x06, 0x05}) return false;
    if (withModeCommand) {
      pc.Send(transfer::BuildFrame(Bytes{0xFE, 0x01, 0xFD, 0x02}));
      if (pc.Receive(1) != Bytes{0x05}) return false;
    }
    pc.Send(WhoAmICommand());
    Bytes answer = WhoAmIAnswer(id);
    answer.push_back(0x05);
    if (pc.Receive(15) != answer) return false;
    pc.Send(WhoAmIReply(id));
    return pc.Receive(1) == Bytes{0x05};
  }

  MemoryLink link;
  ScriptedPc pc{link.PcEnd()};
  Target target;
};

}  // namespace tavrin::sim::test
