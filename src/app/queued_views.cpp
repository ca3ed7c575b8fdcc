#include "app/queued_views.h"

#include <QWidget>
#include <cstdio>

namespace tavrin::app {

QueuedTransferView::QueuedTransferView(transfer::TransferView& uiView) : uiView_(uiView) {}

QueuedTransferView::~QueuedTransferView() = default;

void QueuedTransferView::Post(std::function<void(transfer::TransferView&)> call) {
  queue_.Post([view = &uiView_, call = std::move(call)] { call(*view); });
}

void QueuedTransferView::SetSendIndicator(bool shown) {
  Post([shown](transfer::TransferView& v) { v.SetSendIndicator(shown); });
}

void QueuedTransferView::SetReceiveIndicator(bool shown) {
  Post([shown](transfer::TransferView& v) { v.SetReceiveIndicator(shown); });
}

void QueuedTransferView::SetTotal(std::optional<std::uint32_t> total) {
  Post([total](transfer::TransferView& v) { v.SetTotal(total); });
}

void QueuedTransferView::SetSent(std::optional<std::uint32_t> sent) {
  Post([sent](transfer::TransferView& v) { v.SetSent(sent); });
}

void QueuedTransferView::FrameWritten(std::size_t bytes) {
  Post([bytes](transfer::TransferView& v) { v.FrameWritten(bytes); });
}

void QueuedTransferView::SetFileName(std::filesystem::path path) {
  Post([path = std::move(path)](transfer::TransferView& v) { v.SetFileName(path); });
}

void QueuedTransferView::SetProgressRange(std::uint32_t max) {
  Post([max](transfer::TransferView& v) { v.SetProgressRange(max); });
}

void QueuedTransferView::SetProgressPosition(std::uint32_t position) {
  Post([position](transfer::TransferView& v) { v.SetProgressPosition(position); });
}

void QueuedTransferView::StepProgress() {
  Post([](transfer::TransferView& v) { v.StepProgress(); });
}

void QueuedTransferView::ShowProgressBar(bool shown) {
  Post([shown](transfer::TransferView& v) { v.ShowProgressBar(shown); });
}

void QueuedTransferView::HideProgressLabel() {
  Post([](transfer::TransferView& v) { v.HideProgressLabel(); });
}

void QueuedTransferView::RefreshTransferState() {
  Post([](transfer::TransferView& v) { v.RefreshTransferState(); });
}

void QueuedTransferView::TransferControlsIdle() {
  Post([](transfer::TransferView& v) { v.TransferControlsIdle(); });
}

void QueuedTransferView::OfferComPortTesting() {
  Post([](transfer::TransferView& v) { v.OfferComPortTesting(); });
}

void QueuedTransferView::ShowMessage(std::string caption, std::string text,
                                     transfer::MessageIcon icon) {
  Post([caption = std::move(caption), text = std::move(text), icon](transfer::TransferView& v) {
    v.ShowMessage(caption, text, icon);
  });
}

void QueuedTransferView::ResultReported(int code) {
  Post([code](transfer::TransferView& v) { v.ResultReported(code); });
}

void QueuedTransferView::RegionCrcMismatch(int region) {
  Post([region](transfer::TransferView& v) { v.RegionCrcMismatch(region); });
}

void QueuedTransferView::RegionProgress(int region, std::uint64_t bytes) {
  Post([region, bytes](transfer::TransferView& v) { v.RegionProgress(region, bytes); });
}

void QueuedTransferView::AskDownloadSavePath(transfer::DownloadSaveQuestion question) {
  // A question dropped with the window is never answered: the transfer ends on the Cancel
  // that closing the window gives it.
  Post([question = std::move(question)](transfer::TransferView& v) {
    v.AskDownloadSavePath(question);
  });
}

QueuedErrorSink::QueuedErrorSink(UserPrompts& prompts, std::function<void()> endProcess)
    : prompts_(prompts), endProcess_(std::move(endProcess)) {}

void QueuedErrorSink::SetOwner(QWidget* owner) {
  owner_ = owner;
}

void QueuedErrorSink::ShowError(std::string text) {
  // The queue runs one call at a time: a later report or the end waits for this box.
  queue_.Post([this, text = std::move(text)] {
    prompts_.Message(owner_.data(), kErrorBoxCaption, QString::fromStdString(text),
                     PromptIcon::kNone);
  });
}

void QueuedErrorSink::Debug(std::string_view text) {
  std::string line(text);
  if (line.empty() || line.back() != '\n') line.push_back('\n');
  std::fwrite(line.data(), 1, line.size(), stderr);
}

void QueuedErrorSink::EndProcess() {
  queue_.Post([this] {
    if (endProcess_) endProcess_();
  });
}

}  // namespace tavrin::app
