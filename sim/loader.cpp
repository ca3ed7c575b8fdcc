#include "sim/loader.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "transfer/packet_frame.h"

namespace tavrin::sim {

namespace {

using namespace transfer;  // control bytes

constexpr std::array<std::uint8_t, 4> kModePayload{0xFE, 0x01, 0xFD, 0x02};
constexpr std::array<std::uint8_t, 3> kWhoAmIPayload{0xFE, 0x01, 0x00};
constexpr std::size_t kReplyPayloadSize = 3 + 11;
constexpr std::size_t kMatchedIdentityBytes = 7;  // Id2 and Id1; Id3 is the PC's own
constexpr std::size_t kSplitAnswerAt = 3 + 5;     // FE 01 00 and five answer bytes first

bool Equal(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b) {
  return std::ranges::equal(a, b);
}

std::uint8_t RefusalOf(Scenario scenario) {
  switch (scenario) {
    case Scenario::kRefuseEot:
    case Scenario::kRefuseEotAfterFrames:
      return kEot;
    case Scenario::kRefuseDc3:
    case Scenario::kRefuseDc3AfterFrames:
      return kDc3;
    case Scenario::kRefuseEtb:
    case Scenario::kRefuseEtbAfterFrames:
      return kEtb;
    default:
      return 0;
  }
}

bool RefusesAtAttention(Scenario s) {
  return s == Scenario::kRefuseEot || s == Scenario::kRefuseDc3 || s == Scenario::kRefuseEtb;
}

bool RefusesAfterFrames(Scenario s) {
  return s == Scenario::kRefuseEotAfterFrames || s == Scenario::kRefuseDc3AfterFrames ||
         s == Scenario::kRefuseEtbAfterFrames;
}

}  // namespace

std::string HexByte(std::uint8_t b) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", b);
  return text;
}

Loader::Loader(Stream& line, const TargetConfig& config, Journal& journal)
    : line_(line),
      config_(config),
      journal_(journal),
      memory_(config.memorySeed),
      identity_(config.identity) {
  if (config.scenario == Scenario::kAnswerEndsWithEot) identity_.back() = kEot;
  if (config.scenario == Scenario::kSilent) phase_ = Phase::kSilent;
  for (Fault fault : config.faults) {
    if (fault == Fault::kWrongCrc) {
      wrongCrcPending_ = true;
    } else {
      dataFaults_.push_back(fault);
    }
  }
}

void Loader::OnBytes(std::span<const std::uint8_t> bytes) {
  lastByteAt_ = Now();
  while (!bytes.empty() && phase_ != Phase::kSilent) {
    std::size_t used = 1;
    switch (phase_) {
      case Phase::kIdle:
        used = TakeIdle(bytes);
        break;
      case Phase::kExchange:
      case Phase::kPackets:
        used = TakeFramed(bytes[0]);
        break;
      case Phase::kOffering:
        used = TakeOffering(bytes[0]);
        break;
      case Phase::kServing:
        used = TakeServing(bytes[0]);
        break;
      case Phase::kSilent:
        break;
    }
    bytes = bytes.subspan(used);  // 0 only when the phase changed and the byte is its
  }
}

void Loader::OnTick() {
  const auto now = Now();
  while (!scheduled_.empty() && scheduled_.front().at <= now) {
    Bytes bytes = std::move(scheduled_.front().bytes);
    scheduled_.pop_front();
    Write(bytes);
  }
  if (testCandidate_ && now - lastByteAt_ >= config_.testFrameQuiet) EchoTestFrame();
  if ((packetReader_.InFrame() || testReader_.InFrame()) &&
      now - lastByteAt_ >= config_.frameTimeout) {
    const std::string brokeOff = "a frame broke off: nothing more came for " +
                                 std::to_string(config_.frameTimeout.count()) + " ms";
    if (packetError_.empty() && !RefuseBadFrame(session_.frames + 1, brokeOff)) Problem(brokeOff);
    ReportPacketError();
    packetReader_.Reset();
    testReader_.Reset();
  }
  if (phase_ == Phase::kOffering) TickOffering(now);
  if (phase_ == Phase::kServing) TickServing(now);
}

Loader::TimePoint Loader::NextWake() const {
  TimePoint wake = TimePoint::max();
  if (!scheduled_.empty()) wake = scheduled_.front().at;
  if (packetReader_.InFrame() || testReader_.InFrame()) {
    wake = std::min(wake, lastByteAt_ + config_.frameTimeout);
  }
  if (testCandidate_) wake = std::min(wake, lastByteAt_ + config_.testFrameQuiet);
  if (phase_ == Phase::kOffering) wake = std::min(wake, region_.nextOfferAt);
  if (phase_ == Phase::kServing && region_.frameSent && region_.nudges < config_.nudgeTries) {
    auto quietSince = std::max({region_.lastFrameAt, region_.lastNudgeAt, lastByteAt_});
    wake = std::min(wake, quietSince + config_.resendTimeout);
  }
  return wake;
}

std::size_t Loader::TakeIdle(std::span<const std::uint8_t> bytes) {
  if (testReader_.InFrame() || bytes[0] == kHeaderStart) {
    auto step = testReader_.Feed(bytes);
    if (step.status == FrameReader::Status::kFrame) Write(testReader_.Frame());  // the echo
    if (step.status == FrameReader::Status::kError)
      Problem("COM test frame: " + testReader_.Error());
    return step.consumed;
  }
  if (bytes[0] == kEtb) {
    Attention();
    return 1;
  }
  // Anything else is typed text: echoed up to the next attention or frame start, or let be.
  const auto typed = std::find_if(bytes.begin(), bytes.end(),
                                  [](std::uint8_t b) { return b == kEtb || b == kHeaderStart; });
  const auto count = static_cast<std::size_t>(typed - bytes.begin());
  if (config_.echoTyped) Write(bytes.first(count));
  return count;
}

// A 0x02 between frames starts a packet frame, or a COM test frame when the PC has left
// a transfer behind (the loader cannot know that an upload has ended). Both readers take
// the bytes; a complete packet frame wins, and a complete test frame counts only when
// the packet reader has refused the bytes or the line has gone quiet after it.
std::size_t Loader::TakeFramed(std::uint8_t b) {
  using Status = FrameReader::Status;
  const bool inFrame = packetReader_.InFrame() || testReader_.InFrame();
  if (!inFrame && b != kHeaderStart) {
    LooseByteBetweenFrames(b);
    return 1;
  }
  testCandidate_ = false;  // a byte after the test frame: it was the start of a packet frame
  const std::array<std::uint8_t, 1> one{b};
  std::optional<Status> packet;
  std::optional<Status> test;
  if (packetReader_.InFrame() || !inFrame) packet = packetReader_.Feed(one).status;
  if (testReader_.InFrame() || !inFrame) test = testReader_.Feed(one).status;
  if (packet == Status::kFrame) {
    testReader_.Reset();
    if (phase_ == Phase::kExchange) {
      OnExchangeFrame(packetReader_);
    } else {
      OnPacketFrame(packetReader_);
    }
  } else if (test == Status::kFrame) {
    if (packetReader_.InFrame()) {
      testCandidate_ = true;
    } else {
      EchoTestFrame();
    }
  } else if (packet == Status::kError || test == Status::kError) {
    // The packet reader's verdict stands once the test reader has given up too.
    if (packet == Status::kError) packetError_ = packetReader_.Error();
    if (!packetReader_.InFrame() && !testReader_.InFrame()) ReportPacketError();
  }
  return 1;
}

void Loader::ReportPacketError() {
  if (packetError_.empty()) return;
  if (!RefuseBadFrame(session_.frames + 1, packetError_)) {
    Problem("frame refused: " + packetError_);
  }
  packetError_.clear();
}

// With refuseBadFrames, a damaged frame of an upload's packet phase is answered with 0x13
// (the loader waits for other data) and the transfer is over for the loader. The problem
// names the frame (1-based, of the packet phase): a test of a refused last frame looks
// for it.
bool Loader::RefuseBadFrame(std::uint32_t frame, const std::string& why) {
  if (!config_.refuseBadFrames || phase_ != Phase::kPackets || session_.download) return false;
  Problem("refused frame " + std::to_string(frame) + " with 0x13: " + why);
  Write(std::array{kDc3});
  packetReader_.Reset();
  testReader_.Reset();
  phase_ = Phase::kIdle;
  return true;
}

void Loader::EchoTestFrame() {
  Write(testReader_.Frame());
  testReader_.Reset();
  packetReader_.Reset();
  testCandidate_ = false;
  packetError_.clear();
  scheduled_.clear();
  phase_ = Phase::kIdle;  // a COM test: no transfer is running on the PC
}

void Loader::LooseByteBetweenFrames(std::uint8_t b) {
  if (b == kEtb) {
    // Attention bytes the PC wrote before our answer reached it are still arriving; a
    // later one starts a new transfer.
    if (Now() - session_.answeredAt >= config_.attentionEcho) Attention();
    return;
  }
  if (config_.echoTyped) {
    Write(std::array{b});  // typed after a transfer: the loader cannot tell, it echoes
    return;
  }
  Problem("unexpected byte " + HexByte(b) + " between frames");
}

void Loader::Attention() {
  session_ = Session{};
  session_.answeredAt = Now();
  packetReader_.Reset();
  testReader_.Reset();
  testCandidate_ = false;
  scheduled_.clear();
  phase_ = Phase::kExchange;
  const Scenario scenario = config_.scenario;
  if (RefusesAtAttention(scenario)) {
    Write(std::array{RefusalOf(scenario)});
    phase_ = Phase::kIdle;
    return;
  }
  switch (scenario) {
    case Scenario::kAckThenEnqLater:
      Write(std::array{kAck});
      WriteAfter(config_.enqDelay, {kEnq});
      session_.modeForbidden = true;
      break;
    case Scenario::kNakAtAttention:
      // NAK ends the PC's attention phase before it has seen ready: no mode command.
      Write(std::array{kNak});
      WriteAfter(config_.enqDelay, {kAck, kEnq});
      session_.modeForbidden = true;
      break;
    case Scenario::kAckEnqBurst:
      Write(std::array{kAck, kEnq});
      session_.modeRequired = true;
      break;
    default:
      Write(std::array{kAck});
      Write(std::array{kEnq});
      break;
  }
}

void Loader::OnExchangeFrame(const FrameReader& reader) {
  journal_.Frame(reader.Frame(), false);
  if (!reader.SumMatches()) Problem("who-am-I exchange: a frame's sum does not match");
  const auto payload = reader.Payload();
  if (Equal(payload, kModePayload)) {
    if (session_.modeForbidden) Problem("mode command although ENQ had not come with the ACK");
    if (session_.whoAmISeen) Problem("mode command after the who-am-I command");
    session_.modeSeen = true;
    SendEnq();
  } else if (Equal(payload, kWhoAmIPayload)) {
    if (session_.modeRequired && !session_.modeSeen) {
      Problem("who-am-I command before the mode command");
    }
    session_.whoAmISeen = true;
    AnswerWhoAmI();
  } else if (payload.size() == kReplyPayloadSize && Equal(payload.first(3), kWhoAmIPayload)) {
    OnReply(payload);
  } else {
    Problem("unexpected frame in the who-am-I exchange");
    SendEnq();
  }
}

void Loader::AnswerWhoAmI() {
  Identity answer = identity_;
  const bool wrong = config_.scenario == Scenario::kWrongIdentityFirst && !session_.wrongAnswerSent;
  if (wrong) {
    answer[0] ^= 0xFF;
    session_.wrongAnswerSent = true;
  }
  session_.answeredRight = !wrong;
  Bytes bytes(kWhoAmIPayload.begin(), kWhoAmIPayload.end());
  bytes.insert(bytes.end(), answer.begin(), answer.end());
  if (config_.scenario == Scenario::kSplitAnswer) {
    Write(std::span(bytes).first(kSplitAnswerAt));
    WriteAfter(config_.splitAnswerGap, Bytes(bytes.begin() + kSplitAnswerAt, bytes.end()));
    WriteAfter(config_.splitAnswerGap, {kEnq});
    return;
  }
  Write(bytes);
  Write(std::array{kEnq});  // ready for the reply
}

void Loader::OnReply(std::span<const std::uint8_t> payload) {
  const auto id = payload.subspan(3);
  if (!session_.whoAmISeen) {
    Problem("who-am-I reply before the who-am-I command");
  } else if (!session_.answeredRight) {
    Problem("who-am-I reply after an answer with another identity");
  }
  if (!Equal(id.first(kMatchedIdentityBytes), std::span(identity_).first(kMatchedIdentityBytes))) {
    Problem("who-am-I reply does not carry this target's Id2 and Id1");
  }
  session_.replyFull = Equal(id, identity_);
  phase_ = Phase::kPackets;
  SendEnq();
}

void Loader::OnPacketFrame(const FrameReader& reader) {
  journal_.Frame(reader.Frame(), true);
  ++session_.frames;
  // A download's command image carries the target's own answer back in the reply and
  // starts with a region request.
  if (session_.frames == 1 && session_.replyFull && reader.SumMatches() &&
      ParseCommandPacket(reader.Payload())) {
    session_.download = true;
  }
  if (session_.download) {
    OnCommandPacket(reader);
  } else {
    OnUploadFrame(reader);
  }
}

void Loader::OnUploadFrame(const FrameReader& reader) {
  if (!reader.SumMatches()) {
    if (RefuseBadFrame(session_.frames, "sum does not match its payload")) return;
    Problem("frame " + std::to_string(session_.frames) + ": sum does not match its payload");
  }
  if (RefusesAfterFrames(config_.scenario) && session_.frames == config_.refuseAfterFrames) {
    Write(std::array{RefusalOf(config_.scenario)});
    phase_ = Phase::kIdle;
    return;
  }
  SendEnq();
}

void Loader::OnCommandPacket(const FrameReader& reader) {
  const std::string name = "command packet " + std::to_string(session_.frames);
  if (!reader.SumMatches()) Problem(name + ": sum does not match its payload");
  auto request = ParseCommandPacket(reader.Payload());
  if (!request) {
    Problem(name + ": not a region request");
    SendEnq();
    return;
  }
  auto& requests = session_.requests;
  if (!requests.empty() && request->recordCount != requests.front().recordCount) {
    Problem(name + ": record count " + std::to_string(request->recordCount) +
            ", the first packet said " + std::to_string(requests.front().recordCount));
  }
  requests.push_back(*request);
  if (requests.size() < requests.front().recordCount) {
    SendEnq();
    return;
  }
  // The PC goes on to receive without waiting for another ENQ.
  journal_.Requests(requests);
  StartRegion(0);
}

void Loader::SendEnq() {
  if (config_.scenario == Scenario::kEotAfterEnq && phase_ == Phase::kPackets &&
      !session_.eotAfterEnqSent) {
    // In one write, so that the PC sees the 0x04 while it is still ready.
    session_.eotAfterEnqSent = true;
    Write(std::array{kEnq, kEot});
    return;
  }
  Write(std::array{kEnq});
}

void Loader::Write(std::span<const std::uint8_t> bytes) {
  if (lineUp_ && !line_.Write(bytes)) lineUp_ = false;
}

void Loader::WriteAfter(std::chrono::milliseconds delay, Bytes bytes) {
  const auto at = Now() + delay;
  auto place = std::upper_bound(scheduled_.begin(), scheduled_.end(), at,
                                [](TimePoint t, const Scheduled& s) { return t < s.at; });
  scheduled_.insert(place, Scheduled{at, std::move(bytes)});
}

}  // namespace tavrin::sim
