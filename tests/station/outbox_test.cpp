// The outbox against a real PostgreSQL server: a throwaway cluster made by the test on a
// socket in a temporary folder, run as the `postgres` user when the test runs as root
// (the server refuses root). Skipped, with the reason, where PostgreSQL is not installed.
#include "station/outbox.h"

#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <mutex>
#include <thread>

#include "support/temp_files.h"

namespace tavrin::station {
namespace {

using namespace std::chrono_literals;
using test::TempDir;

constexpr const char* kPassword = "pl4nt-s3cret";

std::string Quoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// Waits, at most `limit`, for `done` to hold, looking every 50 ms.
template <typename Done>
bool Eventually(Done done, std::chrono::milliseconds limit = 30s) {
  const auto until = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(50ms);
  }
  return true;
}

class Cluster {
 public:
  Cluster() {
    const std::string bin = TAVRIN_PG_BIN;
    if (::access((bin + "/initdb").c_str(), X_OK) != 0) {
      skip_ = "PostgreSQL is not installed (no " + bin + "/initdb; Debian's postgresql)";
      return;
    }
    if (::geteuid() == 0) {
      const passwd* user = ::getpwnam("postgres");
      if (!user) {
        skip_ = "running as root and there is no postgres user to run the server";
        return;
      }
      as_ = "/usr/sbin/runuser -u postgres -- ";
      if (::chown(dir_.Path().c_str(), user->pw_uid, user->pw_gid) != 0) {
        skip_ = "the temporary folder cannot be given to the postgres user";
        return;
      }
    }
    ::chmod(dir_.Path().c_str(), 0700);
    bin_ = bin;
    if (!Run(bin_ + "/initdb -D " + Quoted((dir_ / "data").string()) +
             " -A trust -U tavrin --no-sync -E UTF8")) {
      skip_ = "initdb failed: " + test::ReadFile(dir_ / "run.log");
    }
  }
  ~Cluster() {
    if (skip_.empty()) Stop();
  }
  const std::string& SkipReason() const { return skip_; }

  bool Start() {
    return Run(bin_ + "/pg_ctl -D " + Quoted((dir_ / "data").string()) + " -l " +
               Quoted((dir_ / "server.log").string()) + " -w -o " +
               Quoted("-k " + dir_.Path().string() + " -c listen_addresses= -F") + " start");
  }
  bool Stop() {
    return Run(bin_ + "/pg_ctl -D " + Quoted((dir_ / "data").string()) + " -w -m fast stop");
  }
  // With a password, which the trust set-up ignores and nothing may show.
  std::string Uri() const {
    return std::string("postgresql://tavrin:") + kPassword +
           "@/postgres?host=" + dir_.Path().string();
  }
  // One value from the server, through psql.
  std::string Query(const std::string& sql) {
    const auto out = dir_ / "query.out";
    Run(bin_ + "/psql -h " + Quoted(dir_.Path().string()) + " -U tavrin -d postgres -Atc " +
        Quoted(sql) + " -o " + Quoted(out.string()));
    std::string text = test::ReadFile(out);
    while (!text.empty() && text.back() == '\n') text.pop_back();
    return text;
  }

 private:
  bool Run(const std::string& command) {
    const std::string line = as_ + command + " >" + Quoted((dir_ / "run.log").string()) + " 2>&1";
    return std::system(line.c_str()) == 0;
  }

  TempDir dir_;
  std::string bin_;
  std::string as_;
  std::string skip_;
};

UnitRecord Unit(int n) {
  UnitRecord unit;
  unit.unitId = NewUnitId();
  unit.station = "line-3";
  unit.port = "serial:A50285BI";
  unit.device = "/dev/ttyUSB0";
  unit.imagePath = "/srv/images/stb.urt";
  unit.imageSha256 = std::string(64, 'b');
  unit.imageBytes = 1000;
  unit.startedAt = "2026-12-06T08:00:0" + std::to_string(n) + ".000Z";
  unit.endedAt = unit.startedAt;
  unit.result = "Upload Success";
  unit.outcome = Outcome::kLoaded;
  return unit;
}

class Notes {
 public:
  Outbox::NoteSink Sink() {
    return [this](const std::string& text) {
      std::lock_guard lock(mutex_);
      all_ += text + "\n";
    };
  }
  std::string All() {
    std::lock_guard lock(mutex_);
    return all_;
  }

 private:
  std::mutex mutex_;
  std::string all_;
};

std::size_t UnsentCount(Journal& journal) {
  return std::get<std::vector<UnitRecord>>(journal.Unsent(1000)).size();
}

// The server goes away while units are recorded and comes back: it ends with every row
// once, and a row that reaches it twice is stored once.
TEST(Outbox, ServerStoppedAndStartedAgainGetsEveryRowOnce) {
  Cluster cluster;
  if (!cluster.SkipReason().empty()) GTEST_SKIP() << cluster.SkipReason();
  ASSERT_TRUE(cluster.Start());
  TempDir dir;
  auto journal = std::move(std::get<std::unique_ptr<Journal>>(Journal::Open(dir / "j.db")));
  Notes notes;
  Outbox outbox(*journal, cluster.Uri(), notes.Sink());
  std::vector<UnitRecord> units;
  for (int n = 0; n < 3; ++n) units.push_back(Unit(n));
  for (const auto& unit : units) ASSERT_FALSE(journal->Record(unit));
  outbox.Start();
  ASSERT_TRUE(Eventually([&] { return UnsentCount(*journal) == 0; })) << notes.All();

  ASSERT_TRUE(cluster.Stop());
  for (int n = 3; n < 6; ++n) {
    units.push_back(Unit(n));
    ASSERT_FALSE(journal->Record(units.back()));
    outbox.Wake();
  }
  ASSERT_TRUE(Eventually([&] {
    return notes.All().find("cannot be reached") != std::string::npos ||
           notes.All().find("did not take") != std::string::npos;
  })) << notes.All();
  EXPECT_EQ(UnsentCount(*journal), 3u);  // kept until the server has them

  ASSERT_TRUE(cluster.Start());
  ASSERT_TRUE(Eventually([&] { return UnsentCount(*journal) == 0; })) << notes.All();
  outbox.Stop();
  EXPECT_EQ(cluster.Query("SELECT count(*), count(DISTINCT unit_id) FROM units"), "6|6");
  EXPECT_EQ(cluster.Query("SELECT string_agg(unit_id, ',' ORDER BY started_at) FROM units"), [&] {
    std::string ids;
    for (const auto& u : units) ids += (ids.empty() ? "" : ",") + u.unitId;
    return ids;
  }());

  // Another journal that holds the first unit again: sent, and stored once.
  auto other = std::move(std::get<std::unique_ptr<Journal>>(Journal::Open(dir / "k.db")));
  ASSERT_FALSE(other->Record(units[0]));
  Outbox again(*other, cluster.Uri(), notes.Sink());
  again.Start();
  ASSERT_TRUE(Eventually([&] { return UnsentCount(*other) == 0; })) << notes.All();
  again.Stop();
  EXPECT_EQ(cluster.Query("SELECT count(*) FROM units"), "6");

  EXPECT_EQ(notes.All().find(kPassword), std::string::npos) << notes.All();
}

}  // namespace
}  // namespace tavrin::station
