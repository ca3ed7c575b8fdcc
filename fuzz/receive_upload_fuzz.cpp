// Received blocks during an upload that waits for the who-am-I answer. The Transfer is
// compared with the model after every block; without the transfer thread's step between
// blocks the outcome must also not depend on where the reads split the stream, so the
// same bytes are fed again as one block and must give the same bytes and flags.
// Setup bits: 0 ACK already seen, 1 ready left set, 2 the transfer thread asks again on
// every ENQ between blocks.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "receive_fuzz_support.h"

namespace {

using namespace tavrin::fuzz;

ReceiveModel UploadWaitingForAnswer(std::uint8_t setup) {
  ReceiveModel model;
  model.running = true;
  model.expectingAnswer = true;
  model.ackSeen = (setup & 1) != 0;
  model.ready = (setup & 2) != 0;
  return model;
}

// The whole stream as one block must end where the blocks one by one ended.
void CheckSplitDoesNotMatter(const FuzzInput& input, const ReceiveModel& afterBlocks,
                             const std::vector<std::uint8_t>& blankedBlocks) {
  Bench bench;
  ApplyFlags(UploadWaitingForAnswer(input.setup), bench.transfer.State());
  std::vector<std::uint8_t> whole;
  for (const auto& block : input.blocks) whole.insert(whole.end(), block.begin(), block.end());
  if (whole.empty()) return;
  bench.transfer.ProcessReceivedBytes(whole);
  Check(whole == blankedBlocks);
  CheckFlags(afterBlocks, bench.transfer.State());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const FuzzInput input = SplitInput({data, size});
  const bool askAgain = (input.setup & 4) != 0;
  Bench bench;
  ReceiveModel model = UploadWaitingForAnswer(input.setup);
  ApplyFlags(model, bench.transfer.State());
  FeedBoth(bench.transfer, model, input, askAgain, [] {});
  if (askAgain) return 0;

  // A model fed the same blocks gives the blanked stream to compare with.
  ReceiveModel replay = UploadWaitingForAnswer(input.setup);
  std::vector<std::uint8_t> blanked;
  for (auto block : input.blocks) {
    replay.Process(block);
    blanked.insert(blanked.end(), block.begin(), block.end());
  }
  CheckSplitDoesNotMatter(input, model, blanked);
  return 0;
}
