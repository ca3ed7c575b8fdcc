// PosixSerialDevice: a serial port (or any tty, such as a pseudo-terminal) on Linux,
// driven through termios. The port is held exclusively (TIOCEXCL and an flock), so a
// second open of the same port fails while this one lives. The driver is asked for
// low-latency mode at open (see low_latency.h). The line settings and the driver flags
// found at open are put back when the device is closed.
//
// Threads: one reader (Read, GetModemLines, GetLineCounters), any number of writers
// (Write, serialised by the caller), and the owner (everything else). The descriptor
// calls are safe to overlap; the object must outlive all of them.
#pragma once

#include <termios.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "serial/low_latency.h"
#include "serial/serial_device.h"

namespace tavrin::serial {

// A read returns once no byte has come for this long after the first one. None by
// default: the target's one-byte ENQ must reach the transfer at once (a millisecond of
// waiting for more costs every frame that millisecond, 3 % of the line at 921600), and a
// burst still arrives in large blocks because the reader drains all the driver holds.
constexpr auto kDefaultQuietGap = std::chrono::milliseconds{0};

class PosixSerialDevice final : public SerialDevice {
 public:
  struct OpenResult {
    std::unique_ptr<PosixSerialDevice> device;  // null when the port could not be opened
    int error = 0;                              // errno of the failed step
  };

  // Opens the port named `portName` (COM1, ttyUSB0, /dev/pts/3: see DevicePath).
  // `serialInfo`: the driver calls of low-latency mode (tests play a driver).
  static OpenResult Open(std::string_view portName,
                         std::chrono::milliseconds quietGap = kDefaultQuietGap,
                         SerialInfoCalls serialInfo = KernelSerialInfoCalls());

  ~PosixSerialDevice() override;
  PosixSerialDevice(const PosixSerialDevice&) = delete;
  PosixSerialDevice& operator=(const PosixSerialDevice&) = delete;

  IoResult Read(std::span<std::uint8_t> into, std::chrono::milliseconds timeout,
                StopFd stop) override;
  IoResult Write(std::span<const std::uint8_t> bytes, std::chrono::milliseconds timeout,
                 StopFd stop) override;

  DeviceResult PurgeReceive() override;
  DeviceResult PurgeBoth() override;
  DeviceResult SetDtr(bool on) override;
  DeviceResult SetRts(bool on) override;
  std::optional<ModemLines> GetModemLines() override;
  std::optional<LineCounters> GetLineCounters() override;
  std::size_t InputQueued() override;
  std::size_t OutputQueued() override;

  std::vector<DeviceResult> ApplySettings(const PortSettings& settings) override;
  DeviceResult RestoreSettings() override;
  bool DrainOutput(std::chrono::milliseconds limit) override;

  int Fd() const { return fd_; }

 private:
  PosixSerialDevice(int fd, const termios& original, std::chrono::milliseconds quietGap,
                    SerialInfoCalls serialInfo);

  IoResult ReadWhileBusy(std::span<std::uint8_t> into, StopFd stop);
  DeviceResult SetModemLine(int line, bool on);

  int fd_;
  termios original_;
  std::chrono::milliseconds quietGap_;
  bool restored_ = false;
  SerialInfoCalls serialInfo_;
  std::optional<int> flagsBeforeLowLatency_;  // set when open turned low-latency mode on
};

// `tio` made raw: no echo, no line editing, no character translation, no flow control,
// parity checked, receiver on, modem lines ignored; frame and speed kept.
termios RawLine(termios tio);
// RawLine(current) with the speed and frame of `settings`; nullopt for a frame the UART
// cannot make exactly (1.5 stop bits, 5 data bits with 2 stop bits, unknown codes,
// speed 0). A speed that <termios.h> does not name keeps `current`'s; SetCustomLineSpeed
// sets it afterwards.
std::optional<termios> TermiosFor(termios current, const PortSettings& settings);

// Line speed through termios2, for rates the classic B-constants do not name. Kept in a
// unit of its own: the kernel's termios2 header cannot share a unit with <termios.h>.
// Returns 0 on success, else the errno.
int SetCustomLineSpeed(int fd, std::uint32_t baudRate);
// The output speed the kernel holds for `fd` (termios2), or nullopt when it cannot say.
std::optional<std::uint32_t> ReadLineSpeed(int fd);

}  // namespace tavrin::serial
