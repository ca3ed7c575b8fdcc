#include "bench/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>

extern char** environ;

namespace tavrin::bench {
namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kSimStartLimit = std::chrono::seconds{10};  // for its first line
constexpr auto kSimStopLimit = std::chrono::seconds{5};    // after SIGTERM

class FileActions {
 public:
  FileActions() { posix_spawn_file_actions_init(&actions_); }
  ~FileActions() { posix_spawn_file_actions_destroy(&actions_); }
  FileActions(const FileActions&) = delete;
  FileActions& operator=(const FileActions&) = delete;
  posix_spawn_file_actions_t* Get() { return &actions_; }

 private:
  posix_spawn_file_actions_t actions_{};
};

// A descriptor that becomes readable when the child ends, so that its end can be waited
// for with a time limit. Called through syscall(): glibc 2.36 declares pidfd_open without
// C linkage.
int PidFdOpen(pid_t pid) {
  return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
}

struct Spawned {
  pid_t pid = -1;
  int pidFd = -1;
};

Spawned Spawn(const std::string& program, const std::vector<std::string>& args,
              FileActions& actions) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  Spawned spawned;
  if (posix_spawn(&spawned.pid, program.c_str(), actions.Get(), nullptr, argv.data(), environ) !=
      0) {
    return {};
  }
  spawned.pidFd = PidFdOpen(spawned.pid);
  return spawned;
}

int MillisecondsUntil(Clock::time_point until) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now());
  return static_cast<int>(std::max<std::chrono::milliseconds::rep>(left.count(), 0));
}

// Waits until the child has ended or `until` has passed; true when it has ended.
bool WaitForExit(int pidFd, Clock::time_point until) {
  if (pidFd < 0) return false;
  for (;;) {
    pollfd fd{pidFd, POLLIN, 0};
    const int ready = ::poll(&fd, 1, MillisecondsUntil(until));
    if (ready > 0) return true;
    if (ready == 0 || errno != EINTR) return false;
  }
}

double Seconds(const timeval& t) {
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

// Reaps the child; its exit status, or -1 when it did not exit normally.
int Reap(pid_t pid, rusage& usage) {
  int status = 0;
  while (::wait4(pid, &status, 0, &usage) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Reads up to the first newline from `fd`, waiting at most until `until`.
std::string FirstLine(int fd, Clock::time_point until) {
  std::string text;
  std::array<char, 256> buffer{};
  while (text.find('\n') == std::string::npos) {
    pollfd p{fd, POLLIN, 0};
    const int ready = ::poll(&p, 1, MillisecondsUntil(until));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return {};
    const ssize_t n = ::read(fd, buffer.data(), buffer.size());
    if (n <= 0) return {};
    text.append(buffer.data(), static_cast<std::size_t>(n));
  }
  return text.substr(0, text.find('\n'));
}

}  // namespace

ChildRun RunToEnd(const std::string& program, const std::vector<std::string>& args,
                  const std::filesystem::path& output, std::chrono::milliseconds limit) {
  FileActions actions;
  posix_spawn_file_actions_addopen(actions.Get(), STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(actions.Get(), STDOUT_FILENO, output.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(actions.Get(), STDOUT_FILENO, STDERR_FILENO);
  ChildRun run;
  const auto started = Clock::now();
  const Spawned child = Spawn(program, args, actions);
  if (child.pid < 0) return run;
  run.started = true;
  if (!WaitForExit(child.pidFd, started + limit)) {
    ::kill(child.pid, SIGKILL);
    run.timedOut = true;
  }
  rusage usage{};
  run.exitStatus = Reap(child.pid, usage);
  run.elapsedSeconds = std::chrono::duration<double>(Clock::now() - started).count();
  run.cpuSeconds = Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
  if (child.pidFd >= 0) ::close(child.pidFd);
  return run;
}

SimTarget::SimTarget(const std::string& program, const std::vector<std::string>& args,
                     const std::filesystem::path& errors) {
  int out[2];
  if (::pipe2(out, O_CLOEXEC) != 0) return;
  FileActions actions;
  posix_spawn_file_actions_addopen(actions.Get(), STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(actions.Get(), out[1], STDOUT_FILENO);
  posix_spawn_file_actions_addopen(actions.Get(), STDERR_FILENO, errors.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  std::vector<std::string> all{"--pty"};
  all.insert(all.end(), args.begin(), args.end());
  const Spawned child = Spawn(program, all, actions);
  ::close(out[1]);
  pid_ = child.pid;
  pidFd_ = child.pidFd;
  if (pid_ > 0) device_ = FirstLine(out[0], Clock::now() + kSimStartLimit);
  ::close(out[0]);
}

SimTarget::~SimTarget() {
  Stop();
}

void SimTarget::Stop() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGTERM);
  if (!WaitForExit(pidFd_, Clock::now() + kSimStopLimit)) ::kill(pid_, SIGKILL);
  rusage usage{};
  Reap(pid_, usage);
  cpuSeconds_ = Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
  if (pidFd_ >= 0) ::close(pidFd_);
  pid_ = -1;
  pidFd_ = -1;
}

}  // namespace tavrin::bench
