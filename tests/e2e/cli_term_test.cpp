// tavrin-cli term as a user runs it: the test is the user's terminal (it holds the master
// side of a pseudo-terminal; the program's stdin, stdout and stderr are the slave side),
// against a simulated target that echoes what is typed.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cstring>
#include <functional>

#include "e2e_files.h"
#include "processes.h"

extern char** environ;

namespace tavrin::test {
namespace {

using namespace std::chrono_literals;
using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

const std::string kCli = std::string(TAVRIN_BINARY_DIR) + "/src/cli/tavrin-cli";
constexpr auto kLimit = 20s;  // every wait of these tests ends by then
constexpr std::string_view kReady = "Ctrl+T q quits";
constexpr std::string_view kBlue = "\x1b[34m";
constexpr std::string_view kPlain = "\x1b[0m";

bool SameSettings(const termios& a, const termios& b) {
  return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
         a.c_lflag == b.c_lflag && std::memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0 &&
         cfgetispeed(&a) == cfgetispeed(&b) && cfgetospeed(&a) == cfgetospeed(&b);
}

// Starts `kCli args` with stdin, stdout and stderr on `in`, `out` and `err`; -1 when it cannot.
pid_t SpawnCli(const std::vector<std::string>& args, int in, int out, int err,
               const std::filesystem::path& tmp) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in, STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, out, STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, err, STDERR_FILENO);
  std::vector<std::string> env{"TMPDIR=" + tmp.string(), "LANG=C.UTF-8", "HOME=" + tmp.string()};
  std::vector<char*> envp;
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::vector<char*> argv{const_cast<char*>(kCli.c_str())};
  for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  const int failed = posix_spawn(&pid, kCli.c_str(), &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  return failed ? -1 : pid;
}

// The user's terminal: a pseudo-terminal of 24 rows by 80 columns in its usual cooked
// settings, with tavrin-cli term running on its slave side.
class UserTerminal {
 public:
  UserTerminal(const std::vector<std::string>& args, const std::filesystem::path& tmp) {
    winsize size{};
    size.ws_row = 24;
    size.ws_col = 80;
    if (::openpty(&master_, &slave_, nullptr, nullptr, &size) != 0) return;
    ::fcntl(master_, F_SETFD, FD_CLOEXEC);
    ::fcntl(slave_, F_SETFD, FD_CLOEXEC);
    ::tcgetattr(slave_, &before_);
    pid_ = SpawnCli(args, slave_, slave_, slave_, tmp);
    if (pid_ > 0) pidfd_ = static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0));
  }
  ~UserTerminal() {
    if (pid_ > 0 && status_ == kRunning) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    for (int fd : {pidfd_, master_, slave_}) {
      if (fd >= 0) ::close(fd);
    }
  }
  UserTerminal(const UserTerminal&) = delete;
  UserTerminal& operator=(const UserTerminal&) = delete;

  bool Started() const { return pidfd_ >= 0; }
  void Type(std::string_view keys) {
    ASSERT_EQ(::write(master_, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
  }
  void Signal(int signal) { ::kill(pid_, signal); }
  // Everything written to the terminal so far.
  const std::string& Screen() const { return screen_; }
  // Reads the screen until `text` is on it after `from`; false at kLimit.
  bool WaitFor(std::string_view text, std::size_t from = 0) {
    return Pump([&] { return screen_.find(text, from) != std::string::npos; });
  }
  // The exit status, reading the screen until the program has ended; -1 at kLimit.
  int WaitExit() {
    Pump([&] { return Exited(); });
    return status_;
  }
  // The settings now against those the terminal had before the program started.
  bool SettingsRestored() const {
    termios now{};
    return ::tcgetattr(slave_, &now) == 0 && SameSettings(before_, now);
  }

 private:
  static constexpr int kRunning = -1;

  bool Exited() {
    if (status_ != kRunning) return true;
    pollfd ended{pidfd_, POLLIN, 0};
    if (::poll(&ended, 1, 0) <= 0) return false;
    int status = 0;
    ::waitpid(pid_, &status, 0);
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
    return true;
  }

  // Reads whatever the program writes until `done` holds or kLimit has passed; never blocks
  // the program on a full terminal.
  bool Pump(const std::function<bool()>& done) {
    const auto until = Clock::now() + kLimit;
    char chunk[4096];
    while (!done()) {
      const auto left = std::chrono::ceil<milliseconds>(until - Clock::now());
      if (left.count() <= 0) return false;
      std::array<pollfd, 2> fds{pollfd{master_, POLLIN, 0}, pollfd{pidfd_, POLLIN, 0}};
      ::poll(fds.data(), fds.size(), static_cast<int>(left.count()));
      if (fds[0].revents & POLLIN) {
        const ssize_t got = ::read(master_, chunk, sizeof chunk);
        if (got > 0) screen_.append(chunk, static_cast<std::size_t>(got));
      }
    }
    return true;
  }

  int master_ = -1;
  int slave_ = -1;
  termios before_{};
  pid_t pid_ = -1;
  int pidfd_ = -1;
  int status_ = kRunning;
  std::string screen_;
};

class CliTerm : public testing::Test {
 protected:
  std::vector<std::string> Args(const SimProcess& sim, std::vector<std::string> more = {}) {
    std::vector<std::string> args{"term", "--port", sim.Device(), "--log-dir", Logs().string()};
    args.insert(args.end(), more.begin(), more.end());
    return args;
  }
  std::filesystem::path Logs() const { return dir_ / "logs"; }
  // The capture the run kept in --log-dir.
  std::string Capture(const SimProcess& sim) const {
    std::string name = sim.Device().substr(std::string("/dev/").size());
    std::replace(name.begin(), name.end(), '/', '_');
    return ReadFile(Logs() / (name + ".log"));
  }

  TempDir dir_;
};

TEST_F(CliTerm, TypedKeysEchoBlankedAnUploadReportsAndQuitRestoresTheSettings) {
  SimProcess sim({"--echo"});
  ASSERT_FALSE(sim.Device().empty());
  UserTerminal user(Args(sim), dir_.Path());
  ASSERT_TRUE(user.Started());
  ASSERT_TRUE(user.WaitFor(kReady)) << user.Screen();
  EXPECT_FALSE(user.SettingsRestored());  // raw while it runs

  // ACK (a protocol byte) comes back blanked in the capture; SOH is kept there and shown
  // as a blank; é (UTF-8 on the terminal) goes out as its Latin-1 byte and comes back as é.
  std::size_t mark = user.Screen().size();
  user.Type(
      "ab\x06"
      "c\x01"
      "\xC3\xA9\r");
  ASSERT_TRUE(user.WaitFor("ab c \xC3\xA9\r\n", mark)) << user.Screen();

  mark = user.Screen().size();
  user.Type("\x14u");
  ASSERT_TRUE(user.WaitFor("Upload file (URT): ", mark)) << user.Screen();
  user.Type(WriteUrt(dir_ / "image.urt", {100, 200}).string() + "\r");
  const std::string success = Block(1);  // its CR LFs are the terminal's line breaks too
  ASSERT_TRUE(user.WaitFor(std::string(kBlue) + success + std::string(kPlain), mark))
      << user.Screen();

  user.Type("\x14q");
  EXPECT_EQ(user.WaitExit(), 0) << user.Screen();
  EXPECT_TRUE(user.SettingsRestored());
  const std::string capture = Capture(sim);
  EXPECT_EQ(capture.find("ab c\x01\xE9\r"), 0u) << capture;
  EXPECT_NE(capture.find(success), std::string::npos) << capture;
}

// However the terminal ends, the user's terminal gets back exactly the settings it had.
struct Ending {
  const char* name;
  std::function<void(UserTerminal&, SimProcess&)> end;
  int status;
};

void PrintTo(const Ending& ending, std::ostream* out) {
  *out << ending.name;
}

class CliTermEnds : public CliTerm, public testing::WithParamInterface<Ending> {};

TEST_P(CliTermEnds, RestoreTheTerminalSettings) {
  SimProcess sim({"--echo"});
  UserTerminal user(Args(sim), dir_.Path());
  ASSERT_TRUE(user.Started());
  ASSERT_TRUE(user.WaitFor(kReady)) << user.Screen();
  user.Type("x\r");
  ASSERT_TRUE(user.WaitFor("x\r\n")) << user.Screen();
  GetParam().end(user, sim);
  EXPECT_EQ(user.WaitExit(), GetParam().status) << user.Screen();
  EXPECT_TRUE(user.SettingsRestored());
  EXPECT_EQ(Capture(sim), "x\r");  // kept in every case
}

INSTANTIATE_TEST_SUITE_P(
    EveryEnd, CliTermEnds,
    testing::Values(Ending{"Quit", [](UserTerminal& u, SimProcess&) { u.Type("\x14Q"); }, 0},
                    Ending{"CtrlC", [](UserTerminal& u, SimProcess&) { u.Type("\x03"); }, 130},
                    Ending{"Sigterm", [](UserTerminal& u, SimProcess&) { u.Signal(SIGTERM); }, 143},
                    Ending{"SessionDrops", [](UserTerminal& u, SimProcess&) { u.Signal(SIGHUP); },
                           129},
                    Ending{"TargetLineCloses", [](UserTerminal&, SimProcess& s) { s.Stop(); }, 6}),
    [](const testing::TestParamInfo<Ending>& row) { return std::string(row.param.name); });

TEST_F(CliTerm, TimestampsGoOnTheScreenOnlyTheCaptureStaysByteExact) {
  SimProcess sim({"--echo"});
  UserTerminal user(Args(sim, {"--timestamps"}), dir_.Path());
  ASSERT_TRUE(user.WaitFor(kReady)) << user.Screen();
  const std::size_t mark = user.Screen().size();
  user.Type("one\r\x05two\n");
  ASSERT_TRUE(user.WaitFor("two\r\n", mark)) << user.Screen();
  user.Type("\x14q");
  EXPECT_EQ(user.WaitExit(), 0);
  EXPECT_EQ(Capture(sim), "one\r two\n");
  // "[hh:mm:ss.mmm] " before each line.
  const std::string screen = user.Screen().substr(mark);
  for (const std::string line : {"one\r\n", " two\r\n"}) {
    const auto at = screen.find(line);
    ASSERT_NE(at, std::string::npos) << screen;
    ASSERT_GE(at, 15u);
    const std::string stamp = screen.substr(at - 15, 15);
    EXPECT_TRUE(stamp[0] == '[' && stamp[3] == ':' && stamp[6] == ':' && stamp[9] == '.' &&
                stamp.substr(13) == "] ")
        << stamp;
  }
}

// stdin a pipe: its bytes are sent as they come, and the command ends --linger seconds
// after its end; stdout (a file) carries the capture stream byte for byte, or its hex dump.
TEST_F(CliTerm, PipedInputIsSentAndTheCommandEndsAfterItsLinger) {
  const struct {
    const char* name;
    std::vector<std::string> more;
    std::string out;
  } rows[] = {
      {"Plain", {}, "version\r"},
      {"Hex",
       {"--hex"},
       "00000000  76 65 72 73 69 6F 6E 0D                           |version.|\n"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    SimProcess sim({"--echo"});
    int input[2];
    ASSERT_EQ(::pipe2(input, O_CLOEXEC), 0);
    const auto out = dir_ / (std::string(row.name) + ".out");
    const auto err = dir_ / (std::string(row.name) + ".err");
    const int outFd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    const int errFd = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    auto args = Args(sim, row.more);
    args.insert(args.end(), {"--linger", "1.5"});
    const pid_t pid = SpawnCli(args, input[0], outFd, errFd, dir_.Path());
    for (int fd : {input[0], outFd, errFd}) ::close(fd);
    ASSERT_GT(pid, 0);
    ASSERT_EQ(::write(input[1], "version\r", 8), 8);
    ::close(input[1]);  // the end of input
    const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    pollfd ended{pidfd, POLLIN, 0};
    const bool ends = ::poll(&ended, 1, static_cast<int>(milliseconds(kLimit).count())) > 0;
    if (!ends) ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ::close(pidfd);
    EXPECT_TRUE(ends && WIFEXITED(status) && WEXITSTATUS(status) == 0) << ReadFile(err);
    EXPECT_EQ(ReadFile(out), row.out) << ReadFile(err);
    EXPECT_EQ(Capture(sim), "version\r");
  }
}

}  // namespace
}  // namespace tavrin::test
