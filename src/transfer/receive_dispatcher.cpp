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
  transfer_.ProcessReceivedBytes(block);
  TransferState& state = transfer_.State();
  // Received text is neither captured nor shown while a download runs.
  if (state.mode == TransferMode::kDownload) return;
  if (state.captureHold) return;
  capture_.WriteToCapture(block, terminal::ColourMark::kNone);
}

}  // namespace tavrin::transfer
