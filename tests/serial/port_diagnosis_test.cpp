// Why a port could not be opened, worked out on a /dev and /proc built in a temporary
// directory, for a user and groups of the test's choosing.
#include "serial/port_diagnosis.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cerrno>
#include <fstream>

namespace tavrin::serial {
namespace {

namespace fs = std::filesystem;

constexpr unsigned kAlice = 4242;  // the user who asks; never the owner of the test's files

struct ProcessEntry {
  long pid;
  std::string command;
  bool holdsPort;  // has a descriptor on the port
};

class FakeTree : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::path(testing::TempDir()) / "diagnosis_XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    root_ = fs::canonical(pattern);
    fs::create_directories(root_ / "dev");
    fs::create_directories(root_ / "proc");
    environment_.procRoot = root_ / "proc";
    environment_.devRoot = root_ / "dev";
    environment_.user = {kAlice, "alice", {}, {}};
    environment_.groupName = [this](unsigned gid) { return gid == gid_ ? "dialout" : ""; };
    environment_.userName = [this](unsigned uid) { return uid == owner_ ? "operator" : ""; };
  }
  void TearDown() override { fs::remove_all(root_); }

  // dev/ttyUSB0, with `mode`; its owner and group are the test's own.
  fs::path AddPort(unsigned mode) {
    const fs::path port = root_ / "dev/ttyUSB0";
    std::ofstream(port) << "";
    fs::permissions(port, static_cast<fs::perms>(mode));
    struct stat st {};
    ::stat(port.c_str(), &st);
    owner_ = st.st_uid;
    gid_ = st.st_gid;
    node_ = st;
    return port;
  }

  void AddProcess(const ProcessEntry& process) {
    const fs::path dir = root_ / "proc" / std::to_string(process.pid);
    fs::create_directories(dir / "fd");
    std::ofstream(dir / "comm") << process.command << "\n";
    fs::create_symlink("/dev/null", dir / "fd/0");
    fs::create_symlink(root_ / "dev/other", dir / "fd/1");
    if (process.holdsPort) fs::create_symlink(root_ / "dev/ttyUSB0", dir / "fd/7");
  }

  // /proc/locks with an flock by `pid` on the port, behind a lock on another file and a
  // waiter for the port's lock.
  void AddFlock(long pid) {
    char node[64];
    std::snprintf(node, sizeof node, "%02x:%02x:%lu", ::major(node_.st_dev), ::minor(node_.st_dev),
                  static_cast<unsigned long>(node_.st_ino));
    std::ofstream(root_ / "proc/locks")
        << "1: POSIX  ADVISORY  WRITE 77 fd:01:99 0 EOF\n"
        << "2: FLOCK  ADVISORY  WRITE " << pid << " " << node << " 0 EOF\n"
        << "2: -> FLOCK  ADVISORY  WRITE 999 " << node << " 0 EOF\n";
  }

  std::string Describe(std::string_view portName, int error, std::span<const PortInfo> ports = {}) {
    diagnosis_ = DiagnoseOpenFailure(portName, error, environment_);
    return DescribeOpenFailure(diagnosis_, ports);
  }

  fs::path root_;
  DiagnosisEnvironment environment_;
  PortDiagnosis diagnosis_;
  unsigned owner_ = 0;
  unsigned gid_ = 0;
  struct stat node_ {};
};

// --- Permission: where the user stands with the node's group.

struct PermissionRow {
  const char* name;
  unsigned mode;
  bool member;       // in the group database
  bool session;      // in this process's groups
  bool owner;        // the user owns the node
  std::string text;  // {dev}: the node's path
};

class Permission : public FakeTree, public testing::WithParamInterface<PermissionRow> {};

TEST_P(Permission, NamesTheGroupAndWhatToDo) {
  const PermissionRow& row = GetParam();
  const fs::path port = AddPort(row.mode);
  if (row.member) environment_.user.memberGroups = {1, gid_};
  if (row.session) environment_.user.sessionGroups = {gid_};
  if (row.owner) environment_.user = {owner_, "operator", {}, {}};
  std::string expected = row.text;
  for (std::size_t at; (at = expected.find("{dev}")) != std::string::npos;) {
    expected.replace(at, 5, port.string());
  }
  EXPECT_EQ(Describe("ttyUSB0", EACCES), expected);
  EXPECT_EQ(diagnosis_.cause, OpenFailure::kPermissionDenied);
}

INSTANTIATE_TEST_SUITE_P(
    Users, Permission,
    testing::Values(
        PermissionRow{"NotInTheGroup", 0660, false, false, false,
                      "Permission denied: {dev} belongs to group dialout, and user alice is not "
                      "in it. Add them with: sudo usermod -aG dialout alice, then log in again."},
        PermissionRow{"JoinedSinceLogin", 0660, true, false, false,
                      "Permission denied: {dev} belongs to group dialout; user alice is in it, "
                      "but this login session began before that. Log in again (or start a shell "
                      "in the group with: newgrp dialout)."},
        PermissionRow{"GroupMayNotRead", 0620, false, false, false,
                      "Permission denied: {dev} (-rw--w----, owner operator, group dialout) may "
                      "be read and written by its owner operator alone. Run as operator, or give "
                      "group dialout read and write access (sudo chmod g+rw {dev}) and join it "
                      "(sudo usermod -aG dialout alice, then log in again)."},
        PermissionRow{"InTheGroupYetRefused", 0660, true, true, false,
                      "Permission denied: user alice is in group dialout of {dev} (-rw-rw----, "
                      "owner operator, group dialout), yet the system refused. Something beyond "
                      "the mode bars the way (an access control list or a security policy): ask "
                      "the administrator."},
        PermissionRow{"OwnerWithoutAccess", 0060, false, false, true,
                      "Permission denied: {dev} (----rw----, owner operator, group dialout) "
                      "gives its owner operator no read and write access. Give it: chmod u+rw "
                      "{dev}."}),
    [](const auto& row) { return std::string(row.param.name); });

// --- Busy: the lock's holder, the processes that have the port open.

TEST_F(FakeTree, BusyNamesTheLockHolderFirstAndTheOthersThatHaveItOpen) {
  AddPort(0666);
  AddProcess({300, "tavrin-target-s", true});
  AddProcess({120, "minicom", true});
  AddProcess({55, "bash", false});
  AddFlock(120);
  EXPECT_EQ(Describe("ttyUSB0", EBUSY),
            "Busy: " + (root_ / "dev/ttyUSB0").string() +
                " is locked (flock) by process 120 (minicom); it is also open in process 300 "
                "(tavrin-target-s). Close that program, or end it: kill 120.");
  EXPECT_EQ(diagnosis_.holders,
            (std::vector<PortHolder>{{120, "minicom"}, {300, "tavrin-target-s"}}));
}

TEST_F(FakeTree, BusyWithoutALockIsExclusiveUseByWhoeverHasItOpen) {
  AddPort(0666);
  AddProcess({120, "screen", true});
  AddProcess({55, "bash", false});
  const std::string dev = (root_ / "dev/ttyUSB0").string();
  EXPECT_EQ(Describe("ttyUSB0", EBUSY),
            "Busy: " + dev +
                " is in exclusive use (TIOCEXCL) by process 120 (screen). Close that program, "
                "or end it: kill 120.");
  AddProcess({130, "cat", true});
  EXPECT_EQ(Describe("ttyUSB0", EBUSY),
            "Busy: " + dev +
                " is in exclusive use (TIOCEXCL); it is open in process 120 (screen), process "
                "130 (cat). Close the one that holds it.");
  fs::remove_all(root_ / "proc");
  EXPECT_EQ(Describe("ttyUSB0", EBUSY), "Busy: " + dev +
                                            " is in exclusive use (TIOCEXCL) by another program. "
                                            "Close the program that uses it.");
}

TEST_F(FakeTree, ABusyByIdNameFindsTheHolderOfTheNodeItLeadsTo) {
  AddPort(0666);
  fs::create_directories(root_ / "dev/serial/by-id");
  const fs::path link = root_ / "dev/serial/by-id/usb-FTDI_A50285BI-if00-port0";
  fs::create_symlink("../../ttyUSB0", link);
  AddProcess({120, "picocom", true});
  Describe(link.string(), EBUSY);
  EXPECT_EQ(diagnosis_.devicePath, link.string());
  EXPECT_EQ(diagnosis_.holders, (std::vector<PortHolder>{{120, "picocom"}}));
}

// --- No such device: which ports do exist.

TEST_F(FakeTree, AMissingDeviceNamesThePortsThatExist) {
  std::vector<PortInfo> ports(2);
  ports[0].name = "ttyS0";
  ports[1].name = "ttyUSB0";
  ports[1].serialNumber = "A50285BI";
  const std::string dev = (root_ / "dev/ttyUSB7").string();
  EXPECT_EQ(Describe("ttyUSB7", ENOENT, ports),
            "No such device: " + dev +
                " does not exist. Serial ports here: ttyS0, ttyUSB0 (serial:A50285BI).");
  EXPECT_EQ(Describe("ttyUSB7", ENOENT),
            "No such device: " + dev +
                " does not exist. No serial ports were found on this machine: is the adapter "
                "plugged in?");
  std::vector<PortInfo> many(15);
  for (std::size_t i = 0; i < many.size(); ++i) many[i].name = "ttyS" + std::to_string(i);
  EXPECT_NE(Describe("ttyUSB7", ENOENT, many).find(", ttyS11 and 3 more."), std::string::npos);
  AddPort(0666);  // a node that no device answers (a UART placeholder gives EIO)
  EXPECT_EQ(Describe("ttyUSB0", EIO, ports),
            "No such device: nothing answers at " + (root_ / "dev/ttyUSB0").string() +
                " (the node is there, the device behind it is not). Serial ports here: ttyS0, "
                "ttyUSB0 (serial:A50285BI).");
}

// --- Without the open's errno the tree decides; other errnos are named.

TEST_F(FakeTree, WithoutAnErrnoTheTreeDecides) {
  EXPECT_EQ(DiagnoseOpenFailure("ttyUSB0", 0, environment_).cause, OpenFailure::kNoSuchDevice);
  AddPort(0600);
  EXPECT_EQ(DiagnoseOpenFailure("ttyUSB0", 0, environment_).cause, OpenFailure::kPermissionDenied);
  fs::permissions(root_ / "dev/ttyUSB0", fs::perms(0666));
  EXPECT_EQ(DiagnoseOpenFailure("ttyUSB0", 0, environment_).cause, OpenFailure::kNotASerialPort);
  AddFlock(120);
  const auto busy = DiagnoseOpenFailure("ttyUSB0", 0, environment_);
  EXPECT_EQ(busy.cause, OpenFailure::kBusy);
  EXPECT_EQ(busy.lockHolder, (PortHolder{120, ""}));
}

TEST_F(FakeTree, OtherErrorsAreNamedByTheSystem) {
  AddPort(0666);
  const std::string dev = (root_ / "dev/ttyUSB0").string();
  EXPECT_EQ(Describe("ttyUSB0", ENOMEM), "Cannot open " + dev + ": Cannot allocate memory.");
  EXPECT_EQ(Describe("ttyUSB0", ENOTTY), "Not a serial port: " + dev + " is no terminal device.");
}

TEST(DeviceNodePath, PutsNamesUnderTheGivenDev) {
  EXPECT_EQ(DeviceNodePath("COM2", "/x/dev"), fs::path("/x/dev/ttyS1"));
  EXPECT_EQ(DeviceNodePath("pts/3", "/x/dev"), fs::path("/x/dev/pts/3"));
  EXPECT_EQ(DeviceNodePath("/dev/ttyUSB0", "/x/dev"), fs::path("/dev/ttyUSB0"));
}

TEST(ModeText, ReadsAsLsShowsIt) {
  EXPECT_EQ(ModeText(S_IFCHR | 0660), "crw-rw----");
  EXPECT_EQ(ModeText(S_IFREG | 0754), "-rwxr-xr--");
}

// The system's own view: the user this test runs as, with its groups.
TEST(SystemDiagnosisEnvironment, KnowsThisProcesssUserAndGroups) {
  const DiagnosisEnvironment environment = SystemDiagnosisEnvironment();
  EXPECT_EQ(environment.user.uid, ::geteuid());
  EXPECT_FALSE(environment.user.name.empty());
  ASSERT_FALSE(environment.user.sessionGroups.empty());
  EXPECT_EQ(environment.user.sessionGroups.front(), ::getegid());
  EXPECT_EQ(environment.procRoot, fs::path("/proc"));
}

}  // namespace
}  // namespace tavrin::serial
