// tavrin-target-sim: plays the set-top box's loader on a pseudo-terminal or a device.
//
//   tavrin-target-sim [--device PATH | --pty] [--scenario NAME] [--baud N] [--seed N]
//                     [--identity HEX] [--packet-size N] [--fault NAME]... [--noise RATE]
//                     [--noise-in RATE] [--region-delay MS] [--record FILE] [--chunk N]
//                     [--latency MS] [--refuse-bad-frames] [--frame-timeout MS]
//                     [--leave-after MS]
//
// Prints the path it serves on the first line of stdout (flushed), then serves until
// SIGTERM or SIGINT. Problems the loader finds are written to stderr as they come.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/delayed_stream.h"
#include "sim/fd_stream.h"
#include "sim/noisy_stream.h"
#include "sim/paced_stream.h"
#include "sim/target.h"

namespace {

using namespace tavrin::sim;

struct Options {
  std::string device;  // empty: a pseudo-terminal
  TargetConfig config;
  unsigned baud = 0;                     // 0: no pacing
  std::size_t chunk = 0;                 // 0: no groups (needs pacing)
  std::chrono::milliseconds latency{0};  // held back before what the target sends
  double noiseOut = 0.0;
  double noiseIn = 0.0;
  std::string record;  // where the frames of the packet phase are written at the end
  // A box taken away: the target ends this long after the first byte came from the PC.
  std::chrono::milliseconds leaveAfter{0};
};

void PrintUsage() {
  std::fprintf(stderr,
               "usage: tavrin-target-sim [--device PATH | --pty] [--scenario NAME] [--baud N]\n"
               "                         [--seed N] [--identity HEX] [--packet-size N]\n"
               "                         [--fault NAME]... [--noise RATE] [--noise-in RATE]\n"
               "                         [--region-delay MS] [--record FILE] [--chunk N]\n"
               "                         [--latency MS] [--refuse-bad-frames]\n"
               "                         [--frame-timeout MS] [--leave-after MS]\n"
               "  --noise damages what the target sends, --noise-in what it receives\n"
               "  (each byte dropped, corrupted or doubled at RATE, 0..1)\n"
               "  --region-delay: wait this long before offering a download's first region\n"
               "  --record: at the end, write the frames received after the who-am-I reply\n"
               "  --chunk: with --baud, send in groups of 1..N bytes (sizes from --seed)\n"
               "  --latency: what the target sends reaches the PC MS later (a USB\n"
               "             adapter's latency timer)\n"
               "  --refuse-bad-frames: answer a damaged upload frame with 0x13\n"
               "  --frame-timeout: silence that breaks off a partial frame (5000 ms)\n"
               "  --leave-after: end MS after the first byte from the PC (a box taken away)\n"
               "  scenarios:");
  for (auto name : ScenarioNames()) std::fprintf(stderr, " %.*s", int(name.size()), name.data());
  std::fprintf(stderr, "\n  faults:");
  for (auto name : FaultNames()) std::fprintf(stderr, " %.*s", int(name.size()), name.data());
  std::fprintf(stderr, "\n");
}

template <typename T>
bool ParseNumber(std::string_view text, T& value) {
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc{} && end == text.data() + text.size();
}

bool ParseRate(const std::string& text, double& rate) {
  char* end = nullptr;
  rate = std::strtod(text.c_str(), &end);
  return end != text.c_str() && *end == '\0' && rate >= 0.0 && rate <= 1.0;
}

// One option with its value; false (after a message) when it is not understood.
bool ApplyOption(std::string_view name, const std::string& value, Options& options) {
  TargetConfig& config = options.config;
  if (name == "--device") {
    options.device = value;
  } else if (name == "--scenario") {
    auto scenario = ParseScenario(value);
    if (!scenario) return false;
    config.scenario = *scenario;
  } else if (name == "--baud") {
    return ParseNumber(value, options.baud) && options.baud > 0;
  } else if (name == "--seed") {
    return ParseNumber(value, config.memorySeed);
  } else if (name == "--identity") {
    auto identity = ParseIdentity(value);
    if (!identity) return false;
    config.identity = *identity;
  } else if (name == "--packet-size") {
    return ParseNumber(value, config.packetSize) && config.packetSize > 0 &&
           config.packetSize <= kMaxPacketData;
  } else if (name == "--fault") {
    auto fault = ParseFault(value);
    if (!fault) return false;
    config.faults.push_back(*fault);
  } else if (name == "--noise") {
    return ParseRate(value, options.noiseOut);
  } else if (name == "--noise-in") {
    return ParseRate(value, options.noiseIn);
  } else if (name == "--region-delay") {
    unsigned milliseconds = 0;
    if (!ParseNumber(value, milliseconds)) return false;
    config.regionReadyDelay = std::chrono::milliseconds(milliseconds);
  } else if (name == "--record") {
    options.record = value;
  } else if (name == "--chunk") {
    return ParseNumber(value, options.chunk) && options.chunk > 0;
  } else if (name == "--frame-timeout") {
    unsigned milliseconds = 0;
    if (!ParseNumber(value, milliseconds) || milliseconds == 0) return false;
    config.frameTimeout = std::chrono::milliseconds(milliseconds);
  } else if (name == "--leave-after") {
    unsigned milliseconds = 0;
    if (!ParseNumber(value, milliseconds) || milliseconds == 0) return false;
    options.leaveAfter = std::chrono::milliseconds(milliseconds);
  } else if (name == "--latency") {
    unsigned milliseconds = 0;
    if (!ParseNumber(value, milliseconds)) return false;
    options.latency = std::chrono::milliseconds(milliseconds);
  } else {
    return false;
  }
  return true;
}

std::optional<Options> ParseArguments(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    std::string_view name = argv[i];
    if (name == "--pty") {
      options.device.clear();
      continue;
    }
    if (name == "--refuse-bad-frames") {
      options.config.refuseBadFrames = true;
      continue;
    }
    if (i + 1 >= argc || !ApplyOption(name, argv[i + 1], options)) {
      std::fprintf(stderr, "tavrin-target-sim: bad option %s%s%s\n", argv[i],
                   i + 1 < argc ? " " : "", i + 1 < argc ? argv[i + 1] : "");
      return std::nullopt;
    }
    ++i;
  }
  if (options.chunk > 0 && options.baud == 0) {
    std::fprintf(stderr, "tavrin-target-sim: --chunk needs --baud (groups are paced)\n");
    return std::nullopt;
  }
  return options;
}

// Raw bytes both ways: no echo, no line editing, no translation.
void MakeRaw(int fd) {
  termios tio{};
  if (tcgetattr(fd, &tio) != 0) return;  // not a terminal: nothing to set
  cfmakeraw(&tio);
  tio.c_cflag |= CLOCAL | CREAD;
  tcsetattr(fd, TCSANOW, &tio);
}

struct Line {
  int fd = -1;      // what the loader reads and writes
  int keeper = -1;  // pseudo-terminal: the slave side held open by the simulator
  std::string path;
};

std::optional<Line> OpenPty() {
  Line line;
  line.fd = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
  if (line.fd < 0 || grantpt(line.fd) != 0 || unlockpt(line.fd) != 0) return std::nullopt;
  const char* name = ptsname(line.fd);
  if (name == nullptr) return std::nullopt;
  line.path = name;
  // Holding the slave open keeps the master from hanging up when the PC closes its side
  // and opens it again. It also carries the raw settings until the PC applies its own.
  line.keeper = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (line.keeper < 0) return std::nullopt;
  MakeRaw(line.keeper);
  return line;
}

std::optional<Line> OpenDevice(const std::string& path) {
  Line line;
  line.path = path;
  line.fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
  if (line.fd < 0) return std::nullopt;
  MakeRaw(line.fd);
  return line;
}

// Waits for SIGTERM or SIGINT (or, with `leaveAfter`, for that long after the PC's first
// byte) while printing the loader's problems as they come.
void ServeUntilSignal(int signals, const Target& target, std::chrono::milliseconds leaveAfter) {
  using Clock = std::chrono::steady_clock;
  std::size_t shown = 0;
  std::optional<Clock::time_point> leaveAt;
  while (target.Running()) {
    int wait = 200;
    if (leaveAfter.count() > 0 && !leaveAt && target.Heard()) leaveAt = Clock::now() + leaveAfter;
    if (leaveAt) {
      const auto left =
          std::chrono::ceil<std::chrono::milliseconds>(*leaveAt - Clock::now()).count();
      if (left <= 0) return;
      wait = static_cast<int>(std::min<long long>(wait, left));
    } else if (leaveAfter.count() > 0) {
      wait = 20;  // the first byte is looked for this often
    }
    pollfd fd{signals, POLLIN, 0};
    int ready = poll(&fd, 1, wait);
    auto problems = target.Problems();
    for (; shown < problems.size(); ++shown) {
      std::fprintf(stderr, "tavrin-target-sim: problem: %s\n", problems[shown].c_str());
    }
    if (ready > 0) return;
  }
}

// The frames of the packet phase, back to back, as they arrived.
void RecordFrames(const std::string& path, const Target& target) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) {
    std::fprintf(stderr, "tavrin-target-sim: cannot write %s\n", path.c_str());
    return;
  }
  for (const auto& frame : target.PacketPhaseFrames()) {
    std::fwrite(frame.data(), 1, frame.size(), file);
  }
  std::fclose(file);
}

int Serve(const Options& options, int signals) {
  auto line = options.device.empty() ? OpenPty() : OpenDevice(options.device);
  if (!line) {
    std::fprintf(stderr, "tavrin-target-sim: cannot open %s: %s\n",
                 options.device.empty() ? "a pseudo-terminal" : options.device.c_str(),
                 std::strerror(errno));
    return 1;
  }
  std::printf("%s\n", line->path.c_str());
  std::fflush(stdout);

  int stop = eventfd(0, EFD_CLOEXEC);
  FdStream fdStream(line->fd, stop);
  Stream* stream = &fdStream;
  std::unique_ptr<NoisyStream> noisy;
  if (options.noiseOut > 0 || options.noiseIn > 0) {
    NoiseRates out{options.noiseOut, options.noiseOut, options.noiseOut};
    NoiseRates in{options.noiseIn, options.noiseIn, options.noiseIn};
    noisy = std::make_unique<NoisyStream>(*stream, out, in, options.config.memorySeed);
    stream = noisy.get();
  }
  SteadyPaceClock clock;
  std::unique_ptr<DelayedStream> delayed;
  if (options.latency.count() > 0) {
    delayed = std::make_unique<DelayedStream>(*stream, options.latency, clock);
    stream = delayed.get();
  }
  std::unique_ptr<PacedStream> paced;
  if (options.baud > 0) {
    const SendGroups groups{options.chunk, options.config.memorySeed};
    paced = std::make_unique<PacedStream>(*stream, options.baud, clock, groups);
    stream = paced.get();
  }

  Target target(*stream, options.config);
  target.Start();
  ServeUntilSignal(signals, target, options.leaveAfter);
  const bool lineLost = !target.Running();
  std::uint64_t one = 1;
  [[maybe_unused]] auto written = write(stop, &one, sizeof one);  // ends a write in progress
  target.Stop();
  delayed.reset();  // its delivery thread writes to the line: ended before the line closes
  if (!options.record.empty()) RecordFrames(options.record, target);
  close(stop);
  if (line->keeper >= 0) close(line->keeper);
  close(line->fd);
  if (lineLost)
    std::fprintf(stderr, "tavrin-target-sim: the line to %s is gone\n", line->path.c_str());
  return lineLost ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  auto options = ParseArguments(argc, argv);
  if (!options) {
    PrintUsage();
    return 2;
  }
  // Blocked in every thread, taken through a signalfd: the end is an orderly one.
  sigset_t mask;
  sigemptyset(&mask);
  sigaddset(&mask, SIGTERM);
  sigaddset(&mask, SIGINT);
  sigprocmask(SIG_BLOCK, &mask, nullptr);
  signal(SIGPIPE, SIG_IGN);
  int signals = signalfd(-1, &mask, SFD_CLOEXEC);
  int status = Serve(*options, signals);
  close(signals);
  return status;
}
