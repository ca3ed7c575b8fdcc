#include "station/outbox.h"

#include <libpq-fe.h>

#include <array>
#include <memory>
#include <vector>

namespace tavrin::station {
namespace {

constexpr const char* kInsertName = "tavrin_insert_unit";

constexpr const char* kCreateTable =
    "CREATE TABLE IF NOT EXISTS units ("
    " unit_id text PRIMARY KEY,"
    " station text NOT NULL,"
    " port text NOT NULL,"
    " device text NOT NULL,"
    " adapter_serial text,"
    " image_path text NOT NULL,"
    " image_sha256 text NOT NULL,"
    " image_bytes bigint NOT NULL,"
    " started_at timestamptz NOT NULL,"
    " ended_at timestamptz NOT NULL,"
    " seconds double precision NOT NULL,"
    " bytes_per_second double precision NOT NULL,"
    " result_code integer,"
    " result text NOT NULL,"
    " status integer NOT NULL,"
    " outcome text NOT NULL,"
    " confirm text,"
    " capture text)";

constexpr const char* kInsert =
    "INSERT INTO units (unit_id, station, port, device, adapter_serial, image_path,"
    " image_sha256, image_bytes, started_at, ended_at, seconds, bytes_per_second, result_code,"
    " result, status, outcome, confirm, capture) VALUES ($1, $2, $3, $4, $5, $6, $7, $8, $9,"
    " $10, $11, $12, $13, $14, $15, $16, $17, $18) ON CONFLICT (unit_id) DO NOTHING";

struct ConnDeleter {
  void operator()(PGconn* conn) const { PQfinish(conn); }
};
struct ResultDeleter {
  void operator()(PGresult* result) const { PQclear(result); }
};
using ResultPtr = std::unique_ptr<PGresult, ResultDeleter>;

// The value of `keyword` in a connection string (URI or key=value), "" when absent.
std::string ConninfoValue(const std::string& conninfo, std::string_view keyword) {
  char* error = nullptr;
  PQconninfoOption* options = PQconninfoParse(conninfo.c_str(), &error);
  if (error) PQfreemem(error);
  if (!options) return {};
  std::string value;
  for (PQconninfoOption* o = options; o->keyword; ++o) {
    if (keyword == o->keyword && o->val) value = o->val;
  }
  PQconninfoFree(options);
  return value;
}

std::string OneLine(std::string text) {
  for (auto& c : text) c = (c == '\n' || c == '\r') ? ' ' : c;
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

}  // namespace

std::string Redacted(std::string text, const std::string& secret) {
  if (secret.empty()) return text;
  for (auto at = text.find(secret); at != std::string::npos; at = text.find(secret, at + 3)) {
    text.replace(at, secret.size(), "***");
  }
  return text;
}

std::string ServerName(const std::string& conninfo) {
  const std::string host = ConninfoValue(conninfo, "host");
  const std::string port = ConninfoValue(conninfo, "port");
  const std::string db = ConninfoValue(conninfo, "dbname");
  return (host.empty() ? "localhost" : host) + (port.empty() ? "" : ":" + port) +
         (db.empty() ? "" : "/" + db);
}

// One connection to the server, with the insert prepared on it.
struct Outbox::Server {
  std::unique_ptr<PGconn, ConnDeleter> conn;
  std::string password;  // what libpq used (from the string, PGPASSWORD or PGPASSFILE)

  std::string Error() const {
    return Redacted(OneLine(conn ? PQerrorMessage(conn.get()) : "out of memory"), password);
  }
};

Outbox::Outbox(Journal& journal, std::string conninfo, NoteSink note)
    : journal_(journal), conninfo_(std::move(conninfo)), note_(std::move(note)) {}

Outbox::~Outbox() {
  Stop();
}

void Outbox::Start() {
  thread_ = std::thread([this] { Run(); });
}

void Outbox::Wake() {
  {
    std::lock_guard lock(mutex_);
    pending_ = true;
  }
  wake_.notify_all();
}

void Outbox::Stop() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void Outbox::Say(const std::string& text) {
  const std::string said = Redacted(text, ConninfoValue(conninfo_, "password"));
  if (said == lastNote_) return;  // once, until something else happens
  lastNote_ = said;
  if (note_) note_(said);
}

template <typename Duration>
void Outbox::Pause(Duration duration) {
  std::unique_lock lock(mutex_);
  wake_.wait_for(lock, duration, [this] { return stopping_ || pending_; });
  pending_ = false;
}

void Outbox::Run() {
  const std::string name = "the plant database " + ServerName(conninfo_);
  Server server;
  for (;;) {
    bool stopping = false;
    {
      std::lock_guard lock(mutex_);
      stopping = stopping_;
    }
    if (!server.conn) {
      const std::string timeout = std::to_string(kConnectTimeoutSeconds);
      const std::array<const char*, 3> keys{"dbname", "connect_timeout", nullptr};
      const std::array<const char*, 3> values{conninfo_.c_str(), timeout.c_str(), nullptr};
      server.conn.reset(PQconnectdbParams(keys.data(), values.data(), 1));
      server.password = server.conn && PQpass(server.conn.get()) ? PQpass(server.conn.get()) : "";
      bool ready = server.conn && PQstatus(server.conn.get()) == CONNECTION_OK;
      // The server's notices ("relation units already exists, skipping") are not the
      // operator's business: libpq would print them on stderr.
      if (server.conn)
        PQsetNoticeProcessor(
            server.conn.get(), [](void*, const char*) {}, nullptr);
      if (ready) {
        ResultPtr created(PQexec(server.conn.get(), kCreateTable));
        ResultPtr prepared(PQprepare(server.conn.get(), kInsertName, kInsert, 18, nullptr));
        ready = PQresultStatus(created.get()) == PGRES_COMMAND_OK &&
                PQresultStatus(prepared.get()) == PGRES_COMMAND_OK;
      }
      if (!ready) {
        Say(name + " cannot be reached (rows wait in the journal): " + server.Error());
        server.conn.reset();
        if (stopping) return;
        Pause(kOutboxRetry);
        continue;
      }
      Say(name + ": connected, sending the journal's rows");
    }
    if (!SendUnsent(server)) {
      Say(name + " did not take a row (it waits in the journal): " + server.Error());
      server.conn.reset();
      if (stopping) return;
      Pause(kOutboxRetry);
      continue;
    }
    if (stopping) return;
    Pause(kOutboxLook);
  }
}

// Every unsent row, oldest first; false when the server failed (the row stays unsent).
bool Outbox::SendUnsent(Server& server) {
  for (;;) {
    auto read = journal_.Unsent(kOutboxBatch);
    if (const auto* error = std::get_if<std::string>(&read)) {
      Say(*error);
      return true;  // the journal's trouble, not the server's: try again later
    }
    const auto& units = std::get<std::vector<UnitRecord>>(read);
    if (units.empty()) return true;
    for (const auto& unit : units) {
      const std::string bytes = std::to_string(unit.imageBytes);
      const std::string seconds = std::to_string(unit.seconds);
      const std::string rate = std::to_string(unit.bytesPerSecond);
      const std::string code = unit.resultCode ? std::to_string(*unit.resultCode) : "";
      const std::string status = std::to_string(unit.status);
      const std::string outcome(OutcomeName(unit.outcome));
      const auto optional = [](const std::optional<std::string>& text) {
        return text ? text->c_str() : nullptr;
      };
      const std::array<const char*, 18> values{unit.unitId.c_str(),
                                               unit.station.c_str(),
                                               unit.port.c_str(),
                                               unit.device.c_str(),
                                               optional(unit.adapterSerial),
                                               unit.imagePath.c_str(),
                                               unit.imageSha256.c_str(),
                                               bytes.c_str(),
                                               unit.startedAt.c_str(),
                                               unit.endedAt.c_str(),
                                               seconds.c_str(),
                                               rate.c_str(),
                                               unit.resultCode ? code.c_str() : nullptr,
                                               unit.result.c_str(),
                                               status.c_str(),
                                               outcome.c_str(),
                                               optional(unit.confirm),
                                               optional(unit.capture)};
      ResultPtr result(
          PQexecPrepared(server.conn.get(), kInsertName, 18, values.data(), nullptr, nullptr, 0));
      if (PQresultStatus(result.get()) != PGRES_COMMAND_OK) return false;
      if (auto error = journal_.MarkSent(unit.unitId)) {
        Say(*error);  // sent again later: the server stores it once
        return true;
      }
    }
  }
}

}  // namespace tavrin::station
