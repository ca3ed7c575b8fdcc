#include "serial/posix_serial_device.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <utility>

#include "serial/port_settings.h"

namespace tavrin::serial {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::string_view kStepSave = "GetCommTimeouts";
constexpr std::string_view kStepGetState = "GetCommState";
constexpr std::string_view kStepSetState = "SetCommState";
constexpr std::string_view kStepPurge = "PurgeComm";
constexpr std::string_view kStepModemLine = "EscapeCommFunction";
constexpr std::string_view kStepRestore = "SetCommTimeouts (Restoration to original)";

struct StandardSpeed {
  std::uint32_t rate;
  speed_t code;
};

// Rates <termios.h> names; any other rate goes through termios2.
constexpr std::array kStandardSpeeds{
    StandardSpeed{50, B50},           StandardSpeed{75, B75},
    StandardSpeed{110, B110},         StandardSpeed{134, B134},
    StandardSpeed{150, B150},         StandardSpeed{200, B200},
    StandardSpeed{300, B300},         StandardSpeed{600, B600},
    StandardSpeed{1200, B1200},       StandardSpeed{1800, B1800},
    StandardSpeed{2400, B2400},       StandardSpeed{4800, B4800},
    StandardSpeed{9600, B9600},       StandardSpeed{19200, B19200},
    StandardSpeed{38400, B38400},     StandardSpeed{57600, B57600},
    StandardSpeed{115200, B115200},   StandardSpeed{230400, B230400},
    StandardSpeed{460800, B460800},   StandardSpeed{500000, B500000},
    StandardSpeed{576000, B576000},   StandardSpeed{921600, B921600},
    StandardSpeed{1000000, B1000000}, StandardSpeed{1152000, B1152000},
    StandardSpeed{1500000, B1500000}, StandardSpeed{2000000, B2000000},
};

std::optional<speed_t> StandardSpeedCode(std::uint32_t rate) {
  for (const StandardSpeed& speed : kStandardSpeeds) {
    if (speed.rate == rate) return speed.code;
  }
  return std::nullopt;
}

bool IsNoSuchLine(int error) {
  return error == ENOTTY || error == EINVAL;
}

int MillisecondsUntil(Clock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
  return static_cast<int>(std::max<std::chrono::milliseconds::rep>(left.count(), 0));
}

// poll() until `deadline`, resumed after signals. Returns poll's result.
int PollUntil(std::span<pollfd> fds, Clock::time_point deadline) {
  for (;;) {
    const int ready = ::poll(fds.data(), fds.size(), MillisecondsUntil(deadline));
    if (ready >= 0 || errno != EINTR) return ready;
  }
}

// The device (and, when there is one, the stop signal) as poll() entries.
std::span<pollfd> PollSet(std::array<pollfd, 2>& fds, int fd, short events, StopFd stop) {
  fds[0] = pollfd{fd, events, 0};
  fds[1] = pollfd{stop, POLLIN, 0};
  return std::span(fds.data(), stop >= 0 ? 2u : 1u);
}

bool StopRaised(std::span<const pollfd> fds) {
  return fds.size() > 1 && fds[1].revents != 0;
}

tcflag_t DataBitsFlag(std::uint8_t dataBits) {
  switch (dataBits) {
    case 5:
      return CS5;
    case 6:
      return CS6;
    case 7:
      return CS7;
    default:
      return CS8;
  }
}

std::optional<tcflag_t> ParityFlags(std::uint8_t parity) {
  switch (parity) {
    case kParityNone:
      return tcflag_t{0};
    case kParityOdd:
      return tcflag_t{PARENB | PARODD};
    case kParityEven:
      return tcflag_t{PARENB};
    case kParityMark:
      return tcflag_t{PARENB | CMSPAR | PARODD};
    case kParitySpace:
      return tcflag_t{PARENB | CMSPAR};
    default:
      return std::nullopt;
  }
}

// Whether the UART can make this frame exactly. 1.5 stop bits cannot be asked for, and
// 5 data bits with "2" stop bits would come out as 1.5 on the usual UARTs.
bool FrameIsPossible(const PortSettings& settings) {
  if (settings.dataBits < 5 || settings.dataBits > 8) return false;
  if (settings.stopBits == kStopBitsTwo) return settings.dataBits != 5;
  return settings.stopBits == kStopBitsOne;
}

}  // namespace

termios RawLine(termios tio) {
  constexpr tcflag_t kFrame = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB;
  const tcflag_t frame = tio.c_cflag & kFrame;
  ::cfmakeraw(&tio);
  tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
  tio.c_iflag |= INPCK;
  tio.c_cflag &= ~(kFrame | CRTSCTS);
  tio.c_cflag |= CREAD | CLOCAL | frame;
  tio.c_cc[VMIN] = 1;
  tio.c_cc[VTIME] = 0;
  return tio;
}

std::optional<termios> TermiosFor(termios current, const PortSettings& settings) {
  const auto parity = ParityFlags(settings.parity);
  if (!parity || !FrameIsPossible(settings) || settings.baudRate == 0) return std::nullopt;
  termios tio = RawLine(current);
  tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB);
  tio.c_cflag |= DataBitsFlag(settings.dataBits) | *parity;
  if (settings.stopBits == kStopBitsTwo) tio.c_cflag |= CSTOPB;
  tio.c_cc[VSTART] = static_cast<cc_t>(settings.xonChar);
  tio.c_cc[VSTOP] = static_cast<cc_t>(settings.xoffChar);
  if (const auto code = StandardSpeedCode(settings.baudRate)) {
    ::cfsetispeed(&tio, *code);
    ::cfsetospeed(&tio, *code);
  }
  return tio;
}

PosixSerialDevice::OpenResult PosixSerialDevice::Open(std::string_view portName,
                                                      std::chrono::milliseconds quietGap,
                                                      SerialInfoCalls serialInfo) {
  const std::string path = DevicePath(portName);
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return {nullptr, errno};
  // TIOCEXCL refuses later opens of the tty (except to root); the lock also stops a
  // second open by root or by a tool that takes the same lock.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno == EWOULDBLOCK ? EBUSY : errno;
    ::close(fd);
    return {nullptr, error};
  }
  // The settings to put back at close. A device that will not give them is still
  // opened: the failure is reported when it is first configured, and the later steps
  // report whatever else fails.
  termios original{};
  const int saveError = ::tcgetattr(fd, &original) == 0 ? 0 : errno;
  ::ioctl(fd, TIOCEXCL);
  std::unique_ptr<PosixSerialDevice> device(
      new PosixSerialDevice(fd, saveError == 0 ? std::optional(original) : std::nullopt, quietGap,
                            std::move(serialInfo)));
  device->saveError_ = saveError;
  return {std::move(device), 0};
}

PosixSerialDevice::PosixSerialDevice(int fd, std::optional<termios> original,
                                     std::chrono::milliseconds quietGap, SerialInfoCalls serialInfo)
    : fd_(fd),
      original_(original),
      quietGap_(quietGap),
      serialInfo_(std::move(serialInfo)),
      flagsBeforeLowLatency_(EnterLowLatency(fd, serialInfo_)) {}

PosixSerialDevice::~PosixSerialDevice() {
  if (flagsBeforeLowLatency_) LeaveLowLatency(fd_, *flagsBeforeLowLatency_, serialInfo_);
  if (!restored_ && original_) ::tcsetattr(fd_, TCSANOW, &*original_);
  // Exclusive mode outlives this descriptor on a pseudo-terminal whose master stays
  // open; leave the tty openable for the next Connect.
  ::ioctl(fd_, TIOCNXCL);
  ::close(fd_);
}

IoResult PosixSerialDevice::Read(std::span<std::uint8_t> into, std::chrono::milliseconds timeout,
                                 StopFd stop) {
  std::array<pollfd, 2> storage{};
  const auto fds = PollSet(storage, fd_, POLLIN, stop);
  const int ready = PollUntil(fds, Clock::now() + timeout);
  if (ready < 0) return {IoStatus::kFailed, 0, errno};
  if (StopRaised(fds)) return {IoStatus::kStopped, 0, 0};
  if (ready == 0) return {IoStatus::kTimeout, 0, 0};
  return ReadWhileBusy(into, stop);
}

// Takes what has arrived, then keeps taking while more comes within the quiet gap (if
// any), up to the buffer's size. Without a quiet gap this is one read: a tty's read takes
// everything its buffer holds, up to the size asked, so a read that returns less has
// drained the driver, and another read would only hear EAGAIN. What comes after it wakes
// the next poll.
IoResult PosixSerialDevice::ReadWhileBusy(std::span<std::uint8_t> into, StopFd stop) {
  std::size_t count = 0;
  for (;;) {
    const ssize_t got = ::read(fd_, into.data() + count, into.size() - count);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      // Nothing more (a poll that woke for bytes another read took, or the quiet gap's
      // end), or a failure. End of file on a tty is a hang-up: the device is gone.
      if (count > 0 || (got < 0 && errno == EAGAIN)) break;
      return {IoStatus::kFailed, 0, got == 0 ? EIO : errno};
    }
    count += static_cast<std::size_t>(got);
    if (count == into.size() || quietGap_.count() == 0) break;
    std::array<pollfd, 2> storage{};
    const auto fds = PollSet(storage, fd_, POLLIN, stop);
    if (PollUntil(fds, Clock::now() + quietGap_) <= 0 || StopRaised(fds)) break;
  }
  return {IoStatus::kOk, count, 0};
}

IoResult PosixSerialDevice::Write(std::span<const std::uint8_t> bytes,
                                  std::chrono::milliseconds timeout, StopFd stop) {
  const auto deadline = Clock::now() + timeout;
  std::size_t count = 0;
  while (count < bytes.size()) {
    const ssize_t put = ::write(fd_, bytes.data() + count, bytes.size() - count);
    if (put > 0) {
      count += static_cast<std::size_t>(put);
      continue;
    }
    if (put < 0 && errno == EINTR) continue;
    if (put == 0 || errno != EAGAIN) return {IoStatus::kFailed, count, put == 0 ? EIO : errno};
    std::array<pollfd, 2> storage{};
    const auto fds = PollSet(storage, fd_, POLLOUT, stop);
    const int ready = PollUntil(fds, deadline);
    if (ready < 0) return {IoStatus::kFailed, count, errno};
    if (StopRaised(fds)) return {IoStatus::kStopped, count, 0};
    if (ready == 0) return {IoStatus::kTimeout, count, 0};
  }
  return {IoStatus::kOk, count, 0};
}

DeviceResult PosixSerialDevice::PurgeReceive() {
  if (::tcflush(fd_, TCIFLUSH) != 0) return DeviceResult::Fail(errno, std::string(kStepPurge));
  return DeviceResult::Ok();
}

DeviceResult PosixSerialDevice::PurgeBoth() {
  if (::tcflush(fd_, TCIOFLUSH) != 0) return DeviceResult::Fail(errno, std::string(kStepPurge));
  return DeviceResult::Ok();
}

DeviceResult PosixSerialDevice::SetModemLine(int line, bool on) {
  if (::ioctl(fd_, on ? TIOCMBIS : TIOCMBIC, &line) != 0 && !IsNoSuchLine(errno)) {
    return DeviceResult::Fail(errno, std::string(kStepModemLine));
  }
  return DeviceResult::Ok();
}

DeviceResult PosixSerialDevice::SetDtr(bool on) {
  return SetModemLine(TIOCM_DTR, on);
}

DeviceResult PosixSerialDevice::SetRts(bool on) {
  return SetModemLine(TIOCM_RTS, on);
}

LineReading<ModemLines> PosixSerialDevice::GetModemLines() {
  int lines = 0;
  if (::ioctl(fd_, TIOCMGET, &lines) != 0) {
    const int error = errno;
    return IsNoSuchLine(error) ? LineReading<ModemLines>{} : LineReading<ModemLines>::Failed(error);
  }
  return {ModemLines{(lines & TIOCM_CTS) != 0, (lines & TIOCM_DSR) != 0, (lines & TIOCM_CD) != 0,
                     (lines & TIOCM_RI) != 0}};
}

LineReading<LineCounters> PosixSerialDevice::GetLineCounters() {
  serial_icounter_struct counts{};
  if (::ioctl(fd_, TIOCGICOUNT, &counts) != 0) {
    const int error = errno;
    return IsNoSuchLine(error) ? LineReading<LineCounters>{}
                               : LineReading<LineCounters>::Failed(error);
  }
  const auto widen = [](int value) {
    return static_cast<std::uint64_t>(static_cast<unsigned>(value));
  };
  return {LineCounters{widen(counts.frame), widen(counts.overrun), widen(counts.parity),
                       widen(counts.brk), widen(counts.buf_overrun)}};
}

std::size_t PosixSerialDevice::InputQueued() {
  int count = 0;
  if (::ioctl(fd_, TIOCINQ, &count) != 0 || count < 0) return 0;
  return static_cast<std::size_t>(count);
}

std::size_t PosixSerialDevice::OutputQueued() {
  int count = 0;
  if (::ioctl(fd_, TIOCOUTQ, &count) != 0 || count < 0) return 0;
  return static_cast<std::size_t>(count);
}

std::vector<DeviceResult> PosixSerialDevice::ApplySettings(const PortSettings& settings) {
  std::vector<DeviceResult> failures;
  if (saveError_ != 0) {
    failures.push_back(DeviceResult::Fail(std::exchange(saveError_, 0), std::string(kStepSave)));
  }
  termios current = original_.value_or(termios{});
  if (::tcgetattr(fd_, &current) != 0) {
    failures.push_back(DeviceResult::Fail(errno, std::string(kStepGetState)));
    current = original_.value_or(termios{});
  }
  const auto wanted = TermiosFor(current, settings);
  if (!wanted) {
    // The frame stays as the device had it, but the line still carries raw bytes: a
    // tty left in its cooked defaults would echo the target's bytes back to it.
    const termios raw = RawLine(current);
    ::tcsetattr(fd_, TCSANOW, &raw);
    failures.push_back(DeviceResult::Fail(EINVAL, std::string(kStepSetState)));
    return failures;
  }
  if (::tcsetattr(fd_, TCSANOW, &*wanted) != 0) {
    failures.push_back(DeviceResult::Fail(errno, std::string(kStepSetState)));
    return failures;
  }
  if (!StandardSpeedCode(settings.baudRate)) {
    if (const int error = SetCustomLineSpeed(fd_, settings.baudRate); error != 0) {
      failures.push_back(DeviceResult::Fail(error, std::string(kStepSetState)));
    }
  }
  return failures;
}

DeviceResult PosixSerialDevice::RestoreSettings() {
  restored_ = true;
  // Nothing was saved (reported at the first configuration): a line of zeros would
  // hang the port up, so it stays as it is.
  if (!original_) return DeviceResult::Ok();
  if (::tcsetattr(fd_, TCSANOW, &*original_) != 0) {
    return DeviceResult::Fail(errno, std::string(kStepRestore));
  }
  return DeviceResult::Ok();
}

// tcdrain() has no time limit of its own: a watchdog discards the output when the limit
// passes, which releases the drain.
bool PosixSerialDevice::DrainOutput(std::chrono::milliseconds limit) {
  std::mutex mutex;
  std::condition_variable finished;
  bool drained = false;
  bool discarded = false;
  std::thread watchdog([&] {
    std::unique_lock lock(mutex);
    if (!finished.wait_for(lock, limit, [&] { return drained; })) {
      discarded = true;
      ::tcflush(fd_, TCOFLUSH);
    }
  });
  int result = 0;
  do {
    result = ::tcdrain(fd_);
  } while (result != 0 && errno == EINTR);
  {
    std::lock_guard lock(mutex);
    drained = true;
  }
  finished.notify_one();
  watchdog.join();
  return result == 0 && !discarded;
}

}  // namespace tavrin::serial
