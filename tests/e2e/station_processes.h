// The station and its boxes as separate processes, followed as they run: a box is the
// simulated target on a pseudo-terminal of its own behind a link that stands for the
// adapter's stable name, and the station's --json events are read as they come.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

namespace tavrin::test {

// A program with its stdout on a pipe that the test reads.
class Child {
 public:
  Child(const std::string& program, const std::vector<std::string>& args,
        const std::filesystem::path& errors);
  ~Child();
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  bool Started() const { return pid_ > 0; }
  // The next line of stdout, waiting at most `limit`; nullopt at the end or the time-out.
  std::optional<std::string> ReadLine(std::chrono::milliseconds limit);
  // Waits at most `limit` for the process to end; its exit status, -1 otherwise (or when
  // a signal ended it).
  std::optional<int> Wait(std::chrono::milliseconds limit);
  void Signal(int signal);

 private:
  pid_t pid_ = -1;
  int pidFd_ = -1;
  int out_ = -1;
  std::string buffer_;
  std::optional<int> status_;
};

// One box: the simulated target with `args`, its device reached through `link` from the
// moment it starts until it ends (then the link goes, as a by-id name does).
class Box {
 public:
  Box(const std::filesystem::path& link, std::vector<std::string> args,
      const std::filesystem::path& errors);
  ~Box();
  bool Ready() const { return !device_.empty(); }
  const std::string& Device() const { return device_; }
  // The box goes by itself (--leave-after): waits for that, then the link goes.
  bool WaitGone(std::chrono::milliseconds limit);
  // The box is pulled now.
  void Pull();

 private:
  std::filesystem::path link_;
  Child child_;
  std::string device_;
};

// tavrin-cli station with --json, its events read as they come.
class Station {
 public:
  Station(const std::vector<std::string>& args, const std::filesystem::path& errors);
  // Reads events until one satisfies `match` (returned) or `limit` passes.
  std::optional<nlohmann::json> WaitFor(const std::function<bool(const nlohmann::json&)>& match,
                                        std::chrono::milliseconds limit);
  // Every event read so far.
  const std::vector<nlohmann::json>& Events() const { return events_; }
  // Reads the rest of the events and waits for the end: the exit status.
  std::optional<int> Finish(std::chrono::milliseconds limit);
  Child& Process() { return child_; }

 private:
  Child child_;
  std::vector<nlohmann::json> events_;
};

// The path of tavrin-cli and of the simulated target.
std::string CliProgram();
std::string SimProgram();

}  // namespace tavrin::test
