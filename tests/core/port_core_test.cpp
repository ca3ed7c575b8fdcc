// One PortCore kept alive across many Connect / transfer / Disconnect cycles, as the
// window keeps it, stopped on cue at every wait of a transfer; every wait is bounded.
#include <gtest/gtest.h>

#include <future>

#include "core/port_core.h"
#include "serial/serial_fakes.h"
#include "support/cue_sinks.h"
#include "transfer/packet_frame.h"
#include "transfer/report_texts.h"
#include "transfer/transfer_rig.h"

namespace tavrin::core::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using namespace tavrin::test;
using namespace transfer::result;

struct CoreHostRig {
  explicit CoreHostRig(serial::DeviceFactory factory) {
    CoreConfig config;
    config.tempDir = dir.Path();
    config.deviceFactory = std::move(factory);
    config.clock = &clock;
    core = std::make_unique<PortCore>(CoreHost{output, view, errors, view}, std::move(config));
  }

  TempDir dir;
  CueOutput output;
  RecordingView view;
  RecordingErrorSink errors;
  FakeClock clock;  // deadlines never fall due
  std::unique_ptr<PortCore> core;
};

constexpr std::size_t kFramePayload = 400;  // frames told apart from other writes by size

class LongLivedCore : public testing::Test {
 protected:
  LongLivedCore()
      : target_(line_.TargetEnd(), QuickTarget()),
        rig_(std::make_unique<CoreHostRig>([this](std::string_view) {
          return std::make_unique<GatedDevice>(line_.PcEnd(), gate_);
        })) {
    target_.Start();
    WriteUrt(Urt(), {DataFrame(kFramePayload, 0), DataFrame(kFramePayload, 1),
                     DataFrame(kFramePayload, 2)});
    WriteScript(files_.Path(), {{0x10000, 0x10000 + 700, 1}, {0x20000, 0x20000 + 700, 1}});
  }
  ~LongLivedCore() override {
    rig_.reset();
    target_.Stop();
  }

  PortCore& Core() { return *rig_->core; }
  RecordingView& View() { return rig_->view; }
  fs::path Urt() const { return files_ / "image.urt"; }
  fs::path Script() const { return files_ / "script.dsf"; }
  fs::path Saved() const { return files_ / "saved.dbf"; }

  void HoldNext(bool (*match)(std::span<const std::uint8_t>)) {
    gate_.Change([&](auto& gate) { gate = {match, false}; });
  }
  bool WaitHeld() {
    return gate_.WaitFor([](const auto& gate) { return gate.held; }, kCueWait);
  }

  void Connect() {
    serial::PortSettings settings;
    settings.portName = "memory";
    ASSERT_EQ(Core().Connect(settings), serial::OpenOutcome::kConnected);
  }

  int Ended() {  // the last result, once the transfer thread has ended
    EXPECT_TRUE(Core().WaitTransfer(kCueWait));
    const auto results = View().Results();
    return results.empty() ? 0 : results.back();
  }

  // Disconnect as the window runs it: the active transfer is stopped first.
  void DisconnectStopsTheTransfer() {
    EXPECT_TRUE(Core().Disconnect());
    EXPECT_FALSE(Core().TransferActive());
  }

  // The transfer stops on its cancel alone (a held write gives up only after kCueWait).
  void StopThenDisconnect() {
    EXPECT_TRUE(Core().StopTransfer(2s));
    DisconnectStopsTheTransfer();
  }

  void WholeUpload() {
    ASSERT_TRUE(Core().StartUpload(Urt()));
    EXPECT_EQ(Ended(), kUploadSuccess);
  }

  TempDir files_;
  sim::MemoryLink line_;
  sim::Target target_;
  Recorded<GatedDevice::Gate> gate_;
  std::unique_ptr<CoreHostRig> rig_;
};

TEST_F(LongLivedCore, EveryWayATransferIsStoppedLeavesTheCoreReadyForTheNext) {
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    Connect();
    WholeUpload();
    View().savePath = Saved();
    ASSERT_EQ(Core().StartDownload(Script()), DownloadStart::kStarted);
    EXPECT_EQ(Ended(), kDownloadSuccess);
    EXPECT_TRUE(fs::exists(Saved()));
    fs::remove(Saved());
    DisconnectStopsTheTransfer();

    // The save question ends with the transfer; an answer that comes later saves nothing.
    View().holdQuestion = true;
    Connect();
    ASSERT_EQ(Core().StartDownload(Script()), DownloadStart::kStarted);
    auto question = View().WaitForQuestion();
    ASSERT_TRUE(question);
    EXPECT_TRUE(question->Awaited());
    DisconnectStopsTheTransfer();
    EXPECT_FALSE(question->Awaited());
    question->Answer(Saved());
    EXPECT_FALSE(fs::exists(Saved()));
    EXPECT_EQ(View().Results().back(), kDownloadSuccess);
    View().holdQuestion = false;

    // A frame the target does not take: the cancel ends the write with report 23.
    Connect();
    HoldNext([](auto bytes) { return bytes.size() == kFramePayload + transfer::kFrameOverhead; });
    ASSERT_TRUE(Core().StartUpload(Urt()));
    ASSERT_TRUE(WaitHeld());
    StopThenDisconnect();
    EXPECT_EQ(View().Results().back(), kTerminated);

    // A download in its receive phase (running is already clear), its request held.
    Connect();
    HoldNext([](auto bytes) { return bytes.size() == 1 && bytes[0] == 0x05; });  // ENQ
    ASSERT_EQ(Core().StartDownload(Script()), DownloadStart::kStarted);
    ASSERT_TRUE(WaitHeld());
    EXPECT_FALSE(Core().State().running);
    StopThenDisconnect();
    EXPECT_EQ(View().Results().back(), kTerminated);

    // Pause pressed between a Cancel and the transfer's next cancel test: the cancel wins.
    Connect();
    View().sendIndicator.Arm();
    ASSERT_TRUE(Core().StartUpload(Urt()));
    ASSERT_TRUE(View().sendIndicator.WaitReached());
    Core().Cancel();
    Core().TogglePause();
    View().sendIndicator.Release();
    EXPECT_EQ(Ended(), kTerminated);
    EXPECT_FALSE(Core().State().pause);
    DisconnectStopsTheTransfer();
  }
  Connect();
  WholeUpload();
  DisconnectStopsTheTransfer();
  // The file-name field got owned values, not what the transfer holds by then.
  const auto names = View().seen.Get().fileNames;
  EXPECT_NE(std::find(names.begin(), names.end(), Urt()), names.end());
  EXPECT_NE(std::find(names.begin(), names.end(), Script()), names.end());
}

TEST_F(LongLivedCore, AMessageBoxStillOpenHoldsUpNeitherTheTransferNorItsCancel) {
  // pckurt.bin cannot be made: every dump frame gives "File Access Error ( Error : 0x0002 )".
  fs::create_directories(rig_->dir.Path() / "pckurt.bin" / "in-the-way");
  View().message.Arm();
  Connect();
  ASSERT_EQ(Core().StartDownload(Script()), DownloadStart::kStarted);
  ASSERT_TRUE(View().message.WaitReached());
  Core().Cancel();
  EXPECT_EQ(Ended(), kTerminated);
  View().message.Release();
  ASSERT_FALSE(View().seen.Get().messages.empty());
  EXPECT_EQ(View().seen.Get().messages[0], "Tavrin 1.1|File Access Error ( Error : 0x0002 )");
  DisconnectStopsTheTransfer();
}

// Nothing waits for the unanswered question, and the capture stays on disk.
TEST_F(LongLivedCore, DestroyedWhileADownloadAsksWhereToSaveEndsItAndKeepsTheCapture) {
  View().holdQuestion = true;
  Connect();
  ASSERT_EQ(Core().StartDownload(Script()), DownloadStart::kStarted);
  auto question = View().WaitForQuestion();
  ASSERT_TRUE(question);
  const fs::path capture = Core().CapturePath();
  auto destroyed = std::async(std::launch::async, [this] { rig_->core.reset(); });
  const bool ended = destroyed.wait_for(kCueWait) == std::future_status::ready;
  if (!ended) question->Answer(std::nullopt);  // lets a regression end rather than hang
  EXPECT_TRUE(ended);
  destroyed.get();
  EXPECT_FALSE(question->Awaited());
  EXPECT_TRUE(fs::exists(capture));
  for (const auto& line : rig_->errors.DebugLines()) {
    EXPECT_EQ(line.find("didn't exit"), std::string::npos) << line;
  }
}

// Every write is held until its stop is raised: a typed line and a COM test frame are
// queued at once, and the target's protocol bytes are blanked again after the cancel.
TEST(CoreOnAFakeLine, AWriteTheTargetDoesNotTakeHoldsUpNeitherTheUiNorTheCancel) {
  TempDir files;
  WriteUrt(files / "image.urt", {DataFrame(kFramePayload, 0)});
  auto line = std::make_shared<serial::test::FakeLine>();
  CoreHostRig rig([line](std::string_view) -> std::unique_ptr<serial::SerialDevice> {
    return std::make_unique<serial::test::FakeSerialDevice>(line);
  });
  line->HoldWrites();
  ASSERT_EQ(rig.core->Connect(serial::PortSettings{}), serial::OpenOutcome::kConnected);
  ASSERT_TRUE(rig.core->StartUpload(files / "image.urt"));
  ASSERT_TRUE(line->WaitForWrites(1));
  auto sendLine =
      std::async(std::launch::async, [&] { return rig.core->SendLine(AsBytes("hi\r")); });
  auto sendTest = std::async(std::launch::async, [&] { return rig.core->SendTestText("ping"); });
  ASSERT_EQ(sendLine.wait_for(kCueWait), std::future_status::ready);
  ASSERT_EQ(sendTest.wait_for(kCueWait), std::future_status::ready);
  EXPECT_TRUE(sendLine.get());
  EXPECT_EQ(sendTest.get(), serial::TestSendResult::kSent);

  rig.core->Cancel();
  EXPECT_TRUE(rig.core->WaitTransfer(kCueWait));
  EXPECT_EQ(rig.view.Results(), std::vector<int>{kTerminated});
  line->Receive(
      "A\x06"
      "B\x05");
  EXPECT_TRUE(rig.output.WaitFor("A B ")) << rig.output.Calls();
  EXPECT_TRUE(rig.core->Disconnect());
  EXPECT_FALSE(rig.core->SendLine(AsBytes("late\r")));  // no connection: refused at once
}

}  // namespace
}  // namespace tavrin::core::test
