// The simulated target's loader: a state machine fed with the bytes the target receives
// and woken by its timers; it answers on the line it was given and notes what it saw in
// the journal. Single-threaded: Target runs it on its own thread.
//
// Upload side: attention (0x17) → ACK, ENQ → [mode command → ENQ] → who-am-I command →
// FE 01 00 + identity, ENQ → who-am-I reply → ENQ → one ENQ per frame.
// Download side: the frames after the reply are command packets; after the last one the
// loader offers each region (0x17 until ACK), sends the info packet on the first ENQ, one
// data packet on each further ENQ, the last frame again on NAK, and ends the region on the
// ENQ after its last data packet.
// Outside a transfer a COM test frame is sent back as it came.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <vector>

#include "sim/frame_reader.h"
#include "sim/journal.h"
#include "sim/memory_image.h"
#include "sim/region_plan.h"
#include "sim/stream.h"
#include "sim/target_config.h"

namespace tavrin::sim {

class Loader {
 public:
  using Clock = std::chrono::steady_clock;
  using TimePoint = Clock::time_point;

  Loader(Stream& line, const TargetConfig& config, Journal& journal);

  void OnBytes(std::span<const std::uint8_t> bytes);
  void OnTick();
  // When OnTick next has something to do (TimePoint::max() when nothing is due).
  TimePoint NextWake() const;
  // False once a write found the line gone.
  bool LineUp() const { return lineUp_; }
  const MemoryImage& Memory() const { return memory_; }

 private:
  enum class Phase {
    kIdle,      // no transfer: attention or a COM test frame may come
    kExchange,  // attention answered: mode command, who-am-I command and reply
    kPackets,   // after the reply: URT frames or command packets
    kOffering,  // download: 0x17 repeated until the PC accepts the region
    kServing,   // download: dump frames, one per request
    kSilent,    // answers nothing, ever
  };

  // Per transfer, reset by every attention that is answered.
  struct Session {
    TimePoint answeredAt{};
    bool modeRequired = false;   // ready was signalled at once: the mode command comes first
    bool modeForbidden = false;  // ready was not signalled at once: no mode command
    bool modeSeen = false;
    bool whoAmISeen = false;
    bool answeredRight = false;  // the last who-am-I answer carried this target's identity
    bool wrongAnswerSent = false;
    bool replyFull = false;  // the reply carried all 11 identity bytes back
    bool download = false;
    bool eotAfterEnqSent = false;
    std::uint32_t frames = 0;  // frames of the packet phase
    std::vector<RegionRequest> requests;
  };

  // Download: the region being offered or served.
  struct Region {
    std::size_t index = 0;  // into Session::requests
    std::optional<RegionPlan> plan;
    std::uint32_t offers = 0;
    TimePoint nextOfferAt{};
    bool frameSent = false;
    std::uint32_t nextFrame = 0;  // 0 info packet, 1.. data packets
    Bytes lastFrame;              // the good form of the last frame sent
    TimePoint lastFrameAt{};      // when the last frame (not a nudge) had been written
    TimePoint lastNudgeAt{};
    std::uint32_t nudges = 0;  // since the last frame
  };

  struct Scheduled {
    TimePoint at;
    Bytes bytes;
  };

  // Bytes, by phase; each returns how many bytes it took: at least 1, or 0 after changing
  // the phase so that the new phase takes the byte.
  std::size_t TakeIdle(std::span<const std::uint8_t> bytes);
  std::size_t TakeFramed(std::uint8_t b);
  void EchoTestFrame();
  void ReportPacketError();
  bool RefuseBadFrame(std::uint32_t frame, const std::string& why);
  std::size_t TakeOffering(std::uint8_t b);
  std::size_t TakeServing(std::uint8_t b);
  void LooseByteBetweenFrames(std::uint8_t b);

  // Upload side (loader.cpp).
  void Attention();
  void OnExchangeFrame(const FrameReader& reader);
  void AnswerWhoAmI();
  void OnReply(std::span<const std::uint8_t> payload);
  void OnPacketFrame(const FrameReader& reader);
  void OnUploadFrame(const FrameReader& reader);
  void OnCommandPacket(const FrameReader& reader);
  void SendEnq();

  // Download side (loader_download.cpp).
  void StartRegion(std::size_t index);
  void TickOffering(TimePoint now);
  void OnRegionAccepted();
  std::size_t LeaveDownload();
  void OnEnq();
  void OnNak();
  void SendFrame(std::uint32_t index);
  void Resend();
  Bytes FaultyForm(const Bytes& frame);
  void RegionDone();
  void TickServing(TimePoint now);

  void Write(std::span<const std::uint8_t> bytes);
  void WriteAfter(std::chrono::milliseconds delay, Bytes bytes);
  void Problem(std::string text) { journal_.Problem(std::move(text)); }
  static TimePoint Now() { return Clock::now(); }

  Stream& line_;
  const TargetConfig& config_;
  Journal& journal_;
  MemoryImage memory_;
  Identity identity_;  // the identity this loader answers with
  Phase phase_ = Phase::kIdle;
  Session session_;
  Region region_;
  FrameReader packetReader_{kPacketFrameLayout};
  FrameReader testReader_{kTestFrameLayout};
  bool testCandidate_ = false;  // a complete test frame the packet reader has not refused
  std::string packetError_;     // the packet reader's refusal, while the test reader goes on
  TimePoint lastByteAt_{};
  std::deque<Scheduled> scheduled_;
  std::deque<Fault> dataFaults_;  // still to be put into data packets
  bool wrongCrcPending_ = false;
  bool lineUp_ = true;
};

std::string HexByte(std::uint8_t b);

}  // namespace tavrin::sim
