#include <QMetaObject>

#include "app/output_view.h"

namespace tavrin::app {

OutputViewSink::OutputViewSink(OutputView& view, QObject* parent) : QObject(parent), view_(&view) {}

void OutputViewSink::Show(std::span<const std::uint8_t> bytes, ColourMark colour) {
  if (!bytes.empty()) Queue({OutputBlock::Kind::kText, bytes.size(), colour, nullptr});
}

void OutputViewSink::ClearOutput() {
  Queue({OutputBlock::Kind::kClear, 0, ColourMark::kNone, nullptr});
}

void OutputViewSink::UseCaptureFile(std::shared_ptr<const CaptureReader> file) {
  Queue({OutputBlock::Kind::kFile, 0, ColourMark::kNone, std::move(file)});
}

// Adds the block to the pending list: onto its last block when that is text in the same
// colour, so a burst of small reads is one entry. A clear makes everything still pending
// pointless, but the view itself must still be emptied, so it replaces the list with one
// clear.
void OutputViewSink::Queue(OutputBlock block) {
  bool post = false;
  {
    std::lock_guard lock(mutex_);
    if (block.kind == OutputBlock::Kind::kClear) {
      pending_.clear();
      pending_.push_back(std::move(block));
    } else if (block.kind == OutputBlock::Kind::kText && !pending_.empty() &&
               pending_.back().kind == OutputBlock::Kind::kText &&
               pending_.back().colour == block.colour) {
      pending_.back().length += block.length;
    } else {
      pending_.push_back(std::move(block));
    }
    post = !drainPosted_;
    drainPosted_ = true;
  }
  // Posting only queues an event; the UI thread runs the drain at its next turn.
  if (post) QMetaObject::invokeMethod(this, &OutputViewSink::Drain, Qt::QueuedConnection);
}

void OutputViewSink::Drain() {
  std::vector<OutputBlock> blocks;
  {
    std::lock_guard lock(mutex_);
    blocks.swap(pending_);
    drainPosted_ = false;
  }
  if (view_ && !blocks.empty()) view_->ApplyBlocks(std::move(blocks));
}

}  // namespace tavrin::app
