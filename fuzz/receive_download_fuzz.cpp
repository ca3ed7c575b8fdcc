// Received blocks while a download receives a region: dump frames are stored in
// pckurt.bin, judged, and the data of good data packets appended to DumpBin.dbi. The
// Transfer is compared with the model after every block (blanked bytes, flags, the frame
// file existing exactly while a frame is received and never holding more than a frame),
// and DumpBin.dbi must end up holding exactly the model's region data. When the input
// leaves a frame open, the next region starts over it, as after a download cancelled in
// the middle of a frame; no file may stay open once the Transfer is gone.
// Setup bit 0: the target has not yet said that its region is ready (0x17 not seen).
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <vector>

#include "receive_fuzz_support.h"

namespace {

using namespace tavrin::fuzz;

constexpr std::uintmax_t kLongestFrameFile = 2991 + 4;  // payload and frame sum

// Ends a frame that the input left open, so that its file is closed before the Transfer
// goes: a run of bytes longer than any frame makes the receive processor reject it.
void EndOpenFrame(tavrin::transfer::Transfer& transfer) {
  for (int pass = 0; pass < 2 && transfer.State().inFrame; ++pass) {
    std::vector<std::uint8_t> filler(3000, 0xFF);
    transfer.ProcessReceivedBytes(filler);
  }
  Check(!transfer.State().inFrame);
}

// The transfer thread starts the next region while a frame is still open (only done when
// the frame's length bytes have all come, since the region start also forgets a length
// half read, which only the receive processor itself can do): it clears in-frame and
// region-ready, then the target says it is ready and begins a frame.
void StartNextRegion(tavrin::transfer::Transfer& transfer) {
  auto& state = transfer.State();
  state.inFrame = false;
  state.regionReady = false;
  state.nakPending = false;
  state.enqPending = true;
  std::vector<std::uint8_t> lead = {0x17, 0x02, 0x00, 0x00, 0x00};
  transfer.ProcessReceivedBytes(lead);
}

std::size_t OpenDescriptors() {
  const std::filesystem::directory_iterator entries("/proc/self/fd");
  return static_cast<std::size_t>(std::distance(begin(entries), end(entries)));
}

void RunInput(const FuzzInput& input, const std::filesystem::path& frameFile,
              const std::filesystem::path& dumpFile) {
  Bench bench;
  ReceiveModel model;
  model.download = true;
  model.attention = false;
  model.receiving = true;
  model.regionReady = (input.setup & 1) == 0;
  model.enqPending = true;
  ApplyFlags(model, bench.transfer.State());
  FeedBoth(bench, model, input, false, [&] {
    std::error_code error;
    const bool exists = std::filesystem::exists(frameFile, error);
    Check(exists == model.inFrame);
    if (exists) Check(std::filesystem::file_size(frameFile) <= kLongestFrameFile);
  });
  Check(ReadFile(dumpFile) == model.regionData);
  if (model.FrameLengthKnown()) StartNextRegion(bench.transfer);
  EndOpenFrame(bench.transfer);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const FuzzInput input = SplitInput({data, size});
  const std::filesystem::path frameFile = "pckurt.bin";
  const std::filesystem::path dumpFile = "DumpBin.dbi";
  const ScratchDirectory scratch({frameFile, dumpFile});
  { std::ofstream create(dumpFile, std::ios::binary); }
  const std::size_t openBefore = OpenDescriptors();
  RunInput(input, frameFile, dumpFile);
  Check(OpenDescriptors() == openBefore);
  return 0;
}
