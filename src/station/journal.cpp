#include "station/journal.h"

#include <sqlite3.h>

namespace tavrin::station {
namespace {

// `sent` is the outbox's mark and stays local; the rest is the layout every copy shares.
constexpr const char* kCreateTable =
    "CREATE TABLE IF NOT EXISTS units ("
    " unit_id TEXT PRIMARY KEY NOT NULL,"
    " station TEXT NOT NULL,"
    " port TEXT NOT NULL,"
    " device TEXT NOT NULL,"
    " adapter_serial TEXT,"
    " image_path TEXT NOT NULL,"
    " image_sha256 TEXT NOT NULL,"
    " image_bytes INTEGER NOT NULL,"
    " started_at TEXT NOT NULL,"
    " ended_at TEXT NOT NULL,"
    " seconds REAL NOT NULL,"
    " bytes_per_second REAL NOT NULL,"
    " result_code INTEGER,"
    " result TEXT NOT NULL,"
    " status INTEGER NOT NULL,"
    " outcome TEXT NOT NULL CHECK (outcome IN ('loaded', 'already-loaded', 'failed')),"
    " confirm TEXT,"
    " capture TEXT,"
    " sent INTEGER NOT NULL DEFAULT 0)";
constexpr const char* kCreateIndex =
    "CREATE INDEX IF NOT EXISTS units_started_at ON units (started_at)";
constexpr const char* kInsert =
    "INSERT INTO units (unit_id, station, port, device, adapter_serial, image_path,"
    " image_sha256, image_bytes, started_at, ended_at, seconds, bytes_per_second, result_code,"
    " result, status, outcome, confirm, capture) VALUES"
    " (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14, ?15, ?16, ?17, ?18)";
constexpr const char* kSelectColumns =
    "SELECT unit_id, station, port, device, adapter_serial, image_path, image_sha256,"
    " image_bytes, started_at, ended_at, seconds, bytes_per_second, result_code, result,"
    " status, outcome, confirm, capture FROM units ";

// A statement that is finalised whatever path leaves the function.
class Statement {
 public:
  Statement(sqlite3* db, const char* sql) { sqlite3_prepare_v2(db, sql, -1, &statement_, nullptr); }
  ~Statement() { sqlite3_finalize(statement_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  sqlite3_stmt* get() const { return statement_; }
  explicit operator bool() const { return statement_ != nullptr; }

  void Text(int index, const std::string& text) {
    sqlite3_bind_text(statement_, index, text.data(), static_cast<int>(text.size()),
                      SQLITE_TRANSIENT);
  }
  void Text(int index, const std::optional<std::string>& text) {
    if (text) {
      Text(index, *text);
    } else {
      sqlite3_bind_null(statement_, index);
    }
  }

 private:
  sqlite3_stmt* statement_ = nullptr;
};

std::string ColumnText(sqlite3_stmt* row, int column) {
  const auto* text = sqlite3_column_text(row, column);
  if (text == nullptr) return {};
  return std::string(reinterpret_cast<const char*>(text),
                     static_cast<std::size_t>(sqlite3_column_bytes(row, column)));
}

std::optional<std::string> OptionalText(sqlite3_stmt* row, int column) {
  if (sqlite3_column_type(row, column) == SQLITE_NULL) return std::nullopt;
  return ColumnText(row, column);
}

UnitRecord ReadUnit(sqlite3_stmt* row) {
  UnitRecord unit;
  unit.unitId = ColumnText(row, 0);
  unit.station = ColumnText(row, 1);
  unit.port = ColumnText(row, 2);
  unit.device = ColumnText(row, 3);
  unit.adapterSerial = OptionalText(row, 4);
  unit.imagePath = ColumnText(row, 5);
  unit.imageSha256 = ColumnText(row, 6);
  unit.imageBytes = static_cast<std::uint64_t>(sqlite3_column_int64(row, 7));
  unit.startedAt = ColumnText(row, 8);
  unit.endedAt = ColumnText(row, 9);
  unit.seconds = sqlite3_column_double(row, 10);
  unit.bytesPerSecond = sqlite3_column_double(row, 11);
  if (sqlite3_column_type(row, 12) != SQLITE_NULL) unit.resultCode = sqlite3_column_int(row, 12);
  unit.result = ColumnText(row, 13);
  unit.status = sqlite3_column_int(row, 14);
  unit.outcome = OutcomeNamed(ColumnText(row, 15)).value_or(Outcome::kFailed);
  unit.confirm = OptionalText(row, 16);
  unit.capture = OptionalText(row, 17);
  return unit;
}

std::variant<std::unique_ptr<Journal>, std::string> OpenFailed(sqlite3* db,
                                                               const std::filesystem::path& path) {
  std::string text = "the journal " + path.string() +
                     " cannot be opened: " + (db ? sqlite3_errmsg(db) : "out of memory");
  sqlite3_close(db);
  return text;
}

}  // namespace

std::variant<std::unique_ptr<Journal>, std::string> Journal::Open(
    const std::filesystem::path& path) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db,
                      SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                      nullptr) != SQLITE_OK) {
    return OpenFailed(db, path);
  }
  sqlite3_busy_timeout(db, static_cast<int>(std::chrono::milliseconds(kBusyWait).count()));
  // WAL: a commit is one append to the log, and readers never block the writer. FULL: a
  // committed unit is on the disk before Record returns (a power cut keeps it).
  for (const char* sql :
       {"PRAGMA journal_mode=WAL", "PRAGMA synchronous=FULL", kCreateTable, kCreateIndex}) {
    if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK) return OpenFailed(db, path);
  }
  return std::unique_ptr<Journal>(new Journal(db, path));
}

std::variant<std::unique_ptr<Journal>, std::string> Journal::OpenToRead(
    const std::filesystem::path& path) {
  sqlite3* db = nullptr;
  // Read-write without create: a reader of a WAL database takes part in its shared memory.
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_FULLMUTEX, nullptr) !=
      SQLITE_OK) {
    return OpenFailed(db, path);
  }
  sqlite3_busy_timeout(db, static_cast<int>(std::chrono::milliseconds(kBusyWait).count()));
  sqlite3_stmt* probe = nullptr;
  if (sqlite3_prepare_v2(db, "SELECT 1 FROM units LIMIT 1", -1, &probe, nullptr) != SQLITE_OK) {
    std::string text = path.string() + " is not a station journal: " + sqlite3_errmsg(db);
    sqlite3_close(db);
    return text;
  }
  sqlite3_finalize(probe);
  return std::unique_ptr<Journal>(new Journal(db, path));
}

Journal::~Journal() {
  sqlite3_close(db_);
}

std::string Journal::Error(std::string_view step) const {
  return std::string(step) + " " + path_.string() + ": " + sqlite3_errmsg(db_);
}

std::optional<std::string> Journal::Record(const UnitRecord& unit) {
  std::lock_guard lock(mutex_);
  if (sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK) {
    return Error("the unit cannot be written to");
  }
  Statement insert(db_, kInsert);
  bool done = false;
  if (insert) {
    insert.Text(1, unit.unitId);
    insert.Text(2, unit.station);
    insert.Text(3, unit.port);
    insert.Text(4, unit.device);
    insert.Text(5, unit.adapterSerial);
    insert.Text(6, unit.imagePath);
    insert.Text(7, unit.imageSha256);
    sqlite3_bind_int64(insert.get(), 8, static_cast<sqlite3_int64>(unit.imageBytes));
    insert.Text(9, unit.startedAt);
    insert.Text(10, unit.endedAt);
    sqlite3_bind_double(insert.get(), 11, unit.seconds);
    sqlite3_bind_double(insert.get(), 12, unit.bytesPerSecond);
    if (unit.resultCode) {
      sqlite3_bind_int(insert.get(), 13, *unit.resultCode);
    } else {
      sqlite3_bind_null(insert.get(), 13);
    }
    insert.Text(14, unit.result);
    sqlite3_bind_int(insert.get(), 15, unit.status);
    insert.Text(16, std::string(OutcomeName(unit.outcome)));
    insert.Text(17, unit.confirm);
    insert.Text(18, unit.capture);
    done = sqlite3_step(insert.get()) == SQLITE_DONE;
  }
  if (done && sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK) {
    return std::nullopt;
  }
  std::string error = Error("the unit cannot be written to");
  sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  return error;
}

std::variant<std::vector<UnitRecord>, std::string> Journal::Select(
    const std::string& sql, const std::string& text, std::optional<std::int64_t> number) {
  std::lock_guard lock(mutex_);
  Statement select(db_, sql.c_str());
  if (!select) return Error("cannot read");
  if (!text.empty()) select.Text(1, text);
  if (number) sqlite3_bind_int64(select.get(), 1, *number);
  std::vector<UnitRecord> units;
  for (;;) {
    const int step = sqlite3_step(select.get());
    if (step == SQLITE_DONE) break;
    if (step != SQLITE_ROW) return Error("cannot read");
    units.push_back(ReadUnit(select.get()));
  }
  return units;
}

std::variant<std::vector<UnitRecord>, std::string> Journal::Units(const std::string& since) {
  if (since.empty()) return Select(std::string(kSelectColumns) + "ORDER BY rowid", {}, {});
  return Select(std::string(kSelectColumns) + "WHERE started_at >= ?1 ORDER BY rowid", since, {});
}

std::variant<std::vector<UnitRecord>, std::string> Journal::Unsent(std::size_t limit) {
  return Select(std::string(kSelectColumns) + "WHERE sent = 0 ORDER BY rowid LIMIT ?1", {},
                static_cast<std::int64_t>(limit));
}

std::optional<std::string> Journal::MarkSent(const std::string& unitId) {
  std::lock_guard lock(mutex_);
  Statement update(db_, "UPDATE units SET sent = 1 WHERE unit_id = ?1");
  if (!update) return Error("cannot mark a unit sent in");
  update.Text(1, unitId);
  if (sqlite3_step(update.get()) != SQLITE_DONE) return Error("cannot mark a unit sent in");
  return std::nullopt;
}

}  // namespace tavrin::station
