// Received blocks while a download receives a region. A real download is started on a
// one-record command image and led through its first half by a scripted target that
// answers each of the PC's writes from inside the write; the region is announced (0x17),
// and when the PC accepts it (ACK) the transfer thread is paused, so that it waits at the
// top of its frame loop and the fuzz input alone drives the receive processor.
//
// The Transfer is compared with the model after every block (blanked bytes, flags, the
// frame file existing exactly while a frame is received and never holding more than a
// frame), and DumpBin.dbi must end up holding exactly the model's region data. When the
// input leaves a frame open, the next region starts over it, as after a download
// cancelled in the middle of a frame; once the transfer has ended and the Transfer is
// gone, no file may stay open.
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <vector>

#include "receive_fuzz_support.h"
#include "transfer/packet_frame.h"

namespace {

using namespace tavrin::fuzz;
using tavrin::transfer::Transfer;
using namespace std::chrono_literals;

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
// inside each write. When the PC accepts the region (ACK) the transfer is paused and the
// fuzzer told.
class ScriptedTarget final : public tavrin::transfer::TransferPort {
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
      std::lock_guard lock(mutex_);
      accepted_ = true;
      changed_.notify_all();
    }
    return bytes.size();
  }
  tavrin::serial::DeviceResult PurgeReceive() override { return {}; }

  // True once the PC has accepted the region.
  bool WaitForAccept(std::chrono::microseconds timeout) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [this] { return accepted_; });
  }

 private:
  void Answer(std::vector<std::uint8_t> bytes) { transfer_->ProcessReceivedBytes(bytes); }

  Transfer* transfer_ = nullptr;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool accepted_ = false;
};

// Tells when the receive phase has begun: from then on a 0x17 announces the region
// instead of ending the transfer.
class PhaseView final : public tavrin::transfer::TransferView {
 public:
  void ShowProgressBar(bool shown) override {
    if (!shown) return;
    std::lock_guard lock(mutex_);
    receivePhase_ = true;
    changed_.notify_all();
  }
  void ShowMessage(std::string, std::string, tavrin::transfer::MessageIcon) override {
    __builtin_trap();  // the harness's own files could not be made
  }
  bool WaitForReceivePhase(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [this] { return receivePhase_; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool receivePhase_ = false;
};

struct DownloadBench {
  ScriptedTarget port;
  PhaseView view;
  NullCapture capture;
  FixedClock clock;
  QuietErrors errors;
  tavrin::serial::StatusLog status;
  Transfer transfer{tavrin::transfer::TransferContext{port, view, capture, clock, errors, status}};
};

// A command image asking for one region.
void WriteCommandImage(const std::filesystem::path& path) {
  const std::vector<std::uint8_t> command(16, 0x00);
  auto image = std::vector<std::uint8_t>{'M', 'Z', 0x00, 0x00, 0x00, 0x01};
  const auto frame = tavrin::transfer::BuildFrame(command);
  image.insert(image.end(), frame.begin(), frame.end());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(image.data()),
            static_cast<std::streamsize>(image.size()));
}

// Runs the download up to the accepted region; the region's DumpBin.dbi is then open and
// the transfer thread paused.
void ReachRegion(DownloadBench& bench, const ScratchDirectory& scratch) {
  bench.port.Attach(bench.transfer);
  WriteCommandImage(scratch.File("CmdUrtFile.urt"));
  tavrin::transfer::DownloadPlan plan{scratch.File("s.dsf"), scratch.Path(), {{}}};
  Check(bench.transfer.StartDownload(scratch.File("CmdUrtFile.urt"), plan));
  Check(bench.view.WaitForReceivePhase(kHandshakeLimit));
  // The region start clears region-ready: announce again until the PC accepts.
  const auto deadline = std::chrono::steady_clock::now() + kHandshakeLimit;
  do {
    Check(std::chrono::steady_clock::now() < deadline);
    std::vector<std::uint8_t> announce = {0x17};
    bench.transfer.ProcessReceivedBytes(announce);
  } while (!bench.port.WaitForAccept(kAnnounceRetry));
}

// The transfer thread starts the next region while a frame is still open (only done when
// the frame's length bytes have all come, since the region start also forgets a length
// half read, which only the receive processor itself can do): it clears in-frame and
// region-ready, then the target says it is ready and begins a frame.
void StartNextRegion(Transfer& transfer) {
  auto& state = transfer.State();
  state.inFrame = false;
  state.regionReady = false;
  state.nakPending = false;
  state.enqPending = true;
  std::vector<std::uint8_t> lead = {0x17, 0x02, 0x00, 0x00, 0x00};
  transfer.ProcessReceivedBytes(lead);
}

// Ends a frame left open so that the cancelled download leaves nothing behind: a run of
// bytes longer than any frame makes the receive processor reject it.
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
  DownloadBench bench;
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
  const ScratchDirectory scratch({"pckurt.bin", "DumpBin.dbi", "zvqDumpBIN.fdb", "CmdUrtFile.urt"});
  const std::size_t openBefore = OpenDescriptors();
  RunInput(input, scratch);
  Check(OpenDescriptors() == openBefore);
  return 0;
}
