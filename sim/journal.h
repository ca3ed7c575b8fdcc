// What the simulated loader saw: the frames it received and what was wrong with the
// bytes, as texts. Written by the loader's thread, read by tests from any thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "sim/region_plan.h"

namespace tavrin::sim {

using Bytes = std::vector<std::uint8_t>;

class Journal {
 public:
  void Problem(std::string text);
  // `packetPhase`: a frame after the who-am-I reply (a URT frame or a command packet).
  void Frame(const Bytes& frame, bool packetPhase);
  void Requests(std::vector<RegionRequest> requests);
  void RegionServed();

  std::vector<std::string> Problems() const;
  std::vector<Bytes> ReceivedFrames() const;
  std::vector<Bytes> PacketPhaseFrames() const;
  std::vector<RegionRequest> Requests() const;
  std::size_t RegionsServed() const;
  // Waits (at most `timeout`) until `count` regions have been served.
  bool WaitForRegionsServed(std::size_t count, std::chrono::milliseconds timeout) const;
  // Waits (at most `timeout`) until `count` packet-phase frames have been received.
  bool WaitForPacketPhaseFrames(std::size_t count, std::chrono::milliseconds timeout) const;

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::vector<std::string> problems_;
  std::vector<Bytes> frames_;
  std::vector<Bytes> packetFrames_;
  std::vector<RegionRequest> requests_;
  std::size_t regionsServed_ = 0;
};

}  // namespace tavrin::sim
