// The PC's side of the line, played by hand in tests: writes bytes and reads what the
// simulated target answers, every wait bounded.
#pragma once

#include <chrono>
#include <cstdint>
#include <vector>

#include "sim/memory_link.h"
#include "sim/target.h"
#include "sim/target_config.h"

namespace tavrin::sim::test {

using Bytes = std::vector<std::uint8_t>;

// Timing short enough for tests; behaviour otherwise as configured by default.
TargetConfig QuickConfig(Scenario scenario = Scenario::kNormal);

class ScriptedPc {
 public:
  explicit ScriptedPc(serial::SerialDevice& device) : device_(device) {}

  void Send(const Bytes& bytes);
  // Reads until `count` bytes have come (fewer if the wait runs out).
  Bytes Receive(std::size_t count, std::chrono::milliseconds timeout = std::chrono::seconds{5});
  // Reads one packet frame, whole; empty if none came in time.
  Bytes ReceiveFrame(std::chrono::milliseconds timeout = std::chrono::seconds{5});
  // Reads whatever comes within `wait` (for checking that nothing comes).
  Bytes Drain(std::chrono::milliseconds wait);

 private:
  serial::SerialDevice& device_;
  Bytes pending_;  // read but not yet handed out
};

// The PC's command frames.
Bytes ModeCommand();
Bytes WhoAmICommand();
Bytes WhoAmIReply(const Identity& identity);
// A command packet asking for one region, as a command image carries it.
Bytes CommandPacket(std::uint32_t count, std::uint8_t memoryType, std::uint32_t start,
                    std::uint32_t end);
Bytes WhoAmIAnswer(const Identity& identity);  // FE 01 00 and the 11 bytes

// A target on an in-memory line with a scripted PC.
struct SimRig {
  explicit SimRig(TargetConfig config) : target(link.TargetEnd(), std::move(config)) {
    target.Start();
  }
  ~SimRig() {
    target.Stop();
    link.Close();
  }
  // Attention through the who-am-I reply, as a PC does against a well-behaved loader;
  // returns false at the first answer that differs.
  bool Handshake(bool withModeCommand = true);

  MemoryLink link;
  ScriptedPc pc{link.PcEnd()};
  Target target;
};

}  // namespace tavrin::sim::test
