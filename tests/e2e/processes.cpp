#include "processes.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>

extern char** environ;

namespace tavrin::test {
namespace {

using Clock = std::chrono::steady_clock;

struct Spawned {
  pid_t pid = -1;
  int out = -1;
  int err = -1;
};

std::vector<char*> Argv(const std::string& program, const std::vector<std::string>& args) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  return argv;
}

Spawned Spawn(const std::string& program, const std::vector<std::string>& args) {
  int out[2];
  int err[2];
  if (::pipe2(out, O_CLOEXEC) != 0) return {};
  if (::pipe2(err, O_CLOEXEC) != 0) return {};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
  std::vector<char*> argv = Argv(program, args);
  Spawned spawned;
  if (posix_spawn(&spawned.pid, program.c_str(), &actions, nullptr, argv.data(), environ) != 0) {
    spawned.pid = -1;
  }
  posix_spawn_file_actions_destroy(&actions);
  ::close(out[1]);
  ::close(err[1]);
  spawned.out = out[0];
  spawned.err = err[0];
  return spawned;
}

// fork and exec, the child switched to `user` first: posix_spawn cannot change the user.
// Everything the child needs is built before the fork.
Spawned SpawnAs(const RunAs& user, const std::string& program,
                const std::vector<std::string>& args) {
  int out[2];
  int err[2];
  if (::pipe2(out, O_CLOEXEC) != 0) return {};
  if (::pipe2(err, O_CLOEXEC) != 0) return {};
  std::vector<char*> argv = Argv(program, args);
  std::string tmpdir = "TMPDIR=/tmp";
  std::vector<char*> env;
  for (char** e = environ; *e; ++e) {
    if (std::strncmp(*e, "TMPDIR=", 7) != 0) env.push_back(*e);
  }
  env.push_back(tmpdir.data());
  env.push_back(nullptr);
  Spawned spawned;
  spawned.pid = ::fork();
  if (spawned.pid == 0) {
    if (::dup2(out[1], STDOUT_FILENO) >= 0 && ::dup2(err[1], STDERR_FILENO) >= 0 &&
        ::setgroups(0, nullptr) == 0 && ::setgid(user.gid) == 0 && ::setuid(user.uid) == 0) {
      ::execve(program.c_str(), argv.data(), env.data());
    }
    constexpr char kFailed[] = "cannot run as that user\n";
    [[maybe_unused]] const auto ignored = ::write(STDERR_FILENO, kFailed, sizeof kFailed - 1);
    ::_exit(kCannotRunAs);
  }
  ::close(out[1]);
  ::close(err[1]);
  spawned.out = out[0];
  spawned.err = err[0];
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
  while (out.find('\n') == std::string::npos && Clock::now() < until) {
    pollfd p{stdoutFd_, POLLIN, 0};
    if (::poll(&p, 1, 100) > 0 && !Drain(stdoutFd_, out)) break;
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

namespace {

// Collects what `spawned` writes until it ends; SIGINT after `interruptAfter` (unless 0),
// SIGKILL after `limit`.
CliRun Collect(const Spawned& spawned, std::chrono::milliseconds limit,
               std::chrono::milliseconds interruptAfter) {
  CliRun run;
  if (spawned.pid < 0) return run;
  const auto started = Clock::now();
  bool interrupted = interruptAfter.count() == 0;
  bool outOpen = true;
  bool errOpen = true;
  while (outOpen || errOpen) {
    const auto now = Clock::now();
    if (now - started > limit) {
      ::kill(spawned.pid, SIGKILL);
      break;
    }
    if (!interrupted && now - started >= interruptAfter) {
      ::kill(spawned.pid, SIGINT);
      interrupted = true;
    }
    pollfd fds[2] = {{spawned.out, POLLIN, 0}, {spawned.err, POLLIN, 0}};
    if (::poll(fds, 2, 50) <= 0) continue;
    if (outOpen && (fds[0].revents & (POLLIN | POLLHUP))) outOpen = Drain(spawned.out, run.out);
    if (errOpen && (fds[1].revents & (POLLIN | POLLHUP))) errOpen = Drain(spawned.err, run.err);
  }
  int status = 0;
  ::waitpid(spawned.pid, &status, 0);
  ::close(spawned.out);
  ::close(spawned.err);
  if (WIFEXITED(status) && Clock::now() - started <= limit) run.status = WEXITSTATUS(status);
  return run;
}

}  // namespace

CliRun RunCli(const std::vector<std::string>& args, std::chrono::milliseconds limit,
              std::chrono::milliseconds interruptAfter) {
  return Collect(Spawn(CliPath(), args), limit, interruptAfter);
}

CliRun RunCliAs(const RunAs& user, const std::vector<std::string>& args,
                std::chrono::milliseconds limit) {
  return Collect(SpawnAs(user, CliPath(), args), limit, std::chrono::milliseconds(0));
}

}  // namespace tavrin::test
