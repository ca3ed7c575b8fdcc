// The journal: every unit a row of table `units` in a local SQLite database. The database is
// in WAL mode and each unit is written in a transaction of its own, so a crash or a power
// cut at any moment leaves every committed unit in it and no part of another. Several
// stations on one machine may write to one file: a writer that finds it locked waits (at
// most kBusyWait) for the other's transaction to end.
//
// The journal is also the outbox of a plant's database (see outbox.h): a row carries a
// `sent` mark that is set once the server has the row.
//
// Threads: one Journal may be used from any thread; its calls are serialised.
#pragma once

#include <chrono>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "station/unit_record.h"

struct sqlite3;

namespace tavrin::station {

inline constexpr auto kBusyWait = std::chrono::seconds{10};
inline constexpr const char* kDefaultJournal = "tavrin-journal.db";

// The columns of table `units`, in order (the outbox's server table has the same).
inline constexpr const char* kUnitColumns[] = {
    "unit_id",      "station",     "port",       "device",   "adapter_serial", "image_path",
    "image_sha256", "image_bytes", "started_at", "ended_at", "seconds",        "bytes_per_second",
    "result_code",  "result",      "status",     "outcome",  "confirm",        "capture"};

class Journal {
 public:
  // Opens (creating when missing) the database at `path`; an error text when it cannot.
  static std::variant<std::unique_ptr<Journal>, std::string> Open(
      const std::filesystem::path& path);
  // Opens an existing database to read it; an error text when it cannot.
  static std::variant<std::unique_ptr<Journal>, std::string> OpenToRead(
      const std::filesystem::path& path);
  ~Journal();
  Journal(const Journal&) = delete;
  Journal& operator=(const Journal&) = delete;

  // Writes the unit in one transaction; an error text when it could not be committed.
  std::optional<std::string> Record(const UnitRecord& unit);

  // Units started at or after `since` (an ISO 8601 prefix compared as text; empty: all), in
  // the order they were recorded.
  std::variant<std::vector<UnitRecord>, std::string> Units(const std::string& since = {});

  // The outbox: up to `limit` rows not yet marked sent, in the order they were recorded.
  std::variant<std::vector<UnitRecord>, std::string> Unsent(std::size_t limit);
  std::optional<std::string> MarkSent(const std::string& unitId);

  const std::filesystem::path& Path() const { return path_; }

 private:
  Journal(sqlite3* db, std::filesystem::path path) : db_(db), path_(std::move(path)) {}
  std::variant<std::vector<UnitRecord>, std::string> Select(const std::string& sql,
                                                            const std::string& text,
                                                            std::optional<std::int64_t> number);
  std::string Error(std::string_view step) const;

  std::mutex mutex_;
  sqlite3* db_;
  std::filesystem::path path_;
};

}  // namespace tavrin::station
