#include <QMetaObject>

#include "app/output_view.h"

namespace tavrin::app {

OutputViewSink::OutputViewSink(OutputView& view, QObject* parent) : QObject(parent), view_(&view) {}

void OutputViewSink::Show(std::span<const std::uint8_t> bytes, ColourMark colour) {
  if (!bytes.empty()) Queue(bytes, colour, false);
}

void OutputViewSink::ClearOutput() {
  Queue({}, ColourMark::kNone, true);
}

// Copies the bytes (they are only valid during the call) onto the pending list: onto its
// last block when that is in the same colour, so a burst of small reads costs one
// allocation now and then. A clear makes everything still pending pointless, but the
// view itself must still be emptied, so it replaces the list with one clear.
void OutputViewSink::Queue(std::span<const std::uint8_t> bytes, ColourMark colour, bool clear) {
  bool post = false;
  {
    std::lock_guard lock(mutex_);
    if (clear) {
      pending_.clear();
      pending_.push_back({{}, ColourMark::kNone, true});
    } else if (!pending_.empty() && !pending_.back().clear && pending_.back().colour == colour) {
      pending_.back().bytes.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    } else {
      pending_.push_back(
          {std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size()), colour, false});
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
