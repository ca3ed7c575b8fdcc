// The latency timer of a USB serial adapter as its driver shows it in sysfs: the file
// latency_timer of the tty's device, in milliseconds. The adapter holds what it has
// received that long before passing it on (16 ms by default on the common FTDI parts; 1
// once low-latency mode is on). Other devices have no such file.
//
// Plain functions, path in and value out; the sysfs root is a parameter so that tests
// can build a device tree of their own.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace tavrin::serial {

inline constexpr std::string_view kSysfsRoot = "/sys";
constexpr unsigned kLowestLatencyTimer = 1;  // milliseconds: what low-latency mode sets

// The tty name of a device path, symbolic links followed (/dev/serial/by-id/... gives
// ttyUSB0); the last part of the path as given when it cannot be followed.
std::string TtyName(const std::filesystem::path& devicePath);

// The latency_timer file of tty `ttyName` under `sysfsRoot`, by the device's own path
// (symbolic links followed); nullopt when the device has none or the name is no tty name.
std::optional<std::filesystem::path> FindLatencyTimerFile(const std::filesystem::path& sysfsRoot,
                                                          std::string_view ttyName);

// The value of a latency_timer file, in milliseconds; nullopt when it cannot be read or
// holds no number.
std::optional<unsigned> ReadLatencyTimer(const std::filesystem::path& file);

}  // namespace tavrin::serial
