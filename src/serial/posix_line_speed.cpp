// Line speeds through the kernel's termios2 interface (BOTHER): any rate the UART's
// divisor can reach, not only the ones <termios.h> names. This unit must not include
// <termios.h>, whose struct termios clashes with the kernel's.
#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstdint>
#include <optional>

namespace tavrin::serial {

int SetCustomLineSpeed(int fd, std::uint32_t baudRate) {
  struct termios2 settings {};
  if (ioctl(fd, TCGETS2, &settings) != 0) return errno;
  settings.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
  settings.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
  settings.c_ispeed = baudRate;
  settings.c_ospeed = baudRate;
  if (ioctl(fd, TCSETS2, &settings) != 0) return errno;
  return 0;
}

std::optional<std::uint32_t> ReadLineSpeed(int fd) {
  struct termios2 settings {};
  if (ioctl(fd, TCGETS2, &settings) != 0) return std::nullopt;
  return settings.c_ospeed;
}

}  // namespace tavrin::serial
