// tavrin-cli ports, and the cause that follows "Port is not available." for a port that is
// missing, one the user may not open, and one another process holds.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <nlohmann/json.hpp>
#include <sstream>

#include "processes.h"
#include "support/temp_files.h"

namespace tavrin::test {
namespace {

// The table has a heading and a line per port of the JSON, in the same order.
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
}

enum class Obstacle { kMissing, kNoPermission, kLocked, kExclusive };

class CliOpenFailure : public testing::TestWithParam<std::pair<const char*, Obstacle>> {
 protected:
  void TearDown() override {
    if (held_ >= 0) ::close(held_);
  }
  // Holds `device` open in exclusive mode until the end of the test, and locked if asked.
  bool Hold(const std::string& device, bool lock) {
    held_ = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (held_ < 0 || ::ioctl(held_, TIOCEXCL) != 0) return false;
    return !lock || ::flock(held_, LOCK_EX | LOCK_NB) == 0;
  }
  int held_ = -1;
};

// A missing device; a group-only one and one held in exclusive mode, opened by an
// unprivileged user; one this test holds locked. The wording of each cause is the
// diagnosis's own test; here the causes name what the system really has.
TEST_P(CliOpenFailure, TheReportStaysAndTheCauseFollowsIt) {
  const Obstacle obstacle = GetParam().second;
  const bool unprivileged = obstacle == Obstacle::kNoPermission || obstacle == Obstacle::kExclusive;
  if (unprivileged && ::geteuid() != 0) GTEST_SKIP() << "only root can run as another user";
  const passwd* nobody = ::getpwnam("nobody");
  ASSERT_NE(nobody, nullptr);
  const std::string user = nobody->pw_name;
  SimProcess sim({});
  std::string device = sim.Device();
  ASSERT_FALSE(device.empty());
  std::string cause;
  if (obstacle == Obstacle::kMissing) {
    device = "/dev/tavrin-no-such-port";
    cause = "No such device: /dev/tavrin-no-such-port does not exist. ";
  } else if (obstacle == Obstacle::kNoPermission) {
    struct stat st {};
    ASSERT_EQ(::chmod(device.c_str(), 0660), 0);
    ASSERT_EQ(::stat(device.c_str(), &st), 0);
    const group* owner = ::getgrgid(st.st_gid);
    ASSERT_NE(owner, nullptr);
    const std::string group = owner->gr_name;
    cause = "Permission denied: " + device + " belongs to group " + group + ", and user " + user +
            " is not in it. Add them with: sudo usermod -aG " + group + " " + user;
  } else if (obstacle == Obstacle::kLocked) {
    ASSERT_TRUE(Hold(device, true));
    const std::string command = ReadFile("/proc/self/comm");
    cause = "Busy: " + device + " is locked (flock) by process " + std::to_string(::getpid()) +
            " (" + command.substr(0, command.find('\n')) + ")";
  } else {
    ASSERT_EQ(::chmod(device.c_str(), 0666), 0);
    ASSERT_TRUE(Hold(device, false));
    cause = "Busy: " + device + " is in exclusive use (TIOCEXCL) by another program; user " + user;
  }
  const std::vector<std::string> args{"upload", "--port", device, "image.urt"};
  const CliRun run = unprivileged ? RunCliAs(nobody->pw_uid, nobody->pw_gid, args) : RunCli(args);
  if (run.status == 126 || run.status == 127) {
    GTEST_SKIP() << user << " may not run tavrin-cli from this build tree: " << run.err;
  }
  EXPECT_EQ(run.status, 3) << run.err;
  EXPECT_EQ(run.out, "");
  EXPECT_NE(run.err.find("COM Port Open: Port is not available.\ntavrin-cli: " + cause),
            std::string::npos)
      << run.err;
}

INSTANTIATE_TEST_SUITE_P(Ports, CliOpenFailure,
                         testing::Values(std::pair{"Missing", Obstacle::kMissing},
                                         std::pair{"NoPermission", Obstacle::kNoPermission},
                                         std::pair{"Locked", Obstacle::kLocked},
                                         std::pair{"Exclusive", Obstacle::kExclusive}),
                         [](const auto& row) { return std::string(row.param.first); });

}  // namespace
}  // namespace tavrin::test
