// Why a port could not be opened, on a /dev and /proc built for a user the test chooses.
#include "serial/port_diagnosis.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cerrno>
#include <fstream>

#include "support/temp_files.h"

namespace tavrin::serial {
namespace {

namespace fs = std::filesystem;

struct Process {
  long pid;
  std::string command;
};

struct DiagnosisRow {
  const char* name;
  unsigned mode;                 // of dev/ttyUSB0; 0: there is no such node
  int error;                     // the open's errno
  bool member;                   // the user is in the node's group in the database...
  bool session;                  // ...and in this process's groups
  std::vector<Process> holders;  // processes with the port open
  long flockPid;                 // 0: no flock on it
  OpenFailure cause;
  std::vector<std::string> says;  // parts of the line
};

class Diagnosis : public testing::TestWithParam<DiagnosisRow> {
 protected:
  void SetUp() override { fs::create_directories(root_ / "dev"); }

  // dev/ttyUSB0 with `mode`; its owner and group are the test's own.
  void AddPort(unsigned mode) {
    std::ofstream(root_ / "dev/ttyUSB0") << "";
    fs::permissions(root_ / "dev/ttyUSB0", static_cast<fs::perms>(mode));
    ::stat((root_ / "dev/ttyUSB0").c_str(), &node_);
  }

  // A process with descriptors on another file and, when `holds`, on the port.
  void AddProcess(const Process& process, bool holds = true) {
    const fs::path dir = root_ / "proc" / std::to_string(process.pid);
    fs::create_directories(dir / "fd");
    std::ofstream(dir / "comm") << process.command << "\n";
    fs::create_symlink("/dev/null", dir / "fd/0");
    if (holds) fs::create_symlink(root_ / "dev/ttyUSB0", dir / "fd/7");
  }

  // The kernel's lock table: another file's lock, the port's flock, a waiter for it.
  void AddFlock(long pid) {
    char node[64];
    std::snprintf(node, sizeof node, "%02x:%02x:%lu", ::major(node_.st_dev), ::minor(node_.st_dev),
                  static_cast<unsigned long>(node_.st_ino));
    std::ofstream(root_ / "proc/locks")
        << "1: POSIX  ADVISORY  WRITE 77 fd:01:99 0 EOF\n2: FLOCK  ADVISORY  WRITE " << pid << " "
        << node << " 0 EOF\n2: -> FLOCK  ADVISORY  WRITE 999 " << node << " 0 EOF\n";
  }

  tavrin::test::TempDir dir_;
  struct stat node_ {};
  const fs::path root_ = fs::canonical(dir_.Path());
  DiagnosisEnvironment environment_{
      root_ / "proc",
      root_ / "dev",
      {4242, "alice", {}, {}},
      [this](unsigned gid) { return gid == node_.st_gid ? "dialout" : ""; },
      [this](unsigned uid) { return uid == node_.st_uid ? "operator" : ""; }};
};

TEST_P(Diagnosis, NamesTheCauseAndWhatToDo) {
  const DiagnosisRow& row = GetParam();
  fs::create_directories(root_ / "proc");
  if (row.mode != 0) AddPort(row.mode);
  if (row.member) environment_.user.memberGroups = {1, node_.st_gid};
  if (row.session) environment_.user.sessionGroups = {node_.st_gid};
  AddProcess({55, "bash"}, false);
  for (const Process& holder : row.holders) AddProcess(holder);
  if (row.flockPid != 0) AddFlock(row.flockPid);
  std::vector<PortInfo> ports(2);
  ports[0].name = "ttyS0";
  ports[1].name = "ttyUSB0";
  ports[1].serialNumber = "A50285BI";

  const PortDiagnosis diagnosis = DiagnoseOpenFailure("ttyUSB0", row.error, environment_);
  EXPECT_EQ(diagnosis.cause, row.cause);
  const std::string line = DescribeOpenFailure(diagnosis, ports);
  const std::string dev = (root_ / "dev/ttyUSB0").string();
  EXPECT_NE(line.find(dev), std::string::npos) << line;
  for (const std::string& part : row.says) EXPECT_NE(line.find(part), std::string::npos) << line;
}

// A missing port, a user not in the port's group, a lock and an exclusive use that the user
// may not trace are met for real by the command line's end-to-end tests.
// clang-format off
INSTANTIATE_TEST_SUITE_P(Causes, Diagnosis, testing::Values(
    DiagnosisRow{"JoinedSinceLogin", 0660, EACCES, true, false, {}, 0, OpenFailure::kPermissionDenied,
        {"user alice is in it, but this login session began before that. Log in again", "newgrp dialout"}},
    DiagnosisRow{"GroupMayNotRead", 0620, EACCES, false, false, {}, 0, OpenFailure::kPermissionDenied,
        {"(-rw--w----, owner operator, group dialout) may be read and written by its owner operator alone", "sudo usermod -aG dialout alice"}},
    DiagnosisRow{"InTheGroupYetRefused", 0660, EACCES, true, true, {}, 0, OpenFailure::kPermissionDenied,
        {"yet the system refused"}},
    DiagnosisRow{"LockedWithOthersOpen", 0666, EBUSY, false, false, {{300, "tavrin-target-s"}, {120, "minicom"}}, 120, OpenFailure::kBusy,
        {"is locked (flock) by process 120 (minicom); it is also open in process 300 (tavrin-target-s). Close that program, or end it: kill 120."}},
    DiagnosisRow{"ExclusiveByOne", 0666, EBUSY, false, false, {{120, "screen"}}, 0, OpenFailure::kBusy,
        {"is in exclusive use (TIOCEXCL) by process 120 (screen). Close that program, or end it: kill 120."}},
    DiagnosisRow{"ExclusiveByUnknown", 0666, EBUSY, false, false, {}, 0, OpenFailure::kBusy,
        {"in exclusive use (TIOCEXCL) by another program. Close the program"}},
    DiagnosisRow{"Missing", 0, ENOENT, false, false, {}, 0, OpenFailure::kNoSuchDevice,
        {"does not exist. Serial ports here: ttyS0, ttyUSB0 (serial:A50285BI)."}},
    DiagnosisRow{"NothingAnswers", 0666, EIO, false, false, {}, 0, OpenFailure::kNoSuchDevice, {"nothing answers at"}},
    DiagnosisRow{"NotATerminal", 0666, ENOTTY, false, false, {}, 0, OpenFailure::kNotASerialPort, {"is no terminal device"}},
    DiagnosisRow{"OtherError", 0666, ENOMEM, false, false, {}, 0, OpenFailure::kOther, {": Cannot allocate memory."}},
    // Without the open's errno the tree decides, in the order an open meets things.
    DiagnosisRow{"TreeMissing", 0, 0, false, false, {}, 0, OpenFailure::kNoSuchDevice, {}},
    DiagnosisRow{"TreeForbidden", 0600, 0, false, false, {}, 0, OpenFailure::kPermissionDenied, {}},
    DiagnosisRow{"TreeLocked", 0666, 0, false, false, {}, 120, OpenFailure::kBusy, {"locked (flock) by process 120."}}),
    [](const auto& row) { return std::string(row.param.name); });
// clang-format on

// The kernel names a descriptor by the node's own path, not by the link it was opened by.
TEST_F(Diagnosis, AByIdNameFindsTheHolderOfTheNodeItLeadsTo) {
  AddPort(0666);
  AddProcess({120, "picocom"});
  fs::create_directories(root_ / "dev/serial/by-id");
  const fs::path link = root_ / "dev/serial/by-id/usb-FTDI_A50285BI-if00-port0";
  fs::create_symlink("../../ttyUSB0", link);
  const PortDiagnosis diagnosis = DiagnoseOpenFailure(link.string(), EBUSY, environment_);
  EXPECT_EQ(diagnosis.devicePath, link.string());
  EXPECT_EQ(diagnosis.holders, (std::vector<PortHolder>{{120, "picocom"}}));
  EXPECT_EQ(DeviceNodePath("COM2", "/x/dev"), fs::path("/x/dev/ttyS1"));
}

}  // namespace
}  // namespace tavrin::serial
