#include "sim/noisy_stream.h"

#include <algorithm>

namespace tavrin::sim {

namespace {

constexpr std::uint64_t kReadSeedMix = 0x5DEECE66DULL;  // keeps the two directions apart

}  // namespace

std::uint64_t NoiseChannel::Next() {
  std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  return z ^ (z >> 31);
}

double NoiseChannel::Uniform() {
  return static_cast<double>(Next() >> 11) * 0x1.0p-53;
}

void NoiseChannel::Apply(std::span<const std::uint8_t> bytes, std::vector<std::uint8_t>& out) {
  for (std::uint8_t b : bytes) {
    if (Uniform() < rates_.drop) {
      ++counts_.dropped;
      continue;
    }
    if (Uniform() < rates_.corrupt) {
      b = static_cast<std::uint8_t>(b ^ (1 + Next() % 255));
      ++counts_.corrupted;
    }
    out.push_back(b);
    if (Uniform() < rates_.duplicate) {
      out.push_back(b);
      ++counts_.duplicated;
    }
  }
}

NoisyStream::NoisyStream(Stream& inner, NoiseRates onWrite, NoiseRates onRead, std::uint64_t seed)
    : inner_(inner), write_(onWrite, seed), read_(onRead, seed ^ kReadSeedMix) {}

bool NoisyStream::Write(std::span<const std::uint8_t> bytes) {
  std::vector<std::uint8_t> damaged;
  damaged.reserve(bytes.size() * 2);
  write_.Apply(bytes, damaged);
  return damaged.empty() || inner_.Write(damaged);
}

long NoisyStream::Read(std::span<std::uint8_t> into, std::chrono::milliseconds timeout) {
  if (readCarry_.empty()) {
    std::vector<std::uint8_t> raw(into.size());
    long n = inner_.Read(raw, timeout);
    if (n <= 0) return n;
    read_.Apply(std::span(raw).first(static_cast<std::size_t>(n)), readCarry_);
  }
  std::size_t count = std::min(into.size(), readCarry_.size());
  std::copy_n(readCarry_.begin(), count, into.begin());
  readCarry_.erase(readCarry_.begin(), readCarry_.begin() + static_cast<std::ptrdiff_t>(count));
  return static_cast<long>(count);
}

}  // namespace tavrin::sim
