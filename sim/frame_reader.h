// Gathers frames from the bytes the target receives, across any read boundaries. Two
// layouts share it: the packet frame (0x02, 24-bit LEN, payload, 32-bit sum, 0x03) and
// the COM test frame (0x02, 16-bit length, text, 0x03).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace tavrin::sim {

struct FrameLayout {
  std::size_t lengthBytes;   // big-endian length field after the start byte
  std::size_t trailerBytes;  // bytes after the payload, the end byte 0x03 included
  std::size_t maxPayload;    // a longer announced length is refused at once
};

constexpr FrameLayout kPacketFrameLayout{3, 5, 2991};
constexpr FrameLayout kTestFrameLayout{2, 1, 3000};

class FrameReader {
 public:
  enum class Status {
    kNeedMore,  // every byte offered was taken; no frame is complete yet
    kFrame,     // Frame() is complete
    kError,     // Error() says what was wrong; the reader waits for a new start byte
  };
  struct Step {
    Status status;
    std::size_t consumed;  // bytes of the input taken by this step
  };

  explicit FrameReader(FrameLayout layout) : layout_(layout) {}

  // Takes bytes up to the end of one frame or error. Outside a frame only the start byte
  // 0x02 is taken; any other byte is left unconsumed for the caller (consumed 0, kNeedMore).
  Step Feed(std::span<const std::uint8_t> bytes);

  bool InFrame() const { return inFrame_; }
  void Reset();
  // The complete frame, start and end bytes included (valid after kFrame).
  const std::vector<std::uint8_t>& Frame() const { return frame_; }
  std::span<const std::uint8_t> Payload() const;
  // For packet frames: the sum field matches the payload.
  bool SumMatches() const;
  const std::string& Error() const { return error_; }

 private:
  std::size_t ExpectedSize() const {
    return 1 + layout_.lengthBytes + length_ + layout_.trailerBytes;
  }
  Step Fail(std::size_t consumed, std::string error);

  FrameLayout layout_;
  bool inFrame_ = false;
  std::size_t length_ = 0;
  std::vector<std::uint8_t> frame_;
  std::string error_;
};

}  // namespace tavrin::sim
