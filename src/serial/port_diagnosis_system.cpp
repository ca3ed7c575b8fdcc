// The diagnosis's view of this process: who it runs as, its groups, and the names the
// user and group databases give to numbers.
#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <functional>
#include <vector>

#include "serial/port_diagnosis.h"

namespace tavrin::serial {
namespace {

// The databases' records are read into a buffer that grows while they say it is too
// small, up to this.
constexpr std::size_t kFirstRecordBuffer = 1024;
constexpr std::size_t kMaxRecordBuffer = std::size_t{1} << 20;
// More groups than the kernel allows a process (NGROUPS_MAX) is no answer.
constexpr int kMaxGroups = 65536;

// Runs a getpwuid_r-style lookup with a growing buffer; false when there is no record.
bool LookUp(const std::function<int(char*, std::size_t, bool& found)>& lookup) {
  std::vector<char> buffer(kFirstRecordBuffer);
  while (buffer.size() <= kMaxRecordBuffer) {
    bool found = false;
    const int error = lookup(buffer.data(), buffer.size(), found);
    if (error != ERANGE) return error == 0 && found;
    buffer.resize(buffer.size() * 4);
  }
  return false;
}

struct Account {
  std::string name;
  gid_t group = 0;
  bool known = false;
};

Account AccountOf(uid_t uid) {
  Account account;
  account.known = LookUp([&](char* buffer, std::size_t size, bool& found) {
    passwd record{};
    passwd* result = nullptr;
    const int error = ::getpwuid_r(uid, &record, buffer, size, &result);
    found = result != nullptr;
    if (found) {
      account.name = record.pw_name;
      account.group = record.pw_gid;
    }
    return error;
  });
  return account;
}

std::string GroupNameOf(unsigned gid) {
  std::string name;
  LookUp([&](char* buffer, std::size_t size, bool& found) {
    group record{};
    group* result = nullptr;
    const int error = ::getgrgid_r(static_cast<gid_t>(gid), &record, buffer, size, &result);
    found = result != nullptr;
    if (found) name = record.gr_name;
    return error;
  });
  return name;
}

std::vector<unsigned> SessionGroups() {
  std::vector<unsigned> groups{static_cast<unsigned>(::getegid())};
  const int count = ::getgroups(0, nullptr);
  if (count <= 0 || count > kMaxGroups) return groups;
  std::vector<gid_t> list(static_cast<std::size_t>(count));
  const int got = ::getgroups(count, list.data());
  for (int i = 0; i < got; ++i)
    groups.push_back(static_cast<unsigned>(list[static_cast<std::size_t>(i)]));
  return groups;
}

// The groups the database gives the user now: a group joined since this session began is
// here, and not among the session's.
std::vector<unsigned> MemberGroups(const Account& account) {
  if (!account.known) return {};
  int count = 32;
  std::vector<gid_t> list;
  for (;;) {
    list.resize(static_cast<std::size_t>(count));
    int asked = count;
    if (::getgrouplist(account.name.c_str(), account.group, list.data(), &asked) >= 0) {
      list.resize(static_cast<std::size_t>(asked));
      break;
    }
    if (asked <= count || asked > kMaxGroups) return {};
    count = asked;
  }
  return {list.begin(), list.end()};
}

}  // namespace

DiagnosisEnvironment SystemDiagnosisEnvironment() {
  DiagnosisEnvironment environment;
  // Opens are checked against the effective user.
  const uid_t uid = ::geteuid();
  const Account account = AccountOf(uid);
  environment.user.uid = static_cast<unsigned>(uid);
  environment.user.name = account.known ? account.name : std::to_string(uid);
  environment.user.sessionGroups = SessionGroups();
  environment.user.memberGroups = MemberGroups(account);
  environment.groupName = GroupNameOf;
  environment.userName = [](unsigned id) { return AccountOf(static_cast<uid_t>(id)).name; };
  return environment;
}

}  // namespace tavrin::serial
