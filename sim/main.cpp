// tavrin-target-sim: plays the set-top box's loader on a pseudo-terminal or a device.
// tavrin-target-sim --help lists the options, the scenarios and the faults.
//
//   tavrin-target-sim [--device PATH | --pty] [--scenario NAME] [--baud N] [--seed N]
//                     [--identity HEX] [--packet-size N] [--fault NAME]... [--noise RATE]
//                     [--noise-in RATE] [--region-delay MS] [--record FILE] [--chunk N]
//                     [--latency MS] [--refuse-bad-frames] [--frame-timeout MS] [--echo]
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
#include <variant>
#include <vector>

#include "options/program_options.h"
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

constexpr int kUsageStatus = 2;

std::string Joined(const std::vector<std::string_view>& names) {
  std::string text;
  for (auto name : names) text += (text.empty() ? "" : ", ") + std::string(name);
  return text;
}

template <typename T>
std::optional<T> ReadNumber(const std::string& text) {
  T value{};
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc{} || end != text.data() + text.size() || text.empty()) return std::nullopt;
  return value;
}

template <typename T>
std::optional<T> ReadPositive(const std::string& text) {
  auto value = ReadNumber<T>(text);
  if (!value || *value == 0) return std::nullopt;
  return value;
}

std::optional<double> ReadRate(const std::string& text) {
  char* end = nullptr;
  const double rate = std::strtod(text.c_str(), &end);
  if (end == text.c_str() || *end != '\0' || !(rate >= 0.0 && rate <= 1.0)) return std::nullopt;
  return rate;
}

std::optional<std::chrono::milliseconds> ReadMilliseconds(const std::string& text) {
  auto value = ReadNumber<unsigned>(text);
  if (!value) return std::nullopt;
  return std::chrono::milliseconds(*value);
}

std::optional<std::chrono::milliseconds> ReadPositiveMilliseconds(const std::string& text) {
  auto value = ReadMilliseconds(text);
  if (!value || value->count() == 0) return std::nullopt;
  return value;
}

void AddTargetOptions(CLI::App& app, Options& options) {
  using tavrin::options::AddValue;
  TargetConfig& config = options.config;
  const std::string scenarios = Joined(ScenarioNames());
  const std::string faults = Joined(FaultNames());
  AddValue(
      app, "--scenario", config.scenario,
      [](const std::string& text) { return ParseScenario(text); }, "one of " + scenarios,
      "how the loader behaves (below)")
      ->type_name("NAME");
  AddValue(app, "--seed", config.memorySeed, ReadNumber<std::uint64_t>, "a number",
           "the seed of the target's memory (and of --chunk's group sizes)")
      ->type_name("N")
      ->default_str(std::to_string(config.memorySeed));
  AddValue(
      app, "--identity", config.identity,
      [](const std::string& text) { return ParseIdentity(text); }, "an identity in hex",
      "the who-am-I answer's identity, in hex")
      ->type_name("HEX");
  AddValue(
      app, "--packet-size", config.packetSize,
      [](const std::string& text) -> std::optional<std::uint32_t> {
        auto size = ReadPositive<std::uint32_t>(text);
        if (!size || *size > kMaxPacketData) return std::nullopt;
        return size;
      },
      "a number from 1 to " + std::to_string(kMaxPacketData), "data bytes in a download packet")
      ->type_name("N")
      ->default_str(std::to_string(config.packetSize));
  app.add_option_function<std::vector<std::string>>(
         "--fault",
         [&config, faults](const std::vector<std::string>& names) {
           for (const auto& name : names) {
             auto fault = ParseFault(name);
             if (!fault) {
               throw CLI::ValidationError("--fault", "'" + name + "' is not one of " + faults);
             }
             config.faults.push_back(*fault);
           }
         },
         "a fault to play (below), again for more")
      ->type_name("NAME")
      ->allow_extra_args(false)
      ->take_all();
  AddValue(app, "--region-delay", config.regionReadyDelay, ReadMilliseconds,
           "a number of milliseconds", "wait this long before offering a download's first region")
      ->type_name("MS");
  app.add_flag("--refuse-bad-frames", config.refuseBadFrames,
               "answer a damaged upload frame with 0x13");
  app.add_flag("--echo", config.echoTyped, "send typed text back as it came, as a console does");
  AddValue(app, "--frame-timeout", config.frameTimeout, ReadPositiveMilliseconds,
           "a positive number of milliseconds", "silence that breaks off a partial frame")
      ->type_name("MS")
      ->default_str(std::to_string(config.frameTimeout.count()));
}

void AddLineOptions(CLI::App& app, Options& options) {
  using tavrin::options::AddValue;
  app.add_option("--device", options.device, "serve this device")->type_name("PATH");
  app.add_flag_callback(
      "--pty", [&options] { options.device.clear(); }, "serve a new pseudo-terminal (the default)");
  AddValue(app, "--baud", options.baud, ReadPositive<unsigned>, "a positive number",
           "pace the line like a UART of this speed")
      ->type_name("N");
  AddValue(app, "--noise", options.noiseOut, ReadRate, "a rate from 0 to 1",
           "damage what the target sends: each byte dropped, corrupted or doubled at RATE")
      ->type_name("RATE");
  AddValue(app, "--noise-in", options.noiseIn, ReadRate, "a rate from 0 to 1",
           "damage what the target receives, as --noise")
      ->type_name("RATE");
  AddValue(app, "--chunk", options.chunk, ReadPositive<std::size_t>, "a positive number",
           "with --baud, send in groups of 1..N bytes (sizes from --seed)")
      ->type_name("N");
  AddValue(app, "--latency", options.latency, ReadMilliseconds, "a number of milliseconds",
           "what the target sends reaches the PC MS later (a USB adapter's latency timer)")
      ->type_name("MS");
  app.add_option("--record", options.record,
                 "at the end, write the frames received after the who-am-I reply")
      ->type_name("FILE");
  AddValue(app, "--leave-after", options.leaveAfter, ReadPositiveMilliseconds,
           "a positive number of milliseconds",
           "end MS after the first byte from the PC (a box taken away)")
      ->type_name("MS");
}

// The options, or how the program ends without serving (--help, --version, a usage error).
std::variant<Options, tavrin::options::ParseEnd> ParseArguments(int argc, char** argv) {
  Options options;
  CLI::App app(
      "Plays the set-top box's loader on a pseudo-terminal or a device. Prints the path it\n"
      "serves on the first line of stdout, then serves until SIGTERM or SIGINT.");
  tavrin::options::SetUpProgram(app, "tavrin-target-sim");
  AddLineOptions(app, options);
  AddTargetOptions(app, options);
  app.footer("Scenarios: " + Joined(ScenarioNames()) + "\nFaults: " + Joined(FaultNames()));
  app.final_callback([&options] {
    if (options.chunk > 0 && options.baud == 0) {
      throw CLI::ValidationError("--chunk", "needs --baud (groups are paced)");
    }
  });
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (auto end = tavrin::options::Parse(app, args, kUsageStatus)) return *end;
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
  const auto parsed = ParseArguments(argc, argv);
  if (const auto* end = std::get_if<tavrin::options::ParseEnd>(&parsed)) {
    std::fputs(end->out.c_str(), stdout);
    std::fputs(end->err.c_str(), stderr);
    return end->status;
  }
  const Options* options = &std::get<Options>(parsed);
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
