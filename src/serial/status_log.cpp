#include "serial/status_log.h"

namespace tavrin::serial {

StatusLog::StatusLog() { UpdateStatus(kFirstStatusMessage); }

void StatusLog::UpdateStatus(std::string_view message) {
  {
    std::lock_guard lock(mutex_);
    ++sequence_;
    std::string entry = std::to_string(sequence_) + ":";
    entry.append(message);
    entries_.push_back(std::move(entry));
  }
  added_.notify_all();
}

std::vector<std::string> StatusLog::Entries() const {
  std::lock_guard lock(mutex_);
  return {entries_.begin(), entries_.end()};
}

std::size_t StatusLog::Count() const {
  std::lock_guard lock(mutex_);
  return entries_.size();
}

bool StatusLog::WaitForCount(std::size_t count, std::chrono::milliseconds timeout) const {
  std::unique_lock lock(mutex_);
  return added_.wait_for(lock, timeout, [&] { return entries_.size() >= count; });
}

}  // namespace tavrin::serial
