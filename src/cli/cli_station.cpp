#include "cli/cli_station.h"

#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <thread>

#include "cli/cli_console.h"
#include "cli/port_lookup.h"
#include "cli/run_outcome.h"
#include "serial/port_list.h"
#include "station/journal.h"
#include "station/outbox.h"
#include "station/port_station.h"
#include "transfer/urt_file.h"

namespace tavrin::cli {
namespace {

using namespace std::chrono_literals;
using Json = nlohmann::json;
using SteadyClock = std::chrono::steady_clock;
using station::PortState;

constexpr auto kBoardTick = 250ms;      // the board is drawn this often on a terminal
constexpr auto kProgressEvery = 100ms;  // --json progress: at most ten a second a port
constexpr int kStatusBadFile = 2;

std::chrono::milliseconds Millis(double seconds) {
  return std::chrono::milliseconds(std::llround(seconds * 1000.0));
}

// Ctrl+C and SIGTERM as a readable descriptor: only the main thread sees them. Blocked
// before any thread starts, so every thread inherits the mask.
class Signals {
 public:
  Signals() {
    sigemptyset(&set_);
    sigaddset(&set_, SIGINT);
    sigaddset(&set_, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &set_, &previous_);
    fd_ = signalfd(-1, &set_, SFD_CLOEXEC | SFD_NONBLOCK);
  }
  ~Signals() {
    if (fd_ >= 0) ::close(fd_);
    pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
  }
  Signals(const Signals&) = delete;
  Signals& operator=(const Signals&) = delete;
  int Fd() const { return fd_; }
  // The signal that arrived, or 0.
  int Take() {
    signalfd_siginfo info{};
    if (fd_ < 0 || ::read(fd_, &info, sizeof info) != static_cast<ssize_t>(sizeof info)) return 0;
    return static_cast<int>(info.ssi_signo);
  }

 private:
  sigset_t set_{};
  sigset_t previous_{};
  int fd_ = -1;
};

// Wakes the main thread: a note to write, a port that has ended.
class Bell {
 public:
  Bell() : fd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}
  ~Bell() {
    if (fd_ >= 0) ::close(fd_);
  }
  Bell(const Bell&) = delete;
  Bell& operator=(const Bell&) = delete;
  void Ring() {
    const std::uint64_t one = 1;
    [[maybe_unused]] auto written = ::write(fd_, &one, sizeof one);
  }
  void Drain() {
    std::uint64_t count = 0;
    [[maybe_unused]] auto got = ::read(fd_, &count, sizeof count);
  }
  int Fd() const { return fd_; }

 private:
  int fd_;
};

Json UnitJson(const station::UnitRecord& unit) {
  const auto optional = [](const std::optional<std::string>& text) {
    return text ? Json(*text) : Json(nullptr);
  };
  Json row;
  row["unit_id"] = unit.unitId;
  row["station"] = unit.station;
  row["port"] = unit.port;
  row["device"] = unit.device;
  row["adapter_serial"] = optional(unit.adapterSerial);
  row["image_path"] = unit.imagePath;
  row["image_sha256"] = unit.imageSha256;
  row["image_bytes"] = unit.imageBytes;
  row["started_at"] = unit.startedAt;
  row["ended_at"] = unit.endedAt;
  row["seconds"] = std::round(unit.seconds * 1000.0) / 1000.0;
  row["bytes_per_second"] = std::round(unit.bytesPerSecond);
  row["result_code"] = unit.resultCode ? Json(*unit.resultCode) : Json(nullptr);
  row["result"] = unit.result;
  row["status"] = unit.status;
  row["outcome"] = std::string(station::OutcomeName(unit.outcome));
  row["confirm"] = optional(unit.confirm);
  row["capture"] = optional(unit.capture);
  return row;
}

// What the ports tell, as board notes and lines on stderr or as --json events on stdout.
class Presenter final : public station::StationSink {
 public:
  Presenter(bool json, Console& console, Bell& bell)
      : json_(json), console_(console), bell_(bell) {}

  void StateChanged(const std::string& port, PortState state, unsigned unit) override {
    if (!json_) return;
    Emit({{"event", "state"}, {"port", port}, {"unit", unit}, {"state", station::StateKey(state)}});
  }
  void UnitBegan(const std::string& port, unsigned unit, const std::string& device) override {
    if (json_) Emit({{"event", "unit_start"}, {"port", port}, {"unit", unit}, {"device", device}});
  }
  void FramesSent(const std::string& port, unsigned unit, std::uint32_t sent,
                  std::uint32_t total) override {
    if (!json_) return;
    const auto now = SteadyClock::now();
    {
      std::lock_guard lock(mutex_);
      auto& last = lastProgress_[port];
      // The first and the last frame always; between them at most ten a second.
      if (sent != 1 && sent != total && now - last < kProgressEvery) return;
      last = now;
    }
    const int percent = total ? static_cast<int>(100.0 * sent / total) : 0;
    Emit({{"event", "progress"},
          {"port", port},
          {"unit", unit},
          {"frames", sent},
          {"total", total},
          {"percent", percent}});
  }
  void UnitEnded(const std::string& port, unsigned unit, const station::UnitRecord& record,
                 const std::optional<std::string>& journalError) override {
    if (json_) {
      Json event = UnitJson(record);
      event["event"] = "unit";
      event["unit"] = unit;
      event["journalled"] = !journalError;
      Emit(event);
    } else {
      char seconds[32];
      std::snprintf(seconds, sizeof seconds, "%.1f s", record.seconds);
      Say(port + ": unit " + std::to_string(unit) + " " +
          std::string(station::OutcomeName(record.outcome)) + " (" + record.result + ", status " +
          std::to_string(record.status) + ", " + seconds + ")");
    }
    if (journalError) Note(port, *journalError + "; the station stops");
    if (onUnit) onUnit();
  }
  void Note(const std::string& port, const std::string& text) override {
    if (json_) {
      Emit({{"event", "note"}, {"port", port}, {"text", text}});
    } else {
      Say("tavrin-cli: " + (port.empty() ? std::string() : port + ": ") + text);
    }
  }

  std::function<void()> onUnit;  // set before the ports start

  void Emit(const Json& event) {
    const std::string line = event.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
    std::lock_guard lock(mutex_);
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
  }

  // Lines on stderr go through the main thread, above the board.
  void Say(std::string line) {
    {
      std::lock_guard lock(mutex_);
      lines_.push_back(std::move(line));
    }
    bell_.Ring();
  }
  void WriteLines() {
    std::deque<std::string> lines;
    {
      std::lock_guard lock(mutex_);
      lines.swap(lines_);
    }
    for (const auto& line : lines) console_.Line(line);
  }

 private:
  const bool json_;
  Console& console_;
  Bell& bell_;
  std::mutex mutex_;
  std::map<std::string, SteadyClock::time_point> lastProgress_;
  std::deque<std::string> lines_;
};

std::string BoardLine(const std::string& port, const station::PortSnapshot& s, std::size_t width) {
  std::string what(station::StateText(s.state));
  if (s.state == PortState::kLoading && s.total > 0) {
    char text[64];
    std::snprintf(text, sizeof text, " %u/%u frames %3u%%", s.sent, s.total,
                  static_cast<unsigned>(100.0 * s.sent / s.total));
    what += text;
  }
  if (s.state == PortState::kLoading || s.state == PortState::kConfirming ||
      s.state == PortState::kWaitingForBox) {
    what = "unit " + std::to_string(s.unit) + ": " + what;
  }
  char rate[32] = "    -";
  if (s.unitsPerHour > 0) std::snprintf(rate, sizeof rate, "%5.1f", s.unitsPerHour);
  char counts[128];
  std::snprintf(counts, sizeof counts, "loaded %u  already %u  failed %u  %s units/h",
                s.counts.loaded, s.counts.alreadyLoaded, s.counts.failed, rate);
  std::string name = port;
  if (name.size() < width) name.resize(width, ' ');
  std::string line = name + "  " + what;
  if (line.size() < width + 48) line.resize(width + 48, ' ');
  return line + "  " + counts;
}

// The adapter where it is now: the port list is read again every time.
station::AdapterNode Resolve(const std::string& given) {
  const serial::PortList list = serial::ListPorts();
  const PortLookup lookup = LookUpPort(given, list);
  if (!lookup.error.empty()) return {{}, std::nullopt, given + " " + lookup.error};
  station::AdapterNode node{lookup.portName, std::nullopt, {}};
  const auto found = serial::FindPorts(list.ports, given);
  if (found.size() == 1 && !found.front()->serialNumber.empty()) {
    node.serial = found.front()->serialNumber;
  } else {
    for (const auto& port : list.ports) {
      if (port.name == lookup.portName || port.devicePath == lookup.portName) {
        if (!port.serialNumber.empty()) node.serial = port.serialNumber;
      }
    }
  }
  return node;
}

// The image must be a URT file the upload can use; its identity goes into every row.
std::optional<station::ImageIdentity> CheckImage(const std::string& path) {
  auto identity = station::IdentifyImage(path);
  if (!identity) {
    std::fprintf(stderr, "tavrin-cli: %s cannot be read\n", path.c_str());
    return std::nullopt;
  }
  const auto image = transfer::ImageFile::Open(path);
  const auto header = image ? image->ReadAt(0, transfer::kUrtHeaderSize) : std::nullopt;
  if (!header || !transfer::ParseUrtHeader(*header)) {
    std::fprintf(stderr, "tavrin-cli: %s is not a URT file\n", path.c_str());
    return std::nullopt;
  }
  return identity;
}

struct PortThread {
  std::unique_ptr<station::PortStation> station;
  std::thread thread;
  std::atomic<bool> ended{false};
};

}  // namespace

int RunStation(const StationOptions& options, const StationLink& link) {
  const auto image = CheckImage(options.image);
  if (!image) return kStatusBadFile;
  auto opened = station::Journal::Open(options.journal);
  if (const auto* error = std::get_if<std::string>(&opened)) {
    std::fprintf(stderr, "tavrin-cli: %s\n", error->c_str());
    return kStatusBadFile;
  }
  auto journal = std::move(std::get<std::unique_ptr<station::Journal>>(opened));

  Signals signals;  // before any thread starts
  Bell bell;
  Console console(!options.json && ::isatty(STDERR_FILENO));
  Presenter presenter(options.json, console, bell);
  station::StationControl control(options.units);

  std::unique_ptr<station::Outbox> outbox;
  if (!options.journalTo.empty()) {
    outbox = std::make_unique<station::Outbox>(
        *journal, options.journalTo,
        [&presenter](const std::string& text) { presenter.Note("", text); });
    outbox->Start();
    presenter.onUnit = [&outbox] { outbox->Wake(); };
  }

  const std::string host = station::HostName();
  std::mutex listing;  // the ports' adapter look-ups
  std::vector<std::unique_ptr<PortThread>> ports;
  std::size_t width = 0;
  for (const auto& given : options.ports) {
    station::PortStationConfig config;
    config.port = given;
    config.line = options.line;
    config.image = *image;
    config.gap = Millis(options.gapSeconds);
    if (options.confirmSeconds) config.confirm = Millis(*options.confirmSeconds);
    config.captureDir = options.logDir;
    config.station = host;
    config.resolve = [given, &listing] {
      // libudev seeds its hash tables from one global on first use: one listing at a time.
      std::lock_guard lock(listing);
      return Resolve(given);
    };
    config.resultText = [](int code) { return ResultText(code); };
    config.deviceFactory = link.deviceFactory;
    config.linkTimings = link.timings;
    auto port = std::make_unique<PortThread>();
    port->station =
        std::make_unique<station::PortStation>(std::move(config), *journal, control, presenter);
    control.Listen([station = port->station.get()] { station->Wake(); });
    width = std::max(width, given.size());
    ports.push_back(std::move(port));
  }
  if (outbox) control.Listen([&outbox] { outbox->Wake(); });
  for (auto& port : ports) {
    port->thread = std::thread([&port = *port, &bell] {
      port.station->Run();
      port.ended = true;
      bell.Ring();
    });
  }

  int signal = 0;
  const auto allEnded = [&ports] {
    return std::all_of(ports.begin(), ports.end(), [](const auto& p) { return p->ended.load(); });
  };
  const auto drawBoard = [&] {
    std::vector<std::string> lines;
    for (std::size_t i = 0; i < ports.size(); ++i) {
      lines.push_back(BoardLine(options.ports[i], ports[i]->station->Snapshot(), width));
    }
    console.ShowBoard(std::move(lines));
  };
  while (!allEnded()) {
    presenter.WriteLines();
    if (console.Board()) drawBoard();
    std::array<pollfd, 2> fds{pollfd{signals.Fd(), POLLIN, 0}, pollfd{bell.Fd(), POLLIN, 0}};
    const int timeout = console.Board() ? static_cast<int>(kBoardTick.count()) : -1;
    if (::poll(fds.data(), fds.size(), timeout) < 0 && errno != EINTR) break;
    if (fds[1].revents & POLLIN) bell.Drain();
    if (fds[0].revents & POLLIN) {
      if (const int taken = signals.Take()) {
        signal = taken;
        const bool first = control.Running();
        control.StopFurther();
        presenter.Note("", first
                               ? "stopping: units in progress end first (Ctrl+C again cancels them)"
                               : "cancelling the units in progress");
      }
    }
  }
  for (auto& port : ports) port->thread.join();
  presenter.WriteLines();
  if (console.Board()) {
    drawBoard();
    console.EndBoard();
  }
  if (outbox) outbox->Stop();

  int status = signal ? 128 + signal : 0;
  station::PortCounts all;
  Json perPort = Json::array();
  for (std::size_t i = 0; i < ports.size(); ++i) {
    const auto snapshot = ports[i]->station->Snapshot();
    all.loaded += snapshot.counts.loaded;
    all.alreadyLoaded += snapshot.counts.alreadyLoaded;
    all.failed += snapshot.counts.failed;
    status = std::max(status, ports[i]->station->Failure());
    perPort.push_back({{"port", options.ports[i]},
                       {"loaded", snapshot.counts.loaded},
                       {"already_loaded", snapshot.counts.alreadyLoaded},
                       {"failed", snapshot.counts.failed},
                       {"units_per_hour", std::round(snapshot.unitsPerHour * 10.0) / 10.0}});
  }
  if (options.json) {
    presenter.Emit({{"event", "summary"},
                    {"status", status},
                    {"units", all.Total()},
                    {"loaded", all.loaded},
                    {"already_loaded", all.alreadyLoaded},
                    {"failed", all.failed},
                    {"journal", options.journal},
                    {"ports", perPort}});
  } else {
    std::fprintf(stderr,
                 "tavrin-cli: %u units: %u loaded, %u already loaded, %u failed; journal %s\n",
                 all.Total(), all.loaded, all.alreadyLoaded, all.failed, options.journal.c_str());
  }
  return status;
}

}  // namespace tavrin::cli
