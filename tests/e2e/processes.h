// Running tavrin-cli and tavrin-target-sim as separate processes, as an operator would.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

#include "support/temp_files.h"

namespace tavrin::test {

// The simulated target on a pseudo-terminal of its own, for the test's lifetime.
class SimProcess {
 public:
  explicit SimProcess(std::vector<std::string> args);
  ~SimProcess();

  // The slave path the target serves ("" when it did not start).
  const std::string& Device() const { return device_; }
  // Ends the target (SIGTERM) and returns what it wrote to stderr.
  std::string Stop();

 private:
  pid_t pid_ = -1;
  TempDir dir_;  // holds its stderr
  std::string device_;
};

struct CliRun {
  int status = -1;  // exit status; -1 when it did not end in time
  std::string out;
  std::string err;
};

// Runs tavrin-cli with `args`: SIGINT after `interruptAfter` (unless 0), killed at `limit`.
CliRun RunCli(const std::vector<std::string>& args,
              std::chrono::milliseconds limit = std::chrono::seconds(30),
              std::chrono::milliseconds interruptAfter = std::chrono::milliseconds(0));

// Runs build/`program` (a path under the build directory, "sim/tavrin-target-sim") with
// `args` in the folder `cwd` (empty: this one), killed at `limit`.
CliRun RunProgram(const std::string& program, const std::vector<std::string>& args,
                  const std::string& cwd = {},
                  std::chrono::milliseconds limit = std::chrono::seconds(30));

// RunCli as another user, through setpriv (root only); 126 or 127: the user may not run it.
CliRun RunCliAs(uid_t uid, gid_t gid, const std::vector<std::string>& args);

}  // namespace tavrin::test
