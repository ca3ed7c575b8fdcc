#include "serial/latency_warning.h"

#include <memory>
#include <mutex>
#include <set>
#include <utility>

#include "serial/port_settings.h"
#include "serial/posix_serial_device.h"
#include "serial/status_log.h"

namespace tavrin::serial {
namespace {

// The adapters already named, shared by the copies of one factory.
struct SaidAlready {
  std::mutex mutex;
  std::set<std::filesystem::path> files;

  bool FirstTime(const std::filesystem::path& file) {
    std::lock_guard lock(mutex);
    return files.insert(file).second;
  }
};

}  // namespace

std::string SlowAdapterNote(unsigned milliseconds, const std::filesystem::path& latencyFile) {
  return "USB serial adapter holds received bytes " + std::to_string(milliseconds) +
         " ms (its latency timer; low-latency mode did not lower it), and every frame of a "
         "transfer waits that long. To lower it: echo 1 > " +
         latencyFile.string();
}

DeviceFactory LatencyCheckedDeviceFactory(StatusLog& status, NoticeSink notice,
                                          std::filesystem::path sysfsRoot,
                                          OpenFailureSink openFailure) {
  auto said = std::make_shared<SaidAlready>();
  return [&status, notice = std::move(notice), root = std::move(sysfsRoot), said,
          openFailure =
              std::move(openFailure)](std::string_view portName) -> std::unique_ptr<SerialDevice> {
    const std::string path = DevicePath(portName);
    auto opened = PosixSerialDevice::Open(path);
    if (!opened.device) {
      if (openFailure) openFailure(opened.error);
      return nullptr;
    }
    auto device = std::move(opened.device);
    const auto file = FindLatencyTimerFile(root, TtyName(path));
    const auto timer = file ? ReadLatencyTimer(*file) : std::nullopt;
    if (timer && *timer > kLowestLatencyTimer && said->FirstTime(*file)) {
      const std::string note = SlowAdapterNote(*timer, *file);
      status.UpdateStatus(note + "\r\n");
      if (notice) notice(note);
    }
    return device;
  };
}

}  // namespace tavrin::serial
