// A signal that ends waits: the link's thread-exit signal (raised to end both link
// threads and any write in progress, reset once they have ended so that the next
// connection can use it), or a transfer's cancel (raised by Cancel, reset by the next
// start). A flag for quick checks and an eventfd that poll() can wait on beside the
// device.
#pragma once

#include <atomic>
#include <chrono>

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
  // Waits up to `limit` for the signal; true when it is raised.
  bool WaitFor(std::chrono::microseconds limit) const;

 private:
  int fd_ = -1;
  int createError_ = 0;
  std::atomic<bool> raised_{false};
};

// One descriptor that poll() finds readable while either of two signals is raised (an
// epoll instance watching both): a device call waits on one stop descriptor, and a
// transfer's write must end on the link's stop and on the transfer's cancel alike.
class EitherSignal {
 public:
  EitherSignal(const StopSignal& first, const StopSignal& second);
  ~EitherSignal();
  EitherSignal(const EitherSignal&) = delete;
  EitherSignal& operator=(const EitherSignal&) = delete;

  // The combined descriptor; `first`'s own when the epoll instance could not be made (the
  // wait then ends on `first` alone).
  StopFd Fd() const { return fd_ >= 0 ? fd_ : first_; }

 private:
  int fd_ = -1;
  StopFd first_;
};

}  // namespace tavrin::serial
