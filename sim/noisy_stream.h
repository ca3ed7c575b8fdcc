// A stream that damages the line: each byte may be dropped, corrupted (XOR with a random
// non-zero value) or sent twice, each at its own rate, separately for the bytes the
// target writes and the bytes it reads. The same seed gives the same damage.
//
// Threads: one reader and one writer; each direction has its own random sequence, so the
// damage of one does not depend on how reads and writes interleave.
#pragma once

#include <cstdint>
#include <vector>

#include "sim/stream.h"

namespace tavrin::sim {

struct NoiseRates {
  double corrupt = 0.0;    // 0..1, per byte
  double drop = 0.0;       // 0..1, per byte
  double duplicate = 0.0;  // 0..1, per byte
};

struct NoiseCounts {
  std::uint64_t corrupted = 0;
  std::uint64_t dropped = 0;
  std::uint64_t duplicated = 0;
};

// One direction's damage: a seeded generator and the rates.
class NoiseChannel {
 public:
  NoiseChannel(NoiseRates rates, std::uint64_t seed) : rates_(rates), state_(seed) {}
  // Appends the damaged form of `bytes` to `out`.
  void Apply(std::span<const std::uint8_t> bytes, std::vector<std::uint8_t>& out);
  const NoiseCounts& Counts() const { return counts_; }

 private:
  std::uint64_t Next();  // splitmix64: the same sequence on every platform
  double Uniform();      // [0, 1)

  NoiseRates rates_;
  std::uint64_t state_;
  NoiseCounts counts_;
};

class NoisyStream final : public Stream {
 public:
  NoisyStream(Stream& inner, NoiseRates onWrite, NoiseRates onRead, std::uint64_t seed);

  long Read(std::span<std::uint8_t> into, std::chrono::milliseconds timeout) override;
  bool Write(std::span<const std::uint8_t> bytes) override;

  const NoiseCounts& WriteCounts() const { return write_.Counts(); }
  const NoiseCounts& ReadCounts() const { return read_.Counts(); }

 private:
  Stream& inner_;
  NoiseChannel write_;
  NoiseChannel read_;
  std::vector<std::uint8_t> readCarry_;  // damaged bytes that did not fit the last read
};

}  // namespace tavrin::sim
