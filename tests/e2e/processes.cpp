#include "processes.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>

extern char** environ;

namespace tavrin::test {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

struct Spawned {
  pid_t pid = -1;
  int out = -1;
  int err = -1;
};

// `program` with `args`, its stdout and stderr each on a pipe to this process.
Spawned Spawn(const std::string& program, const std::vector<std::string>& args) {
  std::vector<char*> argv{const_cast<char*>(program.c_str())};
  for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  int out[2];
  int err[2];
  if (::pipe2(out, O_CLOEXEC) != 0) return {};
  if (::pipe2(err, O_CLOEXEC) != 0) {
    ::close(out[0]);
    ::close(out[1]);
    return {};
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
  Spawned spawned{-1, out[0], err[0]};
  if (posix_spawn(&spawned.pid, program.c_str(), &actions, nullptr, argv.data(), environ) != 0) {
    spawned.pid = -1;
  }
  posix_spawn_file_actions_destroy(&actions);
  ::close(out[1]);
  ::close(err[1]);
  return spawned;
}

// Reads whatever is available on `fd` into `into`; false at end of file.
bool Drain(int fd, std::string& into) {
  std::array<char, 4096> buffer;
  const ssize_t n = ::read(fd, buffer.data(), buffer.size());
  if (n <= 0) return n < 0 && errno == EINTR;
  into.append(buffer.data(), static_cast<std::size_t>(n));
  return true;
}

int MillisecondsUntil(Clock::time_point when) {
  const auto left = std::chrono::ceil<milliseconds>(when - Clock::now()).count();
  return static_cast<int>(std::max<decltype(left)>(left, 0));
}

// Collects what `spawned` writes until it ends; SIGINT after `interruptAfter` (unless 0),
// SIGKILL after `limit`.
CliRun Collect(const Spawned& spawned, milliseconds limit, milliseconds interruptAfter) {
  CliRun run;
  if (spawned.pid < 0) return run;
  const auto started = Clock::now();
  const auto killAt = started + limit;
  bool interrupted = interruptAfter.count() == 0;
  bool killed = false;
  bool outOpen = true;
  bool errOpen = true;
  while (outOpen || errOpen) {
    if (!interrupted && Clock::now() >= started + interruptAfter) {
      ::kill(spawned.pid, SIGINT);
      interrupted = true;
    }
    if (Clock::now() >= killAt) {
      ::kill(spawned.pid, SIGKILL);
      killed = true;
      break;
    }
    const int wait =
        MillisecondsUntil(interrupted ? killAt : std::min(killAt, started + interruptAfter));
    pollfd fds[2] = {{spawned.out, POLLIN, 0}, {spawned.err, POLLIN, 0}};
    if (::poll(fds, 2, wait) <= 0) continue;
    if (outOpen && (fds[0].revents & (POLLIN | POLLHUP))) outOpen = Drain(spawned.out, run.out);
    if (errOpen && (fds[1].revents & (POLLIN | POLLHUP))) errOpen = Drain(spawned.err, run.err);
  }
  int status = 0;
  ::waitpid(spawned.pid, &status, 0);
  ::close(spawned.out);
  ::close(spawned.err);
  if (WIFEXITED(status) && !killed) run.status = WEXITSTATUS(status);
  return run;
}

}  // namespace

std::string CliPath() {
  return std::string(TAVRIN_BINARY_DIR) + "/src/cli/tavrin-cli";
}
std::string SimPath() {
  return std::string(TAVRIN_BINARY_DIR) + "/sim/tavrin-target-sim";
}

SimProcess::SimProcess(std::vector<std::string> args) {
  args.insert(args.begin(), "--pty");
  const Spawned spawned = Spawn(SimPath(), args);
  pid_ = spawned.pid;
  stdoutFd_ = spawned.out;
  stderrFd_ = spawned.err;
  // The first line is the device path.
  std::string out;
  const auto until = Clock::now() + std::chrono::seconds(10);
  while (pid_ > 0 && out.find('\n') == std::string::npos) {
    pollfd p{stdoutFd_, POLLIN, 0};
    if (::poll(&p, 1, MillisecondsUntil(until)) <= 0 || !Drain(stdoutFd_, out)) break;
  }
  if (const auto end = out.find('\n'); end != std::string::npos) device_ = out.substr(0, end);
}

SimProcess::~SimProcess() {
  Stop();
}

std::string SimProcess::Stop() {
  std::string err;
  if (pid_ > 0) {
    ::kill(pid_, SIGTERM);
    while (Drain(stderrFd_, err)) {
    }
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }
  if (stdoutFd_ >= 0) ::close(stdoutFd_);
  if (stderrFd_ >= 0) ::close(stderrFd_);
  stdoutFd_ = stderrFd_ = -1;
  return err;
}

CliRun RunCli(const std::vector<std::string>& args, milliseconds limit,
              milliseconds interruptAfter) {
  return Collect(Spawn(CliPath(), args), limit, interruptAfter);
}

CliRun RunCliAs(uid_t uid, gid_t gid, const std::vector<std::string>& args) {
  std::vector<std::string> all{"--reuid=" + std::to_string(uid),
                               "--regid=" + std::to_string(gid),
                               "--clear-groups",
                               "/usr/bin/env",
                               "TMPDIR=/tmp",
                               CliPath()};
  all.insert(all.end(), args.begin(), args.end());
  return Collect(Spawn("/usr/bin/setpriv", all), std::chrono::seconds(30), milliseconds(0));
}

}  // namespace tavrin::test
