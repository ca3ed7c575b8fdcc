#include "serial/low_latency.h"

#include <linux/serial.h>
#include <sys/ioctl.h>

#include <cerrno>

namespace tavrin::serial {
namespace {

// serial_struct keeps its flags in an int; the kernel names the bits unsigned.
constexpr int kLowLatencyFlag = static_cast<int>(ASYNC_LOW_LATENCY);

}  // namespace

SerialInfoCalls KernelSerialInfoCalls() {
  return {
      [](int fd, serial_struct& info) { return ::ioctl(fd, TIOCGSERIAL, &info) == 0 ? 0 : errno; },
      [](int fd, const serial_struct& info) {
        return ::ioctl(fd, TIOCSSERIAL, &info) == 0 ? 0 : errno;
      },
  };
}

std::optional<int> EnterLowLatency(int fd, const SerialInfoCalls& calls) {
  serial_struct info{};
  if (calls.get(fd, info) != 0) return std::nullopt;  // no such driver call: a pty
  const int previous = info.flags;
  if ((previous & kLowLatencyFlag) != 0) return std::nullopt;
  info.flags = previous | kLowLatencyFlag;
  if (calls.set(fd, info) != 0) return std::nullopt;
  return previous;
}

bool LeaveLowLatency(int fd, int previousFlags, const SerialInfoCalls& calls) {
  serial_struct info{};
  if (calls.get(fd, info) != 0) return false;
  info.flags = (info.flags & ~kLowLatencyFlag) | (previousFlags & kLowLatencyFlag);
  return calls.set(fd, info) == 0;
}

}  // namespace tavrin::serial
