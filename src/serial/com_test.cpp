#include "serial/com_test.h"

#include <algorithm>
#include <utility>

namespace tavrin::serial {

std::optional<std::vector<std::uint8_t>> EncodeTestFrame(std::string_view text) {
  if (text.size() > kMaxTestText) return std::nullopt;
  std::vector<std::uint8_t> frame;
  frame.reserve(text.size() + 4);
  frame.push_back(kTestFrameStart);
  frame.push_back(static_cast<std::uint8_t>(text.size() >> 8));
  frame.push_back(static_cast<std::uint8_t>(text.size() & 0xFF));
  frame.insert(frame.end(), text.begin(), text.end());
  frame.push_back(kTestFrameEnd);
  return frame;
}

TestSendResult SendTestFrame(
    std::string_view text, const std::function<std::size_t(std::span<const std::uint8_t>)>& write) {
  const auto frame = EncodeTestFrame(text);
  if (!frame) return TestSendResult::kTooLong;
  return write(*frame) == frame->size() ? TestSendResult::kSent : TestSendResult::kShortWrite;
}

void ComTest::ComTestReceive(std::span<const std::uint8_t> block) {
  std::optional<std::size_t> at = 0;
  while (at && *at < block.size()) {
    if (!frameStarted_) {
      at = FindStart(block, *at);
    } else if (!headerComplete_) {
      at = TakeLength(block, *at);
    } else {
      at = TakePayload(block, *at);
    }
  }
}

std::optional<std::size_t> ComTest::FindStart(std::span<const std::uint8_t> block, std::size_t at) {
  const auto start =
      std::find(block.begin() + static_cast<std::ptrdiff_t>(at), block.end(), kTestFrameStart);
  if (start == block.end()) return block.size();
  frameStarted_ = true;
  lengthBytesTaken_ = 0;
  expectedLength_ = 0;
  return static_cast<std::size_t>(start - block.begin()) + 1;
}

std::optional<std::size_t> ComTest::TakeLength(std::span<const std::uint8_t> block,
                                               std::size_t at) {
  expectedLength_ = static_cast<std::uint16_t>((expectedLength_ << 8) | block[at]);
  if (++lengthBytesTaken_ < 2) return at + 1;
  headerComplete_ = true;
  payload_.clear();
  if (expectedLength_ == 0) {
    EndFrame();
    return std::nullopt;
  }
  return at + 1;
}

std::optional<std::size_t> ComTest::TakePayload(std::span<const std::uint8_t> block,
                                                std::size_t at) {
  // The buffer grows with the bytes that really come, not with the announced length.
  const std::size_t wanted = expectedLength_ - payload_.size();
  const std::size_t taken = std::min(wanted, block.size() - at);
  payload_.insert(payload_.end(), block.begin() + static_cast<std::ptrdiff_t>(at),
                  block.begin() + static_cast<std::ptrdiff_t>(at + taken));
  if (payload_.size() < expectedLength_) return at + taken;
  view_.ShowReceived(std::exchange(payload_, {}));
  EndFrame();
  return std::nullopt;
}

void ComTest::EndFrame() {
  payload_ = {};
  frameStarted_ = false;
  headerComplete_ = false;
}

}  // namespace tavrin::serial
