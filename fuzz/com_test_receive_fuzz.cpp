// Received blocks while the COM port test is open, split at arbitrary places. The unit
// table pins which frames are shown; here every payload shown must be non-empty and
// stand in the received stream, in order, right after its 0x02 and 16-bit big-endian
// length.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz_support.h"
#include "serial/com_test.h"

namespace {

using tavrin::fuzz::Check;
using Bytes = std::vector<std::uint8_t>;

class RecordingView final : public tavrin::serial::ComTestView {
 public:
  void ShowReceived(Bytes payload) override { shown.push_back(std::move(payload)); }
  std::vector<Bytes> shown;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto input = tavrin::fuzz::SplitInput({data, size});
  RecordingView view;
  tavrin::serial::ComTest comTest(view);
  comTest.SetActive(true);
  Bytes stream;
  for (const auto& block : input.blocks) {
    comTest.ComTestReceive(block);
    stream.insert(stream.end(), block.begin(), block.end());
  }
  auto from = stream.begin();
  for (const Bytes& payload : view.shown) {
    Check(!payload.empty() && payload.size() <= 0xFFFF);
    Bytes frame{0x02, static_cast<std::uint8_t>(payload.size() >> 8),
                static_cast<std::uint8_t>(payload.size())};
    frame.insert(frame.end(), payload.begin(), payload.end());
    const auto found = std::search(from, stream.end(), frame.begin(), frame.end());
    Check(found != stream.end());
    from = found + static_cast<std::ptrdiff_t>(frame.size());
  }
  return 0;
}
