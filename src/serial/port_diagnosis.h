// Why a serial port could not be opened, in terms the operator can act on: the device is
// not there (and which ports are), the user may not read and write it (its group, whether
// the user is in that group, and how to get in), or another program holds it (which
// process, found through /proc, and which lock).
//
// The open's errno decides the cause; the file system supplies the details. Where it
// looks (/proc, /dev) and who the user is are parameters, so that tests build a tree and
// a user of their own. Plain reads only: nothing here opens the device or waits on it.
// Any thread may diagnose.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "serial/port_list.h"

namespace tavrin::serial {

enum class OpenFailure {
  kNoSuchDevice,      // nothing at the path, or a node that no device answers
  kPermissionDenied,  // the user may not read and write the node
  kBusy,              // another program holds it for its use alone, or holds its lock
  kNotASerialPort,    // it opened, but it is no terminal device
  kOther,             // any other errno, or no cause found
};

// Who asks to open the port.
struct UserIdentity {
  unsigned uid = 0;
  std::string name;                     // "alice"; the number when the database has no name
  std::vector<unsigned> sessionGroups;  // this process's groups: what the kernel checks
  std::vector<unsigned> memberGroups;   // the user's groups in the group database now
};

struct DiagnosisEnvironment {
  std::filesystem::path procRoot = "/proc";
  std::filesystem::path devRoot = "/dev";  // where port names that are no path live
  UserIdentity user;
  // Names from the databases; "" when there is none for the number.
  std::function<std::string(unsigned gid)> groupName;
  std::function<std::string(unsigned uid)> userName;
};

// This process's view: /proc, /dev, its real user and groups, the system's databases.
DiagnosisEnvironment SystemDiagnosisEnvironment();

// A process that has the device open, or holds its lock.
struct PortHolder {
  long pid = 0;
  std::string command;  // its /proc/PID/comm ("minicom"); "" when unreadable

  bool operator==(const PortHolder&) const = default;
};

// The node's owner, group and mode, and where the user stands with them.
struct NodeAccess {
  std::string owner;  // user name, or the number
  std::string group;  // group name, or the number
  unsigned mode = 0;  // st_mode: type and permission bits
  bool userIsOwner = false;
  bool groupMayOpen = false;    // the group may read and write it
  bool inGroup = false;         // the group database has the user in the group
  bool inSessionGroup = false;  // this process has the group (a new member logs in again)
};

struct PortDiagnosis {
  OpenFailure cause = OpenFailure::kOther;
  std::string devicePath;  // the node the port name stands for
  int error = 0;           // the open's errno; 0 when unknown (the tree decided)
  bool nodeExists = false;
  std::optional<NodeAccess> access;      // when the node exists
  std::string userName;                  // who asked
  std::vector<PortHolder> holders;       // kBusy: processes that have it open
  std::optional<PortHolder> lockHolder;  // kBusy: the process whose flock is on it
  bool holdersHidden = false;            // kBusy: some processes' descriptors could not be read
};

// The most holders a diagnosis names.
constexpr std::size_t kMaxPortHolders = 8;

// The node a port name stands for (COM1 -> /dev/ttyS0, ttyUSB0 -> /dev/ttyUSB0, a path as
// it is), under `devRoot` in place of /dev.
std::filesystem::path DeviceNodePath(std::string_view portName,
                                     const std::filesystem::path& devRoot);

// Why `portName` could not be opened; `error` is the open's errno (0 when the opener did
// not say: the cause is then read from the tree alone).
PortDiagnosis DiagnoseOpenFailure(std::string_view portName, int error,
                                  const DiagnosisEnvironment& environment);

// The diagnosis as one line, without a line end: the cause, its details and what to do.
// `ports` are the serial ports that do exist, named when the device is missing.
std::string DescribeOpenFailure(const PortDiagnosis& diagnosis, std::span<const PortInfo> ports);

// "crw-rw----": the type letter and permission bits of a mode, as ls shows them.
std::string ModeText(unsigned mode);

}  // namespace tavrin::serial
