#include "station_processes.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace tavrin::test {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

int Remaining(Clock::time_point until) {
  const auto left = std::chrono::ceil<milliseconds>(until - Clock::now()).count();
  return static_cast<int>(std::max<long long>(left, 0));
}

}  // namespace

std::string CliProgram() {
  return std::string(TAVRIN_BINARY_DIR) + "/src/cli/tavrin-cli";
}

std::string SimProgram() {
  return std::string(TAVRIN_BINARY_DIR) + "/sim/tavrin-target-sim";
}

Child::Child(const std::string& program, const std::vector<std::string>& args,
             const std::filesystem::path& errors) {
  int out[2];
  if (::pipe2(out, O_CLOEXEC) != 0) return;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errors.c_str(),
                                   O_WRONLY | O_CREAT | O_APPEND, 0600);
  std::vector<char*> argv{const_cast<char*>(program.c_str())};
  for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  const int failed = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(out[1]);
  out_ = out[0];
  if (failed) return;
  pid_ = pid;
  pidFd_ = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
}

Child::~Child() {
  if (pid_ > 0 && !status_) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  if (pidFd_ >= 0) ::close(pidFd_);
  if (out_ >= 0) ::close(out_);
}

std::optional<std::string> Child::ReadLine(milliseconds limit) {
  const auto until = Clock::now() + limit;
  for (;;) {
    if (const auto end = buffer_.find('\n'); end != std::string::npos) {
      std::string line = buffer_.substr(0, end);
      buffer_.erase(0, end + 1);
      return line;
    }
    pollfd ready{out_, POLLIN, 0};
    if (::poll(&ready, 1, Remaining(until)) <= 0) return std::nullopt;
    char chunk[4096];
    const ssize_t got = ::read(out_, chunk, sizeof chunk);
    if (got <= 0) return std::nullopt;
    buffer_.append(chunk, static_cast<std::size_t>(got));
  }
}

std::optional<int> Child::Wait(milliseconds limit) {
  if (status_) return status_;
  if (pid_ <= 0) return std::nullopt;
  pollfd ended{pidFd_, POLLIN, 0};
  if (::poll(&ended, 1, static_cast<int>(limit.count())) <= 0) return std::nullopt;
  int status = 0;
  ::waitpid(pid_, &status, 0);
  status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return status_;
}

void Child::Signal(int signal) {
  if (pid_ > 0 && !status_) ::kill(pid_, signal);
}

Box::Box(const std::filesystem::path& link, std::vector<std::string> args,
         const std::filesystem::path& errors)
    : link_(link),
      child_(
          SimProgram(),
          [&args] {
            args.insert(args.begin(), "--pty");
            return args;
          }(),
          errors) {
  if (auto line = child_.ReadLine(std::chrono::seconds(10))) device_ = *line;
  if (device_.empty()) return;
  std::error_code ignored;
  std::filesystem::remove(link_, ignored);
  std::filesystem::create_symlink(device_, link_, ignored);
}

Box::~Box() {
  Pull();
}

bool Box::WaitGone(milliseconds limit) {
  const bool gone = child_.Wait(limit).has_value();
  std::error_code ignored;
  if (gone) std::filesystem::remove(link_, ignored);
  return gone;
}

void Box::Pull() {
  std::error_code ignored;
  std::filesystem::remove(link_, ignored);
  child_.Signal(SIGKILL);
  child_.Wait(std::chrono::seconds(10));
}

Station::Station(const std::vector<std::string>& args, const std::filesystem::path& errors)
    : child_(
          CliProgram(),
          [&args] {
            std::vector<std::string> all{"station", "--json"};
            all.insert(all.end(), args.begin(), args.end());
            return all;
          }(),
          errors) {}

std::optional<nlohmann::json> Station::WaitFor(
    const std::function<bool(const nlohmann::json&)>& match, milliseconds limit) {
  const auto until = Clock::now() + limit;
  while (Clock::now() < until) {
    const auto line = child_.ReadLine(milliseconds(Remaining(until)));
    if (!line) return std::nullopt;
    auto event = nlohmann::json::parse(*line, nullptr, false);
    if (event.is_discarded()) continue;
    events_.push_back(event);
    if (match(event)) return event;
  }
  return std::nullopt;
}

std::optional<int> Station::Finish(milliseconds limit) {
  const auto until = Clock::now() + limit;
  while (auto line = child_.ReadLine(milliseconds(Remaining(until)))) {
    auto event = nlohmann::json::parse(*line, nullptr, false);
    if (!event.is_discarded()) events_.push_back(event);
  }
  return child_.Wait(milliseconds(Remaining(until)));
}

}  // namespace tavrin::test
