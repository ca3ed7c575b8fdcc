#include "transfer/save_question.h"

#include <utility>

namespace tavrin::transfer {

void DownloadSaveQuestion::Answer(std::optional<std::filesystem::path> path) const {
  if (slot_) slot_->Answer(std::move(path));
}

bool DownloadSaveQuestion::Awaited() const {
  return slot_ && slot_->Open();
}

void DownloadSaveQuestion::Slot::Answer(std::optional<std::filesystem::path> path) {
  std::lock_guard lock(mutex_);
  if (!open_ || answered_) return;
  answer_ = std::move(path);
  answered_ = true;
  if (wake_) wake_();
}

bool DownloadSaveQuestion::Slot::Open() const {
  std::lock_guard lock(mutex_);
  return open_ && !answered_;
}

std::optional<std::filesystem::path> DownloadSaveQuestion::Slot::Close() {
  std::lock_guard lock(mutex_);
  open_ = false;
  wake_ = nullptr;
  return answer_;
}

}  // namespace tavrin::transfer
