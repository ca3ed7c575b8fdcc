#include "serial/usb_latency.h"

#include <array>
#include <charconv>
#include <fstream>
#include <system_error>

namespace tavrin::serial {
namespace {

// A latency_timer file holds a small decimal number and a line feed.
constexpr std::size_t kMaxLatencyText = 16;

bool IsTtyName(std::string_view name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string_view::npos;
}

}  // namespace

std::string TtyName(const std::filesystem::path& devicePath) {
  std::error_code error;
  const auto resolved = std::filesystem::canonical(devicePath, error);
  return (error ? devicePath : resolved).filename().string();
}

// class/tty/NAME is a link to the tty in the device tree; its `device` link leads to the
// device that drives the tty (for a USB serial adapter, the adapter's port), which holds
// latency_timer.
std::optional<std::filesystem::path> FindLatencyTimerFile(const std::filesystem::path& sysfsRoot,
                                                          std::string_view ttyName) {
  if (!IsTtyName(ttyName)) return std::nullopt;
  const auto file = sysfsRoot / "class" / "tty" / ttyName / "device" / "latency_timer";
  std::error_code error;
  if (!std::filesystem::is_regular_file(file, error)) return std::nullopt;
  const auto own = std::filesystem::canonical(file, error);
  return error ? file : own;
}

std::optional<unsigned> ReadLatencyTimer(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::array<char, kMaxLatencyText> text{};
  in.read(text.data(), text.size());
  const auto length = static_cast<std::size_t>(in.gcount());
  if (length == 0 || length == text.size()) return std::nullopt;
  std::string_view value(text.data(), length);
  while (!value.empty() && (value.back() == '\n' || value.back() == ' ')) value.remove_suffix(1);
  unsigned milliseconds = 0;
  const auto [end, failure] =
      std::from_chars(value.data(), value.data() + value.size(), milliseconds);
  if (failure != std::errc{} || end != value.data() + value.size()) return std::nullopt;
  return milliseconds;
}

}  // namespace tavrin::serial
