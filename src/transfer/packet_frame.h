// The packet frame that carries everything but single control bytes, in both
// directions: 0x02, LEN (24-bit big-endian), LEN payload bytes, the 32-bit big-endian
// sum of the payload bytes, 0x03. Header-only: the command image builder uses it too.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <numeric>
#include <span>
#include <vector>

namespace tavrin::transfer {

// Control bytes of the line.
constexpr std::uint8_t kHeaderStart = 0x02;  // first byte of a frame
constexpr std::uint8_t kHeaderEnd = 0x03;    // last byte of a frame
constexpr std::uint8_t kEot = 0x04;          // target: same software version present
constexpr std::uint8_t kEnq =
    0x05;  // target: ready for the next frame; PC: send the next dump frame
constexpr std::uint8_t kAck = 0x06;  // target: PC noticed; PC: accept the region
constexpr std::uint8_t kDc3 = 0x13;  // target: waits for other control or data
constexpr std::uint8_t kNak = 0x15;  // target: ends attention; PC: send that dump frame again
constexpr std::uint8_t kEtb = 0x17;  // PC: attention; target: terminated / region ready

constexpr std::size_t kFrameOverhead = 9;    // HeaderStart, LEN, sum, HeaderEnd
constexpr std::size_t kMaxFrameSize = 3000;  // bytes, whole frame
constexpr std::size_t kMaxPayload = kMaxFrameSize - kFrameOverhead;  // 2991

// 32-bit sum (modulo 2^32) of the bytes, each taken unsigned.
inline std::uint32_t FrameSum(std::span<const std::uint8_t> bytes) {
  return std::accumulate(bytes.begin(), bytes.end(), std::uint32_t{0},
                         [](std::uint32_t sum, std::uint8_t b) { return sum + b; });
}

inline void AppendBigEndian(std::vector<std::uint8_t>& out, std::uint32_t value, int bytes) {
  for (int shift = (bytes - 1) * 8; shift >= 0; shift -= 8) {
    out.push_back(static_cast<std::uint8_t>(value >> shift));
  }
}

inline std::uint32_t ReadBigEndian(std::span<const std::uint8_t> bytes) {
  std::uint32_t value = 0;
  for (std::uint8_t b : bytes) value = (value << 8) | b;
  return value;
}

// A complete frame around `payload` (the caller keeps payloads within kMaxPayload).
inline std::vector<std::uint8_t> BuildFrame(std::span<const std::uint8_t> payload) {
  std::vector<std::uint8_t> frame;
  frame.reserve(payload.size() + kFrameOverhead);
  frame.push_back(kHeaderStart);
  AppendBigEndian(frame, static_cast<std::uint32_t>(payload.size()), 3);
  frame.insert(frame.end(), payload.begin(), payload.end());
  AppendBigEndian(frame, FrameSum(payload), 4);
  frame.push_back(kHeaderEnd);
  return frame;
}

}  // namespace tavrin::transfer
