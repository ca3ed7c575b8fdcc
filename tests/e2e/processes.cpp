#include "processes.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>

#include "support/temp_files.h"

extern char** environ;

namespace tavrin::test {
namespace {

using std::chrono::milliseconds;

const std::string kCli = std::string(TAVRIN_BINARY_DIR) + "/src/cli/tavrin-cli";

// Starts `program` with `args` and `actions` (which it destroys); -1 when it cannot.
pid_t Spawn(const std::string& program, const std::vector<std::string>& args,
            posix_spawn_file_actions_t& actions) {
  std::vector<char*> argv{const_cast<char*>(program.c_str())};
  for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  const int failed = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  return failed ? -1 : pid;
}

// Whether the process behind `pidfd` ends within `wait`.
bool Ends(int pidfd, milliseconds wait) {
  pollfd ended{pidfd, POLLIN, 0};
  return ::poll(&ended, 1, static_cast<int>(wait.count())) > 0;
}

// Runs `program` to its end: SIGINT after `interruptAfter` (unless 0), SIGKILL after `limit`.
CliRun Run(const std::string& program, const std::vector<std::string>& args, milliseconds limit,
           milliseconds interruptAfter, const std::string& cwd = {}) {
  const TempDir dir;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (!cwd.empty()) posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, (dir / "out").c_str(),
                                   O_WRONLY | O_CREAT, 0600);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, (dir / "err").c_str(),
                                   O_WRONLY | O_CREAT, 0600);
  const pid_t pid = Spawn(program, args, actions);
  const int pidfd = pid > 0 ? static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)) : -1;
  if (pidfd < 0) return {};
  if (interruptAfter.count() > 0 && !Ends(pidfd, interruptAfter)) ::kill(pid, SIGINT);
  const bool ended = Ends(pidfd, std::max(limit - interruptAfter, milliseconds(0)));
  if (!ended) ::kill(pid, SIGKILL);
  int status = 0;
  ::waitpid(pid, &status, 0);
  ::close(pidfd);
  const int exit = ended && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return {exit, ReadFile(dir / "out"), ReadFile(dir / "err")};
}

}  // namespace

SimProcess::SimProcess(std::vector<std::string> args) {
  args.insert(args.begin(), "--pty");
  int out[2];
  if (::pipe2(out, O_CLOEXEC) != 0) return;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, (dir_ / "err").c_str(),
                                   O_WRONLY | O_CREAT, 0600);
  pid_ = Spawn(std::string(TAVRIN_BINARY_DIR) + "/sim/tavrin-target-sim", args, actions);
  ::close(out[1]);
  // The device path, on the first line: the target writes it at once, and nothing more.
  std::string line;
  char chunk[256];
  for (pollfd ready{out[0], POLLIN, 0}; line.find('\n') == std::string::npos;) {
    if (::poll(&ready, 1, 10000) <= 0) break;
    const ssize_t got = ::read(out[0], chunk, sizeof chunk);
    if (got <= 0) break;
    line.append(chunk, static_cast<std::size_t>(got));
  }
  ::close(out[0]);
  if (const auto end = line.find('\n'); end != std::string::npos) device_ = line.substr(0, end);
}

SimProcess::~SimProcess() {
  Stop();
}

std::string SimProcess::Stop() {
  if (pid_ > 0) {
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }
  return ReadFile(dir_ / "err");
}

CliRun RunCli(const std::vector<std::string>& args, milliseconds limit,
              milliseconds interruptAfter) {
  return Run(kCli, args, limit, interruptAfter);
}

CliRun RunProgram(const std::string& program, const std::vector<std::string>& args,
                  const std::string& cwd, milliseconds limit) {
  return Run(std::string(TAVRIN_BINARY_DIR) + "/" + program, args, limit, milliseconds(0), cwd);
}

CliRun RunCliAs(uid_t uid, gid_t gid, const std::vector<std::string>& args) {
  std::vector<std::string> all{"--reuid=" + std::to_string(uid),
                               "--regid=" + std::to_string(gid),
                               "--clear-groups",
                               "/usr/bin/env",
                               "TMPDIR=/tmp",
                               kCli};
  all.insert(all.end(), args.begin(), args.end());
  return Run("/usr/bin/setpriv", all, std::chrono::seconds(30), milliseconds(0));
}

}  // namespace tavrin::test
