// Received blocks during an upload that waits for the who-am-I answer, compared with the
// model after every block. Without the transfer thread's step between blocks the outcome
// must also not depend on where the reads split the stream: the same bytes fed as one
// block give the same bytes and flags.
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const FuzzInput input = SplitInput({data, size});
  const bool askAgain = (input.setup & 4) != 0;
  Bench<> blocks;
  ReceiveModel model = UploadWaitingForAnswer(input.setup);
  ApplyFlags(model, blocks.transfer.State());
  const auto blanked = FeedBoth(blocks.transfer, model, input, askAgain, [] {});
  if (askAgain || blanked.empty()) return 0;

  Bench<> whole;
  ApplyFlags(UploadWaitingForAnswer(input.setup), whole.transfer.State());
  std::vector<std::uint8_t> stream;
  for (const auto& block : input.blocks) stream.insert(stream.end(), block.begin(), block.end());
  whole.transfer.ProcessReceivedBytes(stream);
  Check(stream == blanked);
  CheckFlags(model, whole.transfer.State());
  return 0;
}
