// The programs under measurement, run as child processes: tavrin-cli to its end (wall
// time and CPU time taken from the kernel's accounting of the child), and the simulated
// target for the length of one case.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace tavrin::bench {

struct ChildRun {
  bool started = false;
  bool timedOut = false;  // killed at the limit
  int exitStatus = -1;    // -1 when it did not exit normally
  double elapsedSeconds = 0;
  double cpuSeconds = 0;  // user + system of the child, from wait4
};

// Runs `program` with `args` until it ends, at most `limit` (then SIGKILL). Its stdout
// and stderr go to `output`. Wall time runs from just before the spawn to its exit.
ChildRun RunToEnd(const std::string& program, const std::vector<std::string>& args,
                  const std::filesystem::path& output, std::chrono::milliseconds limit);

// tavrin-target-sim --pty with `args`, from construction to Stop() or destruction. Its
// stderr (the loader's problems) goes to `errors`.
class SimTarget {
 public:
  SimTarget(const std::string& program, const std::vector<std::string>& args,
            const std::filesystem::path& errors);
  ~SimTarget();
  SimTarget(const SimTarget&) = delete;
  SimTarget& operator=(const SimTarget&) = delete;

  // The pseudo-terminal the target serves; empty when it did not start.
  const std::string& Device() const { return device_; }
  // Ends the target (SIGTERM, SIGKILL when it does not end in time).
  void Stop();
  // User + system time the target took, known once it has been stopped.
  double CpuSeconds() const { return cpuSeconds_; }

 private:
  pid_t pid_ = -1;
  int pidFd_ = -1;
  std::string device_;
  double cpuSeconds_ = 0;
};

}  // namespace tavrin::bench
