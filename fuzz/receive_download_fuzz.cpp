// Received blocks while a download receives a region. A real download is started on a
// one-record command image and led through its first half by a scripted target that
// answers each of the PC's writes from inside the write; once the PC accepts the region
// the transfer thread is paused, so the fuzz input alone drives the receive processor.
//
// After every block: blanked bytes and flags as the model's, the frame file existing
// exactly while a frame is received and never holding more than a frame. At the end,
// DumpBin.dbi holds the model's region data, the next region may start over a frame left
// open (as after a cancel in the middle of a frame), and no file stays open.
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <vector>

#include "receive_fuzz_support.h"
#include "transfer/packet_frame.h"

namespace {

using namespace tavrin::fuzz;
using namespace std::chrono_literals;
using tavrin::transfer::Transfer;

constexpr std::uintmax_t kLongestFrameFile = 2991 + 4;  // payload and frame sum
constexpr auto kHandshakeLimit = 5s;    // the whole first half, normally well under 1 ms
constexpr auto kAnnounceRetry = 200us;  // between two 0x17 while the region is set up

constexpr std::uint8_t kModePayload[] = {0xFE, 0x01, 0xFD, 0x02};
constexpr std::uint8_t kWhoAmIPayload[] = {0xFE, 0x01, 0x00};
// The who-am-I answer (a download takes any), then ENQ: ready for the reply.
constexpr std::uint8_t kAnswerThenEnq[] = {0xFE, 0x01, 0x00, 'T', 'A', 'R', 'G', 'E',
                                           'T',  '-',  'S',  'T', 'B', '1', 0x05};

bool HasPayload(std::span<const std::uint8_t> frame, std::span<const std::uint8_t> payload) {
  return frame.size() == payload.size() + tavrin::transfer::kFrameOverhead &&
         std::equal(payload.begin(), payload.end(), frame.begin() + 4);
}

// The target's side of the first half of a download, answered on the transfer thread from
// inside each write, and the window that tells when the receive phase has begun.
class ScriptedTarget final : public NullLine {
 public:
  void Attach(Transfer& transfer) { transfer_ = &transfer; }

  std::size_t Write(std::span<const std::uint8_t> bytes,
                    const tavrin::serial::StopSignal&) override {
    if (bytes.size() == 1 && bytes[0] == 0x17) {
      Answer({0x06, 0x05});  // ACK and ENQ together: the mode command goes out
    } else if (HasPayload(bytes, kModePayload)) {
      Answer({0x05});
    } else if (HasPayload(bytes, kWhoAmIPayload)) {
      Answer({std::begin(kAnswerThenEnq), std::end(kAnswerThenEnq)});
    } else if (bytes.size() == 23 && bytes[4] == 0xFE) {
      Answer({0x05});  // after the who-am-I reply: ready for the command packet
    } else if (bytes.size() == 1 && bytes[0] == 0x06) {
      transfer_->State().pause = true;  // parks the frame loop before its first request
      Raise(accepted_);
    }
    return bytes.size();
  }

  // From then on a 0x17 announces the region instead of ending the transfer.
  void ShowProgressBar(bool shown) override {
    if (shown) Raise(receivePhase_);
  }

  bool WaitForReceivePhase() { return WaitFor(receivePhase_, kHandshakeLimit); }
  bool WaitForAccept() { return WaitFor(accepted_, kAnnounceRetry); }

 private:
  void Answer(std::vector<std::uint8_t> bytes) { transfer_->ProcessReceivedBytes(bytes); }
  void Raise(bool& flag) {
    std::lock_guard lock(mutex_);
    flag = true;
    changed_.notify_all();
  }
  bool WaitFor(const bool& flag, std::chrono::microseconds timeout) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&flag] { return flag; });
  }

  Transfer* transfer_ = nullptr;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool receivePhase_ = false;
  bool accepted_ = false;
};

// A command image asking for one region.
void WriteCommandImage(const std::filesystem::path& path) {
  auto image = std::vector<std::uint8_t>{'M', 'Z', 0x00, 0x00, 0x00, 0x01};
  const auto frame = tavrin::transfer::BuildFrame(std::vector<std::uint8_t>(16, 0x00));
  image.insert(image.end(), frame.begin(), frame.end());
  WriteFile(path, image);
}

// Runs the download up to the accepted region: its DumpBin.dbi is then open and the
// transfer thread paused.
void ReachRegion(Bench<ScriptedTarget>& bench, const ScratchDirectory& scratch) {
  bench.line.Attach(bench.transfer);
  WriteCommandImage(scratch.File("CmdUrtFile.urt"));
  tavrin::transfer::DownloadPlan plan{scratch.File("s.dsf"), scratch.Path(), {{}}};
  Check(bench.transfer.StartDownload(scratch.File("CmdUrtFile.urt"), plan));
  Check(bench.line.WaitForReceivePhase());
  // The region start clears region-ready: announce again until the PC accepts.
  const auto deadline = std::chrono::steady_clock::now() + kHandshakeLimit;
  do {
    Check(std::chrono::steady_clock::now() < deadline);
    std::vector<std::uint8_t> announce = {0x17};
    bench.transfer.ProcessReceivedBytes(announce);
  } while (!bench.line.WaitForAccept());
}

// The transfer thread starts the next region while a frame is still open, as it does when
// the frame's length bytes have all come: it clears in-frame and region-ready, then the
// target says it is ready and begins a frame.
void StartNextRegion(Transfer& transfer) {
  auto& state = transfer.State();
  state.inFrame = false;
  state.regionReady = false;
  state.nakPending = false;
  state.enqPending = true;
  std::vector<std::uint8_t> lead = {0x17, 0x02, 0x00, 0x00, 0x00};
  transfer.ProcessReceivedBytes(lead);
}

// Ends a frame left open with a run longer than any frame, which the receive processor
// rejects, so that the cancelled download leaves nothing behind.
void EndOpenFrame(Transfer& transfer) {
  for (int pass = 0; pass < 2 && transfer.State().inFrame; ++pass) {
    std::vector<std::uint8_t> filler(3000, 0xFF);
    transfer.ProcessReceivedBytes(filler);
  }
  Check(!transfer.State().inFrame);
}

std::size_t OpenDescriptors() {
  const std::filesystem::directory_iterator entries("/proc/self/fd");
  return static_cast<std::size_t>(std::distance(begin(entries), end(entries)));
}

void RunInput(const FuzzInput& input, const ScratchDirectory& scratch) {
  Bench<ScriptedTarget> bench;
  ReachRegion(bench, scratch);
  ReceiveModel model = ModelFromState(bench.transfer.State(), bench.transfer.Active());
  Check(model.receiving && model.regionReady && !model.inFrame);
  const auto frameFile = scratch.File("pckurt.bin");
  FeedBoth(bench.transfer, model, input, false, [&] {
    std::error_code error;
    const bool exists = std::filesystem::exists(frameFile, error);
    Check(exists == model.inFrame);
    if (exists) Check(std::filesystem::file_size(frameFile) <= kLongestFrameFile);
  });
  Check(ReadFile(scratch.File("DumpBin.dbi")) == model.regionData);
  if (model.FrameLengthKnown()) StartNextRegion(bench.transfer);
  EndOpenFrame(bench.transfer);
  bench.transfer.Cancel();
  Check(bench.transfer.WaitUntilFinished(kHandshakeLimit));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const FuzzInput input = SplitInput({data, size});
  const ScratchDirectory scratch("receive_download_fuzz");
  const std::size_t openBefore = OpenDescriptors();
  RunInput(input, scratch);
  Check(OpenDescriptors() == openBefore);
  return 0;
}
