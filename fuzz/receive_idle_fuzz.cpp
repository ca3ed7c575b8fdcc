// Received blocks while no transfer runs: the receive processor interprets nothing and
// only blanks the protocol bytes, also with a cancel request left pending (it belongs to
// no transfer). Setup bit 0: a cancel request is pending.
#include <cstddef>
#include <cstdint>

#include "receive_fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tavrin::fuzz;
  const FuzzInput input = SplitInput({data, size});
  Bench<> bench;
  ReceiveModel model;
  model.attention = false;
  model.cancelRequest = (input.setup & 1) != 0;
  ApplyFlags(model, bench.transfer.State());
  FeedBoth(bench.transfer, model, input, false, [] {});
  return 0;
}
