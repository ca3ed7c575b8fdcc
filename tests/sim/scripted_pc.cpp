#include "scripted_pc.h"

#include <algorithm>
#include <array>

#include "transfer/packet_frame.h"

namespace tavrin::sim::test {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

TargetConfig QuickConfig(Scenario scenario) {
  TargetConfig config;
  config.scenario = scenario;
  config.enqDelay = 20ms;
  config.splitAnswerGap = 20ms;
  config.regionReadyDelay = 0ms;
  config.regionReadyRepeat = 200ms;
  config.resendTimeout = 100ms;
  config.testFrameQuiet = 50ms;
  config.frameTimeout = 100ms;
  return config;
}

void ScriptedPc::Send(const Bytes& bytes) {
  device_.Write(bytes, 1s, -1);
}

Bytes ScriptedPc::Receive(std::size_t count, std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  std::uint8_t buffer[4096];
  while (pending_.size() < count) {
    auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    auto result = device_.Read(buffer, std::max(left, 0ms), -1);
    if (result.status == serial::IoStatus::kFailed) break;
    pending_.insert(pending_.end(), buffer, buffer + result.count);
    if (result.count == 0 && left.count() <= 0) break;
  }
  std::size_t take = std::min(count, pending_.size());
  Bytes out(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(take));
  pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(take));
  return out;
}

Bytes ScriptedPc::ReceiveFrame(std::chrono::milliseconds timeout) {
  Bytes head = Receive(4, timeout);
  if (head.size() < 4 || head[0] != transfer::kHeaderStart) return head;
  std::size_t length = transfer::ReadBigEndian(std::span(head).subspan(1, 3));
  if (length > transfer::kMaxPayload) return head;
  Bytes rest = Receive(length + 5, timeout);
  head.insert(head.end(), rest.begin(), rest.end());
  return head;
}

Bytes ScriptedPc::Drain(std::chrono::milliseconds wait) {
  return Receive(SIZE_MAX, wait);
}

Bytes ModeCommand() {
  return transfer::BuildFrame(Bytes{0xFE, 0x01, 0xFD, 0x02});
}
Bytes WhoAmICommand() {
  return transfer::BuildFrame(Bytes{0xFE, 0x01, 0x00});
}

Bytes WhoAmIReply(const Identity& identity) {
  return transfer::BuildFrame(WhoAmIAnswer(identity));
}

// Sized once and filled in place: growing a three-byte vector by the identity makes
// GCC 12 at -O3 warn (-Warray-bounds) about a copy it wrongly thinks overruns it.
Bytes WhoAmIAnswer(const Identity& identity) {
  constexpr std::array<std::uint8_t, 3> kPrefix{0xFE, 0x01, 0x00};
  Bytes answer(kPrefix.size() + identity.size());
  const auto rest = std::copy(kPrefix.begin(), kPrefix.end(), answer.begin());
  std::copy(identity.begin(), identity.end(), rest);
  return answer;
}

Bytes CommandPacket(std::uint32_t count, std::uint8_t memoryType, std::uint32_t start,
                    std::uint32_t end) {
  Bytes payload;
  transfer::AppendBigEndian(payload, count, 4);
  payload.push_back(memoryType);
  transfer::AppendBigEndian(payload, start, 4);
  transfer::AppendBigEndian(payload, end, 4);
  payload.insert(payload.end(), 3, 0x00);
  return transfer::BuildFrame(payload);
}

bool SimRig::Handshake(bool withModeCommand) {
  const Identity& id = target.Config().identity;
  pc.Send({0x17});
  if (pc.Receive(2) != Bytes{0x06, 0x05}) return false;
  if (withModeCommand) {
    pc.Send(ModeCommand());
    if (pc.Receive(1) != Bytes{0x05}) return false;
  }
  pc.Send(WhoAmICommand());
  if (pc.Receive(15) != [&] {
        Bytes expected = WhoAmIAnswer(id);
        expected.push_back(0x05);
        return expected;
      }()) {
    return false;
  }
  pc.Send(WhoAmIReply(id));
  return pc.Receive(1) == Bytes{0x05};
}

}  // namespace tavrin::sim::test
