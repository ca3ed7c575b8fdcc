#include "sim/journal.h"

namespace tavrin::sim {

void Journal::Problem(std::string text) {
  std::lock_guard lock(mutex_);
  problems_.push_back(std::move(text));
}

void Journal::Frame(const Bytes& frame, bool packetPhase) {
  {
    std::lock_guard lock(mutex_);
    frames_.push_back(frame);
    if (packetPhase) packetFrames_.push_back(frame);
  }
  changed_.notify_all();
}

void Journal::Requests(std::vector<RegionRequest> requests) {
  std::lock_guard lock(mutex_);
  requests_ = std::move(requests);
}

void Journal::RegionServed() {
  {
    std::lock_guard lock(mutex_);
    ++regionsServed_;
  }
  changed_.notify_all();
}

bool Journal::WaitForRegionsServed(std::size_t count, std::chrono::milliseconds timeout) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return regionsServed_ >= count; });
}

bool Journal::WaitForPacketPhaseFrames(std::size_t count, std::chrono::milliseconds timeout) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return packetFrames_.size() >= count; });
}

std::vector<std::string> Journal::Problems() const {
  std::lock_guard lock(mutex_);
  return problems_;
}

std::vector<Bytes> Journal::ReceivedFrames() const {
  std::lock_guard lock(mutex_);
  return frames_;
}

std::vector<Bytes> Journal::PacketPhaseFrames() const {
  std::lock_guard lock(mutex_);
  return packetFrames_;
}

std::vector<RegionRequest> Journal::Requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

std::size_t Journal::RegionsServed() const {
  std::lock_guard lock(mutex_);
  return regionsServed_;
}

}  // namespace tavrin::sim
