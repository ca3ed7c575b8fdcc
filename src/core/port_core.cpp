#include "core/port_core.h"

#include <optional>

#include "scripts/command_image.h"
#include "scripts/script_record.h"
#include "serial/status_log.h"
#include "transfer/receive_dispatcher.h"
#include "transfer/transfer.h"

namespace tavrin::core {
namespace {

constexpr const char* kCommandImageName = "CmdUrtFile.urt";
constexpr std::string_view kTransferDidNotExit = "Transfer Thread didn't exit.\n\r";

// The transfer writes through the link's WriterGeneric; the trace sees every byte sent.
class LinkTransferPort final : public transfer::TransferPort {
 public:
  explicit LinkTransferPort(LineTrace* trace) : trace_(trace) {}
  void Attach(serial::SerialLink& link) { link_ = &link; }

  std::size_t Write(std::span<const std::uint8_t> bytes,
                    const serial::StopSignal& cancel) override {
    if (trace_) trace_->Sent(bytes);
    return link_ ? link_->WriterGeneric(bytes, &cancel) : 0;
  }
  serial::DeviceResult PurgeReceive() override {
    return link_ ? link_->PurgeReceive() : serial::DeviceResult::Ok();
  }

 private:
  LineTrace* trace_;
  serial::SerialLink* link_ = nullptr;
};

// Every received block passes the trace on its way to the receive dispatcher.
class TracingReceiver final : public serial::ReceiveHandler {
 public:
  TracingReceiver(serial::ReceiveHandler& inner, LineTrace* trace) : inner_(inner), trace_(trace) {}
  void OutputABuffer(std::span<std::uint8_t> block) override {
    if (trace_) trace_->Received(block);
    inner_.OutputABuffer(block);
  }
  std::size_t BytesStillComing() const override { return inner_.BytesStillComing(); }

 private:
  serial::ReceiveHandler& inner_;
  LineTrace* trace_;
};

class ComTestAdapter final : public transfer::ComTestReceiver {
 public:
  explicit ComTestAdapter(serial::ComTest& test) : test_(test) {}
  bool TestActive() const override { return test_.Active(); }
  void ComTestReceive(std::span<const std::uint8_t> block) override { test_.ComTestReceive(block); }

 private:
  serial::ComTest& test_;
};

}  // namespace

// The parts in the order they are built; they are destroyed in reverse, so the link (and
// with it the reader and writer threads) goes before anything those threads use.
struct PortCore::Parts {
  Parts(const CoreHost& host, CoreConfig config)
      : tempDir(std::move(config.tempDir)),
        errors(host.errors),
        reporter(host.errors),
        capture(tempDir, host.output, reporter),
        clock(config.clock ? *config.clock : systemClock),
        trace(config.trace),
        port(config.trace),
        transfer({port, host.view, capture, clock, host.errors, status}),
        dispatcher(transfer, capture, host.errors),
        receiver(dispatcher, config.trace),
        comTest(host.comTestView),
        comTestAdapter(comTest),
        link(receiver, status, reporter,
             config.deviceFactory ? std::move(config.deviceFactory)
                                  : serial::LatencyCheckedDeviceFactory(
                                        status, std::move(config.latencyNotice), serial::kSysfsRoot,
                                        std::move(config.openFailure)),
             config.linkTimings) {
    port.Attach(link);
    dispatcher.SetComTest(&comTestAdapter);
  }

  std::filesystem::path tempDir;
  serial::ErrorSink& errors;
  serial::ErrorReporter reporter;
  serial::StatusLog status;
  terminal::CaptureLog capture;
  transfer::SystemClock systemClock;
  transfer::Clock& clock;
  LineTrace* trace;
  LinkTransferPort port;
  transfer::Transfer transfer;
  transfer::ReceiveDispatcher dispatcher;
  TracingReceiver receiver;
  serial::ComTest comTest;
  ComTestAdapter comTestAdapter;
  serial::SerialLink link;
};

PortCore::PortCore(CoreHost host, CoreConfig config)
    : parts_(std::make_unique<Parts>(host, std::move(config))) {}

PortCore::~PortCore() {
  // The port first, link threads joined (also one that is closing the port itself after a
  // fatal error), so that nothing feeds the transfer or the capture any more; then the
  // transfer, which ends on its cancel (its writes find no connection); then the rest, in
  // the reverse order of building.
  const bool linkEnded = parts_->link.Shutdown();
  const bool transferEnded = StopTransfer(kTransferStopLimit);
  if (!linkEnded || !transferEnded) {
    // A thread that does not end is inside a host call that does not return. The objects
    // it uses stay: they are never destroyed under it.
    if (!transferEnded) parts_->errors.Debug(kTransferDidNotExit);
    static_cast<void>(parts_.release());
  }
}

serial::OpenOutcome PortCore::Connect(const serial::PortSettings& settings) {
  return parts_->link.OpenPort(settings);
}

bool PortCore::Disconnect() {
  StopTransfer(kTransferStopLimit);
  return parts_->link.ClosePort();
}

bool PortCore::Connected() const {
  return parts_->link.Connected();
}

bool PortCore::StartUpload(const std::filesystem::path& urtFile) {
  return parts_->transfer.StartUpload(urtFile);
}

DownloadStart PortCore::StartDownload(const std::filesystem::path& scriptPath) {
  if (parts_->transfer.Active()) return DownloadStart::kBusy;
  auto table = scripts::PrepareDownload(scriptPath, parts_->tempDir);
  if (!table) return DownloadStart::kScriptUnreadable;
  transfer::DownloadPlan plan{scriptPath, parts_->tempDir, {}};
  plan.headerData.reserve(table->size());
  for (const auto& header : *table) plan.headerData.push_back(scripts::EncodeHeaderData(header));
  const bool started =
      parts_->transfer.StartDownload(parts_->tempDir / kCommandImageName, std::move(plan));
  return started ? DownloadStart::kStarted : DownloadStart::kBusy;
}

void PortCore::Cancel() {
  parts_->transfer.Cancel();
}

void PortCore::TogglePause() {
  parts_->transfer.TogglePause();
}

bool PortCore::TransferActive() const {
  return parts_->transfer.Active();
}

bool PortCore::StopTransfer(std::chrono::milliseconds limit) {
  if (!parts_->transfer.Active()) return true;
  parts_->transfer.Cancel();
  return parts_->transfer.WaitUntilFinished(limit);
}

bool PortCore::WaitTransfer(std::chrono::milliseconds limit) {
  return parts_->transfer.WaitUntilFinished(limit);
}

const transfer::TransferState& PortCore::State() const {
  return parts_->transfer.State();
}

bool PortCore::QueueCharWrite(std::uint8_t character) {
  return parts_->link.QueueCharWrite(character);
}

bool PortCore::SendLine(std::span<const std::uint8_t> bytes) {
  return QueueBytes(bytes);
}

// Through the writer thread's queue, like typed keys: the host's thread never waits for
// the port, nor for a transfer's write that holds it.
bool PortCore::QueueBytes(std::span<const std::uint8_t> bytes) {
  if (!parts_->link.QueueWrite(bytes)) return false;
  if (parts_->trace) parts_->trace->Sent(bytes);
  return true;
}

terminal::SaveResult PortCore::SaveLog(const std::filesystem::path& logPath) {
  return parts_->capture.Save(logPath);
}

void PortCore::ClearLog() {
  parts_->capture.Clear();
}

void PortCore::DeleteCapture() {
  parts_->capture.CloseAndDelete();
}

const std::filesystem::path& PortCore::CapturePath() const {
  return parts_->capture.Path();
}

const std::filesystem::path& PortCore::TempDir() const {
  return parts_->tempDir;
}

void PortCore::SetComTestActive(bool active) {
  parts_->comTest.SetActive(active);
}

serial::TestSendResult PortCore::SendTestText(std::string_view text) {
  return serial::SendTestFrame(text, [this](std::span<const std::uint8_t> bytes) {
    return QueueBytes(bytes) ? bytes.size() : std::size_t{0};
  });
}

serial::StatusLog& PortCore::Status() {
  return parts_->status;
}

}  // namespace tavrin::core
