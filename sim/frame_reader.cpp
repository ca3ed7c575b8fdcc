#include "sim/frame_reader.h"

#include "transfer/packet_frame.h"

namespace tavrin::sim {

using transfer::kHeaderEnd;
using transfer::kHeaderStart;

void FrameReader::Reset() {
  inFrame_ = false;
  length_ = 0;
  frame_.clear();
}

FrameReader::Step FrameReader::Fail(std::size_t consumed, std::string error) {
  error_ = std::move(error);
  Reset();
  return {Status::kError, consumed};
}

FrameReader::Step FrameReader::Feed(std::span<const std::uint8_t> bytes) {
  std::size_t used = 0;
  if (!inFrame_) {
    if (bytes.empty() || bytes[0] != kHeaderStart) return {Status::kNeedMore, 0};
    Reset();
    inFrame_ = true;
    frame_.push_back(bytes[0]);
    used = 1;
  }
  const std::size_t headerSize = 1 + layout_.lengthBytes;
  while (used < bytes.size()) {
    frame_.push_back(bytes[used++]);
    if (frame_.size() == headerSize) {
      length_ = transfer::ReadBigEndian(std::span(frame_).subspan(1, layout_.lengthBytes));
      if (length_ > layout_.maxPayload) {
        return Fail(used, "frame length " + std::to_string(length_) + " above " +
                              std::to_string(layout_.maxPayload));
      }
      frame_.reserve(ExpectedSize());
    }
    if (frame_.size() > headerSize && frame_.size() == ExpectedSize()) {
      if (frame_.back() != kHeaderEnd) return Fail(used, "frame does not end with 0x03");
      inFrame_ = false;
      return {Status::kFrame, used};
    }
  }
  return {Status::kNeedMore, used};
}

std::span<const std::uint8_t> FrameReader::Payload() const {
  return std::span(frame_).subspan(1 + layout_.lengthBytes, length_);
}

bool FrameReader::SumMatches() const {
  auto sum = std::span(frame_).subspan(1 + layout_.lengthBytes + length_, 4);
  return transfer::ReadBigEndian(sum) == transfer::FrameSum(Payload());
}

}  // namespace tavrin::sim
