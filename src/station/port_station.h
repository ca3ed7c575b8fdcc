// One port of a production station: an endless loop of units on one adapter.
//
//   adapter present -> a box answers the attention bytes -> upload -> [confirm] -> box gone
//
// - The adapter is named, not its node: `resolve` is asked again before every open, so
//   a USB adapter that comes back under another node is found. While it is missing, or
//   cannot be opened, the port waits (polling every adapterPoll) and says why once.
// - Waiting for a box is the upload's own attention phase (0x17 every 100 ms until the
//   target answers). A unit begins when the box answers and ends with the upload's result;
//   it is written to the journal, and committed, before anything else happens on the port.
// - After a unit the station waits for the box to go before it looks for the next one, so
//   a box is never loaded twice: it sends the attention byte every 100 ms itself (outside
//   any transfer) and takes the box as gone once `gap` has passed without an answer, or
//   when the adapter goes. A box that refused with 0x04 ("same version") is one
//   already-loaded unit however long it stays.
// - When the adapter goes (its node fails), a unit in progress is recorded as failed with
//   status 6, and the port waits for the adapter to come back.
//
// Threads: Run on the port's own thread (the engine's host thread for this port);
// Snapshot and Wake from any thread. The sink is called on the port's thread, the transfer
// thread and the reader thread, never with a lock of this object held.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "serial/port_settings.h"
#include "serial/serial_link.h"
#include "station/journal.h"
#include "station/station_control.h"
#include "station/unit_record.h"

namespace tavrin::station {

enum class PortState {
  kWaitingForAdapter,
  kWaitingForBox,
  kLoading,
  kConfirming,
  kWaitingForBoxToGo,
  kStopped,
};
// "waiting for the adapter", ...: how the board says it.
std::string_view StateText(PortState state);
// "waiting-for-adapter", ...: how events name it.
std::string_view StateKey(PortState state);

// Where the adapter is now.
struct AdapterNode {
  std::string portName;               // what to open; empty: the adapter is not there
  std::optional<std::string> serial;  // its USB serial number, when known
  std::string missing;                // why it is not there, when portName is empty
};
using AdapterResolver = std::function<AdapterNode()>;

inline constexpr auto kDefaultGap = std::chrono::milliseconds{2000};
inline constexpr auto kAdapterPoll = std::chrono::milliseconds{500};
inline constexpr auto kProbePeriod = std::chrono::milliseconds{100};  // attention byte
inline constexpr std::uint8_t kProbe = 0x17;  // the attention byte: a box's loader answers it

struct PortStationConfig {
  std::string port;           // as given: how the port is named to the operator and the journal
  serial::PortSettings line;  // line settings; portName comes from `resolve`
  ImageIdentity image;
  std::chrono::milliseconds gap = kDefaultGap;
  std::optional<std::chrono::milliseconds> confirm;  // listen this long after Upload Success
  std::filesystem::path captureDir;  // each unit's capture kept here; empty: not kept
  std::string station;               // the host name, for the journal
  AdapterResolver resolve;
  serial::DeviceFactory deviceFactory;  // empty: real ports
  serial::LinkTimings linkTimings{};
  std::chrono::milliseconds adapterPoll = kAdapterPoll;
  // The text of a result code as the front end's summary gives it; empty: the report
  // block's words on one line.
  std::function<std::string(int)> resultText;
};

// What the port tells its front end. Any thread; a sink never waits.
class StationSink {
 public:
  virtual ~StationSink() = default;
  // `unit`: the port's unit in progress, or the number the next one will have.
  virtual void StateChanged(const std::string& port, PortState state, unsigned unit) = 0;
  virtual void UnitBegan(const std::string& port, unsigned unit, const std::string& device) = 0;
  // A frame of the unit's upload has been written: `sent` of `total`.
  virtual void FramesSent(const std::string& port, unsigned unit, std::uint32_t sent,
                          std::uint32_t total) = 0;
  // The unit is over; `journalError` is set when it could not be written to the journal.
  virtual void UnitEnded(const std::string& port, unsigned unit, const UnitRecord& record,
                         const std::optional<std::string>& journalError) = 0;
  // Something the operator should read: why the adapter cannot be opened, a link error.
  virtual void Note(const std::string& port, const std::string& text) = 0;
};

struct PortCounts {
  unsigned loaded = 0;
  unsigned alreadyLoaded = 0;
  unsigned failed = 0;
  unsigned Total() const { return loaded + alreadyLoaded + failed; }
};

struct PortSnapshot {
  PortState state = PortState::kWaitingForAdapter;
  unsigned unit = 1;
  std::uint32_t sent = 0;
  std::uint32_t total = 0;
  PortCounts counts;
  double unitsPerHour = 0;  // from the second unit on; 0 before
  int worstStatus = 0;      // the highest status of its units (0: none failed)
};

class PortStation {
 public:
  PortStation(PortStationConfig config, Journal& journal, StationControl& control,
              StationSink& sink);
  ~PortStation();
  PortStation(const PortStation&) = delete;
  PortStation& operator=(const PortStation&) = delete;

  // The port's loop, until the control stops it.
  void Run();
  PortSnapshot Snapshot() const;
  // Wakes the port's waits (the control has changed).
  void Wake();
  // The run could not go on (the journal cannot be written, the image cannot be read):
  // its exit status; 0 otherwise.
  int Failure() const;

 private:
  struct Connection;
  struct Hooks;
  enum class Found { kBox, kNothing };

  bool Connect();
  void WaitForAdapter();
  void ServeConnection();
  Found WaitForBox();
  void LoadUnit();
  std::optional<std::uint8_t> Confirm();
  void WaitForBoxToGo();
  void FinishUnit(UnitRecord& record);
  void SetState(PortState state);
  std::string ResultText(int code) const;
  // Waits on the port's condition until `until` or `done()`; returns done().
  template <typename Done>
  bool WaitUntil(std::chrono::steady_clock::time_point until, Done done);

  PortStationConfig config_;
  Journal& journal_;
  StationControl& control_;
  StationSink& sink_;
  std::unique_ptr<Hooks> hooks_;
  std::unique_ptr<Connection> connection_;
  std::string device_;  // the node open now
  std::optional<std::string> adapterSerial_;
  std::string lastCause_;  // the last reason said for a missing adapter
  unsigned unit_ = 1;      // the unit in progress, or the next one
};

}  // namespace tavrin::station
