// How transfers end: the controls each end sets, what a cancel leaves behind, and the
// downloaded file that cannot be saved.
#include <gtest/gtest.h>

#include <deque>

#include "transfer/packet_frame.h"
#include "transfer_rig.h"

namespace tavrin::test {
namespace {

using transfer::kAck;
using transfer::kEnq;
using transfer::kEtb;

enum class Mode { kUpload, kDownload };
enum class Trouble { kNone, kShortWrite, kFrameError };

struct EndCase {
  const char* name;
  Mode mode;
  Trouble trouble;
  std::vector<int> results;
  std::vector<std::string> controls;
};

void PrintTo(const EndCase& row, std::ostream* os) {
  *os << row.name;
}

class TransferEnd : public testing::TestWithParam<EndCase> {};

// COM Port Testing comes back as soon as the image has gone, in both modes. An upload's
// end clears the file name and refreshes the menus; a download's command image that fails
// leaves both as the Download start set them.
TEST_P(TransferEnd, SetsTheControlsOfItsMode) {
  const EndCase& row = GetParam();
  TransferRig rig(QuickTarget({}, sim::Scenario::kAckThenEnqLater));  // no mode command
  rig.view.savePath = rig.dir / "saved.dbf";
  if (row.mode == Mode::kUpload) {
    WriteUrt(rig.dir / "image.urt", {DataFrame(100, 1), DataFrame(100, 2)});
    if (row.trouble == Trouble::kShortWrite) rig.damage = {.size = 109, .nth = 1, .cut = true};
    if (row.trouble == Trouble::kFrameError) {
      std::filesystem::resize_file(rig.dir / "image.urt", 28 + 109 + 50);
    }
    rig.transfer.StartUpload(rig.dir / "image.urt");
  } else {
    const auto plan = WriteScript(rig.dir.Path(), {{0, 500, 1}, {500, 600, 2}});
    const auto image = rig.dir / "CmdUrtFile.urt";
    if (row.trouble == Trouble::kShortWrite) rig.damage = {.size = 25, .nth = 2, .cut = true};
    if (row.trouble == Trouble::kFrameError) {
      std::filesystem::resize_file(image, std::filesystem::file_size(image) - 1);
    }
    rig.transfer.StartDownload(image, plan);
  }
  ASSERT_TRUE(rig.WaitForEnd());
  EXPECT_EQ(rig.view.Results(), row.results);
  EXPECT_EQ(rig.view.seen.Get().controls, row.controls);
  EXPECT_FALSE(rig.transfer.State().running);
  EXPECT_EQ(rig.transfer.State().mode, transfer::TransferMode::kUpload);
}

INSTANTIATE_TEST_SUITE_P(
    Ends, TransferEnd,
    testing::Values(EndCase{"UploadFinishes",
                            Mode::kUpload,
                            Trouble::kNone,
                            {1},
                            {"refresh", "refresh", "name:image.urt", "name:", "refresh", "comtest",
                             "idle", "label"}},
                    EndCase{"UploadShortWrite",
                            Mode::kUpload,
                            Trouble::kShortWrite,
                            {},
                            {"refresh", "refresh", "name:image.urt", "name:", "refresh", "comtest",
                             "idle", "label"}},
                    EndCase{"UploadFrameError",
                            Mode::kUpload,
                            Trouble::kFrameError,
                            {-3},
                            {"refresh", "refresh", "name:image.urt", "name:", "refresh", "comtest",
                             "idle", "label"}},
                    // The receive phase runs with COM Port Testing on; its end sets the rest.
                    EndCase{"DownloadFinishes",
                            Mode::kDownload,
                            Trouble::kNone,
                            {2, 3},
                            {"refresh", "refresh", "name:script.dsf", "comtest", "idle", "refresh",
                             "name:", "label"}},
                    EndCase{"DownloadShortWrite",
                            Mode::kDownload,
                            Trouble::kShortWrite,
                            {},
                            {"refresh", "refresh", "name:script.dsf", "comtest", "idle", "label"}},
                    EndCase{"DownloadFrameError",
                            Mode::kDownload,
                            Trouble::kFrameError,
                            {-3},
                            {"refresh", "refresh", "name:script.dsf", "comtest", "idle", "label"}}),
    [](const auto& row) { return std::string(row.param.name); });

// A downloaded file that cannot be copied where the operator chose is not reported as saved.
TEST(DownloadSave, ACopyThatFailsSaysFileAccessError) {
  TransferRig rig(QuickTarget());
  rig.view.savePath = rig.dir / "missing-folder" / "saved.dbf";
  rig.transfer.StartDownload(rig.dir / "CmdUrtFile.urt",
                             WriteScript(rig.dir.Path(), {{0, 300, 1}}));
  ASSERT_TRUE(rig.WaitForEnd());
  EXPECT_EQ(rig.view.Results(), (std::vector<int>{2, 3}));
  EXPECT_EQ(rig.view.seen.Get().messages,
            std::vector<std::string>{"Tavrin 1.1|Error No: -3 \n File Access Error!!!"});
  EXPECT_FALSE(std::filesystem::exists(*rig.view.savePath));
  EXPECT_TRUE(std::filesystem::exists(rig.dir / "zvqDumpBIN.fdb"));  // kept for another try
}

// The target played by the test: it takes the transfer's writes and hands the transfer
// its answers on the test's thread, as the reader thread would, so that a transfer can be
// stopped at any byte.
class HandPort final : public transfer::TransferPort {
 public:
  std::size_t Write(std::span<const std::uint8_t> bytes, const serial::StopSignal&) override {
    writes_.Change([&](std::deque<Bytes>& w) { w.emplace_back(bytes.begin(), bytes.end()); });
    return bytes.size();
  }
  serial::DeviceResult PurgeReceive() override { return serial::DeviceResult::Ok(); }

  // The next write that is not an attention byte (repeated until the target answers);
  // empty when none comes within `wait`.
  Bytes Next(std::chrono::milliseconds wait = kCueWait) {
    Bytes next;
    const auto deadline = std::chrono::steady_clock::now() + wait;
    while (next.empty()) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left <= 0ms || !writes_.WaitFor([](const auto& w) { return !w.empty(); }, left)) break;
      writes_.Change([&](std::deque<Bytes>& w) {
        next = std::move(w.front());
        w.pop_front();
      });
      if (next == Bytes{kEtb}) next.clear();
    }
    return next;
  }
  bool WaitForAttention() {
    return writes_.WaitFor([](const auto& w) { return !w.empty() && w.front() == Bytes{kEtb}; },
                           kCueWait);
  }

 private:
  Recorded<std::deque<Bytes>> writes_;
};

class HandTarget : public testing::Test {
 protected:
  void Send(Bytes bytes) { dispatcher_.OutputABuffer(bytes); }

  // Attention answered with ACK and ENQ: the mode command (when the transfer saw ready in
  // time), then the who-am-I command; returns the latter.
  Bytes AnswerAttention() {
    EXPECT_TRUE(port_.WaitForAttention());
    Send({kAck, kEnq});
    Bytes command = port_.Next();
    if (command.size() == 13) {  // the mode command
      Send({kEnq});
      command = port_.Next();
    }
    EXPECT_EQ(command.size(), 12u);  // who-am-I
    return command;
  }

  // From the who-am-I answer to the first frame the transfer sends.
  Bytes AnswerWhoAmI() {
    Bytes answer{0xFE, 0x01, 0x00};
    answer.insert(answer.end(), sim::kDefaultIdentity.begin(), sim::kDefaultIdentity.end());
    Send(answer);
    Send({kEnq});
    EXPECT_EQ(port_.Next().size(), 23u);  // the reply
    Send({kEnq});
    return port_.Next();
  }

  // Offers the region until the transfer accepts it with ACK, then takes its first ENQ.
  void OfferRegion() {
    Bytes accepted;
    for (int tries = 0; tries < 50 && accepted.empty(); ++tries) {
      Send({kEtb});
      accepted = port_.Next(100ms);
    }
    ASSERT_EQ(accepted, Bytes{kAck});
    ASSERT_EQ(port_.Next(), Bytes{kEnq});
  }

  bool CancelAndWait() {
    transfer_.Cancel();
    return transfer_.WaitUntilFinished(kCueWait);
  }

  TempDir dir_;
  HandPort port_;
  RecordingView view_;
  RecordingCapture capture_;
  FakeClock clock_;
  RecordingErrorSink errors_;
  serial::StatusLog status_;
  transfer::Transfer transfer_{{port_, view_, capture_, clock_, errors_, status_}};
  transfer::ReceiveDispatcher dispatcher_{transfer_, capture_, errors_};
};

// A cancel while the who-am-I answer is part-way in forgets it: later text is blanked
// and captured whole.
TEST_F(HandTarget, ACancelForgetsAPartAnswer) {
  WriteUrt(dir_ / "image.urt", {DataFrame(10, 1)});
  ASSERT_TRUE(transfer_.StartUpload(dir_ / "image.urt"));
  AnswerAttention();
  Send({0xFE, 0x01, 0x00, 0x55, 0x66, 0x77});  // 3 of the answer's 11 bytes
  ASSERT_TRUE(CancelAndWait());
  EXPECT_EQ(view_.Results(), std::vector<int>{23});
  Send({'o', 'k', kAck, '\r', '\n'});
  Send({'n', kEnq, 'w'});
  const auto blocks = capture_.Blocks();
  ASSERT_GE(blocks.size(), 2u);
  EXPECT_EQ(blocks[blocks.size() - 2].bytes, "ok \r\n");
  EXPECT_EQ(blocks.back().bytes, "n w");
}

// A cancel in the middle of a dump frame leaves the frame's file, as every temporary file.
TEST_F(HandTarget, ACancelInsideADumpFrameLeavesItsFile) {
  const auto plan = WriteScript(dir_.Path(), {{0, 100, 1}});
  ASSERT_TRUE(transfer_.StartDownload(dir_ / "CmdUrtFile.urt", plan));
  AnswerAttention();
  ASSERT_EQ(AnswerWhoAmI().size(), 25u);  // the region's command packet
  Send({kEnq});
  ASSERT_TRUE(view_.WaitForResults(1, kCueWait));  // 2: the command image has gone
  OfferRegion();
  Send({transfer::kHeaderStart, 0x00, 0x00, 0x40, 0xF1, 1, 2, 3, 4});
  ASSERT_TRUE(CancelAndWait());
  EXPECT_EQ(view_.Results(), (std::vector<int>{2, 23}));
  EXPECT_EQ(ReadBytes(dir_ / "pckurt.bin"), (Bytes{0xF1, 1, 2, 3, 4}));
  EXPECT_TRUE(std::filesystem::exists(dir_ / "DumpBin.dbi"));
}

}  // namespace
}  // namespace tavrin::test
