#include "serial/port_diagnosis.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <fstream>
#include <iterator>
#include <sstream>
#include <system_error>

#include "serial/port_settings.h"

namespace tavrin::serial {
namespace {

namespace fs = std::filesystem;

// /proc/PID/comm holds at most 16 bytes; anything longer is not a command name.
constexpr std::size_t kMaxCommandText = 64;
// A missing device names at most this many of the ports that exist.
constexpr std::size_t kMaxListedPorts = 12;
// The lock table entry of an flock(2) lock in /proc/locks.
constexpr std::string_view kFlockType = "FLOCK";
// Marks a process waiting for a lock in /proc/locks, not holding it.
constexpr std::string_view kLockWaiter = "->";

constexpr unsigned kReadWrite = 6;  // the read and write bits of one permission triplet

struct NodeId {
  unsigned major = 0;
  unsigned minor = 0;
  unsigned long inode = 0;
  bool operator==(const NodeId&) const = default;
};

NodeId IdOf(const struct stat& st) {
  return {::major(st.st_dev), ::minor(st.st_dev), st.st_ino};
}

bool Has(const std::vector<unsigned>& groups, unsigned gid) {
  return std::find(groups.begin(), groups.end(), gid) != groups.end();
}

// What the kernel checks: the owner's bits for the owner, else the group's for a member
// of the group, else the others'. Root passes.
bool MayReadWrite(const struct stat& st, const UserIdentity& user) {
  if (user.uid == 0) return true;
  unsigned bits = st.st_mode & 7u;
  if (st.st_uid == user.uid) {
    bits = (st.st_mode >> 6) & 7u;
  } else if (Has(user.sessionGroups, st.st_gid)) {
    bits = (st.st_mode >> 3) & 7u;
  }
  return (bits & kReadWrite) == kReadWrite;
}

std::string NameOr(const std::function<std::string(unsigned)>& lookup, unsigned id) {
  std::string name = lookup ? lookup(id) : std::string();
  return name.empty() ? std::to_string(id) : name;
}

NodeAccess AccessOf(const struct stat& st, const DiagnosisEnvironment& environment) {
  NodeAccess access;
  access.owner = NameOr(environment.userName, st.st_uid);
  access.group = NameOr(environment.groupName, st.st_gid);
  access.mode = st.st_mode;
  access.userIsOwner = st.st_uid == environment.user.uid;
  access.groupMayOpen = ((st.st_mode >> 3) & kReadWrite) == kReadWrite;
  access.inGroup = Has(environment.user.memberGroups, st.st_gid);
  access.inSessionGroup = Has(environment.user.sessionGroups, st.st_gid);
  return access;
}

OpenFailure CauseOfError(int error) {
  if (error == ENOENT || error == ENODEV || error == ENXIO || error == ENOTDIR || error == EIO) {
    return OpenFailure::kNoSuchDevice;  // EIO: a UART placeholder with no UART behind it
  }
  if (error == EACCES || error == EPERM) return OpenFailure::kPermissionDenied;
  if (error == EBUSY || error == EWOULDBLOCK) return OpenFailure::kBusy;
  if (error == ENOTTY) return OpenFailure::kNotASerialPort;
  return OpenFailure::kOther;
}

std::optional<long> ParsePid(std::string_view text) {
  long pid = 0;
  const auto [end, failure] = std::from_chars(text.data(), text.data() + text.size(), pid);
  if (failure != std::errc{} || end != text.data() + text.size() || pid <= 0) return std::nullopt;
  return pid;
}

std::string CommandOf(const fs::path& procRoot, long pid) {
  std::ifstream in(procRoot / std::to_string(pid) / "comm", std::ios::binary);
  std::array<char, kMaxCommandText> text{};
  in.read(text.data(), text.size());
  std::string command(text.data(), static_cast<std::size_t>(in.gcount()));
  while (!command.empty() && command.back() == '\n') command.pop_back();
  return command;
}

// "08:01:1234" of /proc/locks: the file system's device (hex major and minor) and the
// inode (decimal).
std::optional<NodeId> ParseLockedNode(std::string_view text) {
  const std::size_t first = text.find(':');
  const std::size_t second = text.find(':', first == std::string_view::npos ? first : first + 1);
  if (first == std::string_view::npos || second == std::string_view::npos) return std::nullopt;
  NodeId id;
  const auto parse = [](std::string_view part, auto& value, int base) {
    const auto [end, failure] =
        std::from_chars(part.data(), part.data() + part.size(), value, base);
    return failure == std::errc{} && end == part.data() + part.size() && !part.empty();
  };
  if (!parse(text.substr(0, first), id.major, 16) ||
      !parse(text.substr(first + 1, second - first - 1), id.minor, 16) ||
      !parse(text.substr(second + 1), id.inode, 10)) {
    return std::nullopt;
  }
  return id;
}

// The process whose flock is on the node, from the kernel's lock table. A line reads
// "1: FLOCK  ADVISORY  WRITE 4242 00:19:5 0 EOF"; a waiter's has "->" after the number.
std::optional<long> FlockHolder(const fs::path& procRoot, const NodeId& node) {
  std::ifstream in(procRoot / "locks");
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string number, type, kind, access, pid, where;
    fields >> number >> type;
    if (type == kLockWaiter || type != kFlockType) continue;
    fields >> kind >> access >> pid >> where;
    const auto locked = ParseLockedNode(where);
    if (locked && *locked == node) return ParsePid(pid);
  }
  return std::nullopt;
}

bool NamesNode(const fs::path& link, const std::vector<fs::path>& nodeNames) {
  std::error_code error;
  const fs::path target = fs::read_symlink(link, error);
  return !error && std::find(nodeNames.begin(), nodeNames.end(), target) != nodeNames.end();
}

// The processes with a descriptor on the node, by the links of /proc/PID/fd (read, never
// followed: following one may wait on the file system behind it).
void FindHolders(const fs::path& procRoot, const std::vector<fs::path>& nodeNames,
                 PortDiagnosis& diagnosis) {
  std::error_code error;
  for (auto process = fs::directory_iterator(procRoot, error);
       !error && process != fs::directory_iterator(); process.increment(error)) {
    const auto pid = ParsePid(process->path().filename().string());
    if (!pid) continue;
    std::error_code fdError;
    auto fd = fs::directory_iterator(process->path() / "fd", fdError);
    if (fdError) {
      diagnosis.holdersHidden |= fdError == std::errc::permission_denied;
      continue;
    }
    for (; !fdError && fd != fs::directory_iterator(); fd.increment(fdError)) {
      if (!NamesNode(fd->path(), nodeNames)) continue;
      diagnosis.holders.push_back({*pid, CommandOf(procRoot, *pid)});
      break;
    }
    if (diagnosis.holders.size() >= kMaxPortHolders) break;
  }
  std::sort(diagnosis.holders.begin(), diagnosis.holders.end(),
            [](const PortHolder& a, const PortHolder& b) { return a.pid < b.pid; });
}

void FindLockHolder(const fs::path& procRoot, const struct stat& st, PortDiagnosis& diagnosis) {
  if (const auto pid = FlockHolder(procRoot, IdOf(st))) {
    diagnosis.lockHolder = PortHolder{*pid, CommandOf(procRoot, *pid)};
  }
}

// Without the open's errno: what the tree shows, in the order an open meets it.
OpenFailure CauseFromTree(const PortDiagnosis& diagnosis, const struct stat& st,
                          const UserIdentity& user) {
  if (!diagnosis.nodeExists) return OpenFailure::kNoSuchDevice;
  if (!MayReadWrite(st, user)) return OpenFailure::kPermissionDenied;
  if (diagnosis.lockHolder) return OpenFailure::kBusy;
  if (!S_ISCHR(st.st_mode)) return OpenFailure::kNotASerialPort;
  return OpenFailure::kOther;
}

std::string HolderText(const PortHolder& holder) {
  std::string text = "process " + std::to_string(holder.pid);
  if (!holder.command.empty()) text += " (" + holder.command + ")";
  return text;
}

std::string PortNames(std::span<const PortInfo> ports) {
  std::string names;
  const std::size_t shown = std::min(ports.size(), kMaxListedPorts);
  for (std::size_t i = 0; i < shown; ++i) {
    if (i > 0) names += ", ";
    names += ports[i].name;
    if (!ports[i].serialNumber.empty()) {
      names += " (" + std::string(kSerialKeyPrefix) + ports[i].serialNumber + ")";
    }
  }
  if (ports.size() > shown) names += " and " + std::to_string(ports.size() - shown) + " more";
  return names;
}

std::string NoSuchDeviceText(const PortDiagnosis& diagnosis, std::span<const PortInfo> ports) {
  std::string text = "No such device: ";
  text += diagnosis.nodeExists ? "nothing answers at " + diagnosis.devicePath +
                                     " (the node is there, the device behind it is not)."
                               : diagnosis.devicePath + " does not exist.";
  if (ports.empty()) {
    return text + " No serial ports were found on this machine: is the adapter plugged in?";
  }
  return text + " Serial ports here: " + PortNames(ports) + ".";
}

std::string JoinCommand(const NodeAccess& access, const std::string& user) {
  return "sudo usermod -aG " + access.group + " " + user + ", then log in again";
}

std::string PermissionText(const PortDiagnosis& diagnosis) {
  const std::string& path = diagnosis.devicePath;
  const std::string& user = diagnosis.userName;
  if (!diagnosis.access) {
    return "Permission denied: user " + user + " may not reach " + path +
           ". Ask the administrator for access to it.";
  }
  const NodeAccess& a = *diagnosis.access;
  const std::string node =
      path + " (" + ModeText(a.mode) + ", owner " + a.owner + ", group " + a.group + ")";
  if (a.userIsOwner) {
    return "Permission denied: " + node + " gives its owner " + user +
           " no read and write access. Give it: chmod u+rw " + path + ".";
  }
  if (!a.groupMayOpen) {
    return "Permission denied: " + node + " may be read and written by its owner " + a.owner +
           " alone. Run as " + a.owner + ", or give group " + a.group +
           " read and write access (sudo chmod g+rw " + path + ") and join it (" +
           JoinCommand(a, user) + ").";
  }
  if (!a.inGroup) {
    return "Permission denied: " + path + " belongs to group " + a.group + ", and user " + user +
           " is not in it. Add them with: " + JoinCommand(a, user) + ".";
  }
  if (!a.inSessionGroup) {
    return "Permission denied: " + path + " belongs to group " + a.group + "; user " + user +
           " is in it, but this login session began before that. Log in again (or start a "
           "shell in the group with: newgrp " +
           a.group + ").";
  }
  return "Permission denied: user " + user + " is in group " + a.group + " of " + node +
         ", yet the system refused. Something beyond the mode bars the way (an access "
         "control list or a security policy): ask the administrator.";
}

std::string HolderList(std::span<const PortHolder> holders) {
  std::string text;
  for (const PortHolder& holder : holders) text += (text.empty() ? "" : ", ") + HolderText(holder);
  return text;
}

// The lock's holder is the one to close; others that merely have the port open (a
// simulated target's side, a monitor) are named after it. Without a lock the exclusive
// mode was set by one of the processes that have it open.
std::string BusyText(const PortDiagnosis& diagnosis) {
  const std::string head = "Busy: " + diagnosis.devicePath + " is ";
  if (const auto& lock = diagnosis.lockHolder) {
    std::vector<PortHolder> others;
    std::copy_if(diagnosis.holders.begin(), diagnosis.holders.end(), std::back_inserter(others),
                 [&](const PortHolder& holder) { return holder.pid != lock->pid; });
    std::string text = head + "locked (flock) by " + HolderText(*lock);
    if (!others.empty()) text += "; it is also open in " + HolderList(others);
    return text + ". Close that program, or end it: kill " + std::to_string(lock->pid) + ".";
  }
  std::string text = head + "in exclusive use (TIOCEXCL)";
  const auto& holders = diagnosis.holders;
  if (holders.size() == 1) {
    return text + " by " + HolderText(holders.front()) + ". Close that program, or end it: kill " +
           std::to_string(holders.front().pid) + ".";
  }
  if (!holders.empty()) {
    return text + "; it is open in " + HolderList(holders) + ". Close the one that holds it.";
  }
  text += " by another program";
  if (diagnosis.holdersHidden) {
    text += "; user " + diagnosis.userName + " may not see which (run as root to name it)";
  }
  return text + ". Close the program that uses it.";
}

std::string OtherText(const PortDiagnosis& diagnosis) {
  if (diagnosis.error == 0) {
    return "Cannot open " + diagnosis.devicePath + "; no cause was found.";
  }
  return "Cannot open " + diagnosis.devicePath + ": " +
         std::system_category().message(diagnosis.error) + ".";
}

}  // namespace

fs::path DeviceNodePath(std::string_view portName, const fs::path& devRoot) {
  const fs::path path = DevicePath(portName);
  if (portName.starts_with('/')) return path;
  // DevicePath puts every name that is no path under /dev.
  return devRoot / path.lexically_relative("/dev");
}

PortDiagnosis DiagnoseOpenFailure(std::string_view portName, int error,
                                  const DiagnosisEnvironment& environment) {
  PortDiagnosis diagnosis;
  const fs::path node = DeviceNodePath(portName, environment.devRoot);
  diagnosis.devicePath = node.string();
  diagnosis.error = error;
  diagnosis.userName = environment.user.name;
  struct stat st {};
  diagnosis.nodeExists = ::stat(node.c_str(), &st) == 0;
  if (diagnosis.nodeExists) {
    diagnosis.access = AccessOf(st, environment);
    FindLockHolder(environment.procRoot, st, diagnosis);
  }
  diagnosis.cause =
      error != 0 ? CauseOfError(error) : CauseFromTree(diagnosis, st, environment.user);
  if (diagnosis.cause != OpenFailure::kBusy) {
    diagnosis.lockHolder.reset();
    return diagnosis;
  }
  if (diagnosis.nodeExists) {
    // The kernel names a descriptor by the node's own path: a by-id link is followed.
    std::vector<fs::path> names{node};
    std::error_code ignored;
    if (const fs::path own = fs::canonical(node, ignored); !ignored && own != node) {
      names.push_back(own);
    }
    FindHolders(environment.procRoot, names, diagnosis);
  }
  return diagnosis;
}

std::string DescribeOpenFailure(const PortDiagnosis& diagnosis, std::span<const PortInfo> ports) {
  switch (diagnosis.cause) {
    case OpenFailure::kNoSuchDevice:
      return NoSuchDeviceText(diagnosis, ports);
    case OpenFailure::kPermissionDenied:
      return PermissionText(diagnosis);
    case OpenFailure::kBusy:
      return BusyText(diagnosis);
    case OpenFailure::kNotASerialPort:
      return "Not a serial port: " + diagnosis.devicePath + " is no terminal device.";
    case OpenFailure::kOther:
      break;
  }
  return OtherText(diagnosis);
}

std::string ModeText(unsigned mode) {
  std::string text = S_ISCHR(mode)    ? "c"
                     : S_ISBLK(mode)  ? "b"
                     : S_ISDIR(mode)  ? "d"
                     : S_ISLNK(mode)  ? "l"
                     : S_ISFIFO(mode) ? "p"
                     : S_ISSOCK(mode) ? "s"
                                      : "-";
  constexpr std::string_view kLetters = "rwxrwxrwx";
  for (std::size_t bit = 0; bit < kLetters.size(); ++bit) {
    text += (mode & (0400u >> bit)) != 0 ? kLetters[bit] : '-';
  }
  return text;
}

}  // namespace tavrin::serial
