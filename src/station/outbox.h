// The journal as an outbox for a plant's PostgreSQL database: a thread of its own sends
// every row not yet marked sent, in the order the rows were recorded, and marks a row sent
// only once the server has committed it. When the server cannot be reached (network down,
// server restarting) the rows stay unsent and go, in order, once it is back; a row the
// server already has (its answer was lost) is stored once, as unit_id is its key. The
// table is created on the server when it is missing.
//
// The station never waits for the server: the ports only write to the local journal.
// Every statement is prepared with parameters (no value is pasted into SQL text). The
// connection string is never shown: notes name the server by its host, port and database,
// and any text from the server has the password taken out.
//
// Threads: Start, Wake and Stop from the owner's thread (Wake from any); the notes are
// given on the outbox's thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "station/journal.h"

namespace tavrin::station {

inline constexpr auto kOutboxRetry = std::chrono::seconds{2};  // after a failure
inline constexpr auto kOutboxLook = std::chrono::seconds{1};   // unsent rows looked for
inline constexpr int kConnectTimeoutSeconds = 5;
inline constexpr std::size_t kOutboxBatch = 100;  // rows read at a time

// `text` with every occurrence of `secret` replaced by "***".
std::string Redacted(std::string text, const std::string& secret);
// How a connection string names its server without its password: "host:port/dbname".
std::string ServerName(const std::string& conninfo);

class Outbox {
 public:
  using NoteSink = std::function<void(const std::string&)>;

  Outbox(Journal& journal, std::string conninfo, NoteSink note);
  ~Outbox();
  Outbox(const Outbox&) = delete;
  Outbox& operator=(const Outbox&) = delete;

  void Start();
  // Rows may be waiting: look now.
  void Wake();
  // Sends what is still unsent once more (when the server is there), then ends the thread.
  void Stop();

 private:
  struct Server;
  void Run();
  bool SendUnsent(Server& server);
  void Say(const std::string& text);
  template <typename Duration>
  void Pause(Duration duration);

  Journal& journal_;
  const std::string conninfo_;
  NoteSink note_;
  std::string lastNote_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;  // under mutex_
  bool pending_ = false;   // under mutex_
  std::thread thread_;
};

}  // namespace tavrin::station
