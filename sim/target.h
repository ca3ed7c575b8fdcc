// The simulated target: the loader (see loader.h) run on a thread of its own over a
// stream, with what it saw readable from any thread while it runs.
//
// Threads: Start and Stop from the owner's thread; the accessors from any thread. The
// target's thread alone reads and writes the stream while it runs.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "sim/journal.h"
#include "sim/memory_image.h"
#include "sim/region_plan.h"
#include "sim/stream.h"
#include "sim/target_config.h"

namespace tavrin::sim {

class Loader;

class Target {
 public:
  // The stream must outlive the target.
  Target(Stream& line, TargetConfig config);
  ~Target();  // stops the thread
  Target(const Target&) = delete;
  Target& operator=(const Target&) = delete;

  void Start();
  // Ends the thread within one read slice (or once a write in progress returns).
  void Stop();
  // False once the thread has ended (stopped, or the line is gone).
  bool Running() const;
  // True once the first byte has come from the PC.
  bool Heard() const { return heard_.load(); }

  // Texts of everything the loader found wrong in what it received, in order.
  std::vector<std::string> Problems() const { return journal_.Problems(); }
  // Every packet frame received, start and end bytes included, in order.
  std::vector<Bytes> ReceivedFrames() const { return journal_.ReceivedFrames(); }
  // The frames after the who-am-I reply: the URT frames, or the command packets.
  std::vector<Bytes> PacketPhaseFrames() const { return journal_.PacketPhaseFrames(); }
  // The regions the last complete command image asked for, in order.
  std::vector<RegionRequest> Requests() const { return journal_.Requests(); }
  std::size_t RegionsServed() const { return journal_.RegionsServed(); }
  bool WaitForRegionsServed(std::size_t count, std::chrono::milliseconds timeout) const {
    return journal_.WaitForRegionsServed(count, timeout);
  }
  bool WaitForPacketPhaseFrames(std::size_t count, std::chrono::milliseconds timeout) const {
    return journal_.WaitForPacketPhaseFrames(count, timeout);
  }

  const TargetConfig& Config() const { return config_; }
  // The memory the target serves, and one region's data as its data packets carry it.
  const MemoryImage& Memory() const { return memory_; }
  Bytes RegionData(const RegionRequest& request) const;

 private:
  void Run(std::stop_token stop);

  Stream& line_;
  const TargetConfig config_;
  const MemoryImage memory_;
  Journal journal_;
  std::unique_ptr<Loader> loader_;
  std::atomic<bool> running_{false};
  std::atomic<bool> heard_{false};
  std::jthread thread_;
};

}  // namespace tavrin::sim
