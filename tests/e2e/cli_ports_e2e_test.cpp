// tavrin-cli ports, --port by USB serial number, and the cause that follows "Port is not
// available." for a port that is missing, one the user may not open, and one another
// process holds: tavrin-cli as a process of its own, on the simulated target's
// pseudo-terminal.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "processes.h"

namespace tavrin::test {
namespace {

// The table has a heading and a line per port of the JSON, in the same order; a serial
// number that no port has is a usage error.
TEST(CliPorts, TheTableAndTheJsonListTheSamePorts) {
  const auto json = RunCli({"ports", "--json"});
  const auto table = RunCli({"ports"});
  ASSERT_EQ(json.status, 0) << json.err;
  ASSERT_EQ(table.status, 0) << table.err;
  const auto ports = nlohmann::json::parse(json.out).at("ports");
  std::istringstream lines(table.out);
  std::string line;
  if (!ports.empty()) {
    EXPECT_TRUE(std::getline(lines, line) && line.starts_with("DEVICE "));
  }
  for (const auto& port : ports) {
    ASSERT_TRUE(std::getline(lines, line));
    EXPECT_TRUE(line.starts_with(port.at("device").get<std::string>() + " ")) << line;
    EXPECT_TRUE(port.contains("latency_timer_ms") && port.contains("serial_number")) << port;
  }
  EXPECT_FALSE(std::getline(lines, line)) << line;

  const auto unknown = RunCli({"upload", "--port", "serial:TAVRIN-NO-SUCH", "x.urt"});
  EXPECT_EQ(unknown.status, 1);
  EXPECT_EQ(unknown.err,
            "tavrin-cli: --port serial:TAVRIN-NO-SUCH: no serial port has this USB serial "
            "number (tavrin-cli ports lists them)\n");
}

enum class Obstacle {
  kMissing,       // no such device
  kNoPermission,  // group-only node, run as an unprivileged user
  kLocked,        // this test holds it open with flock and exclusive mode
  kExclusive,     // this test holds it in exclusive mode only; an unprivileged user runs
};

struct ObstacleRow {
  const char* name;
  Obstacle obstacle;
};

// The port held open by this test process until the end of the test.
class Holder {
 public:
  ~Holder() {
    if (fd_ >= 0) ::close(fd_);
  }
  bool Hold(const std::string& device, bool lock) {
    fd_ = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd_ < 0 || ::ioctl(fd_, TIOCEXCL) != 0) return false;
    return !lock || ::flock(fd_, LOCK_EX | LOCK_NB) == 0;
  }

 private:
  int fd_ = -1;
};

std::string UserName(uid_t uid) {
  const passwd* entry = ::getpwuid(uid);
  return entry ? entry->pw_name : std::to_string(uid);
}

std::string GroupName(gid_t gid) {
  const group* entry = ::getgrgid(gid);
  return entry ? entry->gr_name : std::to_string(gid);
}

std::string OwnCommand() {
  std::ifstream in("/proc/self/comm");
  std::string command;
  std::getline(in, command);
  return command;
}

class CliOpenFailure : public testing::TestWithParam<ObstacleRow> {};

TEST_P(CliOpenFailure, TheReportStaysAndTheCauseFollowsIt) {
  const Obstacle obstacle = GetParam().obstacle;
  const bool unprivileged = obstacle == Obstacle::kNoPermission || obstacle == Obstacle::kExclusive;
  if (unprivileged && ::geteuid() != 0) GTEST_SKIP() << "only root can run as another user";
  const passwd* nobody = ::getpwnam("nobody");
  const RunAs user{nobody ? nobody->pw_uid : 65534, nobody ? nobody->pw_gid : 65534};

  SimProcess sim({});
  std::string device = sim.Device();
  ASSERT_FALSE(device.empty());
  Holder holder;
  std::string cause;
  switch (obstacle) {
    case Obstacle::kMissing:
      device = "/dev/tavrin-no-such-port";
      cause = "No such device: /dev/tavrin-no-such-port does not exist. ";
      break;
    case Obstacle::kNoPermission: {
      ASSERT_EQ(::chmod(device.c_str(), 0660), 0);
      struct stat st {};
      ASSERT_EQ(::stat(device.c_str(), &st), 0);
      const std::string group = GroupName(st.st_gid);
      const std::string name = UserName(user.uid);
      cause = "Permission denied: " + device + " belongs to group " + group + ", and user " + name +
              " is not in it. Add them with: sudo usermod -aG " + group + " " + name +
              ", then log in again.\n";
      break;
    }
    case Obstacle::kLocked:
      ASSERT_TRUE(holder.Hold(device, true));
      cause = "Busy: " + device + " is locked (flock) by process " + std::to_string(::getpid()) +
              " (" + OwnCommand() + ")";
      break;
    case Obstacle::kExclusive:
      ASSERT_EQ(::chmod(device.c_str(), 0666), 0);
      ASSERT_TRUE(holder.Hold(device, false));
      cause = "Busy: " + device + " is in exclusive use (TIOCEXCL) by another program; user " +
              UserName(user.uid) +
              " may not see which (run as root to name it). Close the program that uses it.\n";
      break;
  }
  const std::vector<std::string> args{"upload", "--port", device, "image.urt"};
  const CliRun run = unprivileged ? RunCliAs(user, args) : RunCli(args);
  if (run.status == kCannotRunAs && run.err == "cannot run as that user\n") {
    GTEST_SKIP() << "tavrin-cli cannot be run as uid " << user.uid << " from this build tree";
  }
  EXPECT_EQ(run.status, 3) << run.err;
  EXPECT_EQ(run.out, "");
  EXPECT_NE(run.err.find("COM Port Open: Port is not available.\ntavrin-cli: " + cause),
            std::string::npos)
      << run.err;
}

INSTANTIATE_TEST_SUITE_P(Ports, CliOpenFailure,
                         testing::Values(ObstacleRow{"Missing", Obstacle::kMissing},
                                         ObstacleRow{"NoPermission", Obstacle::kNoPermission},
                                         ObstacleRow{"Locked", Obstacle::kLocked},
                                         ObstacleRow{"Exclusive", Obstacle::kExclusive}),
                         [](const auto& row) { return std::string(row.param.name); });

}  // namespace
}  // namespace tavrin::test
