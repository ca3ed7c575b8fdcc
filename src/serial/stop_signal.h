// The thread-exit signal of the link: raised to end both link threads and any write in
// progress, reset once they have ended so that the next connection can use it. A flag
// for quick checks and an eventfd that poll() can wait on beside the device.
#pragma once

#include <atomic>

#include "serial/serial_device.h"

namespace tavrin::serial {

class StopSignal {
 public:
  StopSignal();
  ~StopSignal();
  StopSignal(const StopSignal&) = delete;
  StopSignal& operator=(const StopSignal&) = delete;

  // False when the eventfd could not be made; CreateError() then holds the errno.
  bool Valid() const { return fd_ >= 0; }
  int CreateError() const { return createError_; }

  void Raise();
  void Reset();
  bool Raised() const { return raised_.load(); }
  // Readable while the signal is raised.
  StopFd Fd() const { return fd_; }

 private:
  int fd_ = -1;
  int createError_ = 0;
  std::atomic<bool> raised_{false};
};

}  // namespace tavrin::serial
