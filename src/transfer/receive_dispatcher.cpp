#include "transfer/receive_dispatcher.h"

namespace tavrin::transfer {

void ReceiveDispatcher::OutputABuffer(std::span<std::uint8_t> block) {
  if (block.empty()) {
    errors_.Debug("NULL Buffer in OutputABuffer\n\r");
    return;
  }
  if (comTest_ && comTest_->TestActive()) {
    comTest_->ComTestReceive(block);
    return;
  }
  // Received text is neither captured nor shown while a download runs. The mode is taken
  // before the block is processed: the block that completes a download's last frame lets
  // the transfer end (and leave download mode) before this call returns, and that block
  // must not then be shown as text.
  TransferState& state = transfer_.State();
  const bool downloading = state.mode == TransferMode::kDownload;
  transfer_.ProcessReceivedBytes(block);
  if (downloading) return;
  if (state.captureHold) return;
  capture_.WriteToCapture(block, terminal::ColourMark::kNone);
}

std::size_t ReceiveDispatcher::BytesStillComing() const {
  if (comTest_ && comTest_->TestActive()) return 0;
  return transfer_.FrameBytesStillComing();
}

}  // namespace tavrin::transfer
