// Received blocks while the COM port test is open: ComTestReceive must show exactly the
// payloads of the test frames (0x02, 16-bit big-endian length, payload) as a receiver
// written from the frame's description finds them, whatever the block boundaries.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "fuzz_support.h"
#include "serial/com_test.h"

namespace {

using tavrin::fuzz::Check;
using Payloads = std::vector<std::vector<std::uint8_t>>;

class RecordingView final : public tavrin::serial::ComTestView {
 public:
  void ShowReceived(std::vector<std::uint8_t> payload) override {
    Check(!payload.empty());
    shown.push_back(std::move(payload));
  }
  Payloads shown;
};

// The receiver as described: skip to 0x02, two length bytes (high first), then the
// payload; a complete frame (or one of length 0) drops the rest of its block.
class ReceiverModel {
 public:
  void Receive(std::span<const std::uint8_t> block) {
    for (std::size_t i = 0; i < block.size(); ++i) {
      const std::uint8_t b = block[i];
      if (!started_) {
        started_ = b == 0x02;
        lengthBytes_ = 0;
        length_ = 0;
        payload_.clear();
        continue;
      }
      if (lengthBytes_ < 2) {
        length_ = length_ * 256 + b;
        if (++lengthBytes_ == 2 && length_ == 0) return End();
        continue;
      }
      payload_.push_back(b);
      if (payload_.size() == length_) {
        shown.push_back(payload_);
        return End();
      }
    }
  }
  Payloads shown;

 private:
  void End() {
    started_ = false;
    payload_.clear();
  }
  bool started_ = false;
  int lengthBytes_ = 0;
  std::size_t length_ = 0;
  std::vector<std::uint8_t> payload_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto input = tavrin::fuzz::SplitInput({data, size});
  RecordingView view;
  tavrin::serial::ComTest comTest(view);
  comTest.SetActive(true);
  ReceiverModel model;
  for (const auto& block : input.blocks) {
    comTest.ComTestReceive(block);
    model.Receive(block);
    Check(view.shown == model.shown);
  }
  return 0;
}
