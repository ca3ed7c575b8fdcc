// tavrin-target-sim as a program: serves a pseudo-terminal, survives the PC closing and
// reopening it, and ends cleanly on SIGTERM.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

extern char** environ;

namespace {

using Bytes = std::vector<std::uint8_t>;

const std::string kProgram = std::string(TAVRIN_BINARY_DIR) + "/sim/tavrin-target-sim";

// Reads up to `count` bytes (or through `until`), waiting at most `timeoutMs` for each.
Bytes ReadSome(int fd, std::size_t count, int timeoutMs = 3000, int until = -1) {
  Bytes out;
  while (out.size() < count && (out.empty() || out.back() != until)) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, timeoutMs) <= 0) break;
    std::uint8_t buffer[256];
    ssize_t n = read(fd, buffer, until >= 0 ? 1 : std::min(sizeof buffer, count - out.size()));
    if (n <= 0) break;
    out.insert(out.end(), buffer, buffer + n);
  }
  return out;
}

int OpenRaw(const std::string& path) {
  int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  termios tio{};
  if (fd >= 0 && tcgetattr(fd, &tio) == 0) {
    cfmakeraw(&tio);
    tcsetattr(fd, TCSANOW, &tio);
  }
  return fd;
}

class SimProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::filesystem::exists(kProgram)) GTEST_SKIP() << kProgram << " is not built";
    int out[2];
    ASSERT_EQ(pipe2(out, O_CLOEXEC), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    std::vector<std::string> args{kProgram, "--pty", "--baud", "115200"};
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    ASSERT_EQ(posix_spawn(&pid_, kProgram.c_str(), &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    Bytes line = ReadSome(out[0], 256, 5000, '\n');
    close(out[0]);
    auto end = std::find(line.begin(), line.end(), '\n');
    ASSERT_NE(end, line.end());
    path_.assign(line.begin(), end);
  }

  void TearDown() override {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }

  // Sends SIGTERM and waits (bounded) for the exit status.
  int Terminate() {
    int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid_, 0));
    kill(pid_, SIGTERM);
    pollfd p{pidfd, POLLIN, 0};
    int ready = poll(&p, 1, 5000);
    close(pidfd);
    if (ready <= 0) return -1;
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    return status;
  }

  pid_t pid_ = -1;
  std::string path_;
};

TEST_F(SimProgram, ServesAPseudoTerminalAcrossReopensAndEndsOnSigterm) {
  ASSERT_EQ(path_.rfind("/dev/pts/", 0), 0u) << path_;
  const Bytes ping{0x02, 0x00, 0x02, 'h', 'i', 0x03};
  for (int round = 0; round < 2; ++round) {
    int fd = OpenRaw(path_);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, ping.data(), ping.size()), static_cast<ssize_t>(ping.size()));
    EXPECT_EQ(ReadSome(fd, ping.size()), ping) << "round " << round;
    close(fd);
  }
  int fd = OpenRaw(path_);
  std::uint8_t attention = 0x17;
  ASSERT_EQ(write(fd, &attention, 1), 1);
  EXPECT_EQ(ReadSome(fd, 2), (Bytes{0x06, 0x05}));
  close(fd);
  int status = Terminate();
  ASSERT_TRUE(WIFEXITED(status)) << status;
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
