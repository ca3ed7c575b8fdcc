// StatusLog: the in-memory log of numbered notes about line events, line errors and
// aborted or short I/O. Entries are "%d:%s" (sequence number, message unchanged) and are
// never removed. UpdateStatus may be called from any thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace tavrin::serial {

inline constexpr std::string_view kFirstStatusMessage = "Status message go here:\r\n";

class StatusLog {
 public:
  // The log starts with its first message as entry 1.
  StatusLog();

  void UpdateStatus(std::string_view message);

  std::vector<std::string> Entries() const;
  std::size_t Count() const;
  // Waits (bounded) until the log holds at least `count` entries; the status-message
  // event of the log. Returns whether it got there.
  bool WaitForCount(std::size_t count, std::chrono::milliseconds timeout) const;

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable added_;
  int sequence_ = 0;
  std::deque<std::string> entries_;
};

}  // namespace tavrin::serial
