// What the simulated loader is: its identity, how it behaves (scenario), the memory it
// serves and the faults it puts into its dump frames.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tavrin::sim {

// How the loader answers the upload's exchanges. The default is a well-behaved loader.
enum class Scenario {
  kNormal,                // ACK then ENQ; the mode command may or may not come
  kAckThenEnqLater,       // ACK alone, ENQ a while later: no mode command may come
  kAckEnqBurst,           // ACK and ENQ in one write: the mode command must come first
  kSplitAnswer,           // the who-am-I answer in two writes
  kWrongIdentityFirst,    // the first who-am-I answer carries another identity
  kRefuseEot,             // answers attention with 0x04 (same version present)
  kRefuseDc3,             // answers attention with 0x13 (waits for other data)
  kRefuseEtb,             // answers attention with 0x17 (terminated)
  kRefuseEotAfterFrames,  // takes some frames, then 0x04 in place of ENQ
  kRefuseDc3AfterFrames,
  kRefuseEtbAfterFrames,
  kNakAtAttention,     // answers attention with NAK, then ACK and ENQ a while later
  kSilent,             // never answers anything
  kAnswerEndsWithEot,  // its identity's last byte is 0x04
  kEotAfterEnq,        // the first ENQ of the packet phase is followed by 0x04
};

// Faults put into the dump frames of a download, each once, in this order on the
// successive data packets (the first on the first data packet of the first region).
enum class Fault {
  kBadSum,    // a frame with a wrong sum; the resend after NAK is good
  kOversize,  // a frame header announcing LEN 2992; the resend after NAK is good
  kDropByte,  // a frame with one byte missing; the loader's silence nudge brings a NAK
  kWrongCrc,  // the first region's info packet carries a wrong CRC (not a data packet)
};

std::optional<Scenario> ParseScenario(std::string_view name);
std::string_view ScenarioName(Scenario scenario);
std::optional<Fault> ParseFault(std::string_view name);
std::string_view FaultName(Fault fault);
// Names accepted by the parsers, for usage texts.
std::vector<std::string_view> ScenarioNames();
std::vector<std::string_view> FaultNames();

// The 11 bytes of the who-am-I answer: Id2 (3), Id1 (4), Id3 (4).
using Identity = std::array<std::uint8_t, 11>;
constexpr Identity kDefaultIdentity{0x55, 0x66, 0x77, 0x11, 0x22, 0x33,
                                    0x44, 0x88, 0x99, 0xAA, 0xBB};
// 22 hexadecimal digits (blanks allowed between bytes).
std::optional<Identity> ParseIdentity(std::string_view hex);

struct TargetConfig {
  Identity identity = kDefaultIdentity;
  Scenario scenario = Scenario::kNormal;
  std::uint64_t memorySeed = 1;
  // Region data bytes in one data packet (at most 2979: 2991 less 12 bytes of head).
  std::uint32_t packetSize = 1024;
  // Data packets one info packet entry stands for (1..255).
  std::uint32_t packetsPerEntry = 8;
  std::vector<Fault> faults;
  // Frames taken before a refusal of the *AfterFrames scenarios.
  std::uint32_t refuseAfterFrames = 2;
  // An upload frame that arrives damaged (its sum does not match, it overruns its length,
  // or it breaks off) is refused with 0x13 rather than answered with ENQ; the loader then
  // waits for a new transfer. Off: the frame is noted as a problem and taken.
  bool refuseBadFrames = false;
  // Typed text (bytes outside frames that are not attention) is sent back as it came, as a
  // target's console echoes what is typed to it. Off: the loader takes no notice of it.
  bool echoTyped = false;

  // Timing of the loader.
  std::chrono::milliseconds enqDelay{300};            // ACK (or NAK) to the late ENQ
  std::chrono::milliseconds splitAnswerGap{50};       // between the answer's two writes
  std::chrono::milliseconds regionReadyDelay{50};     // last request to the first 0x17
  std::chrono::milliseconds regionReadyRepeat{1000};  // 0x17 repeated until ACK
  std::uint32_t regionReadyTries = 30;                // then the download is given up
  // Silence after a dump frame: the PC may be stuck inside a frame that lost bytes on the
  // line, waiting for its end. A nudge of filler bytes (0x00: never a frame start) makes
  // such a PC overrun the frame and answer NAK; a PC outside a frame ignores it.
  std::chrono::milliseconds resendTimeout{3000};
  std::uint32_t nudgeTries = 2;  // the first nudge is one byte, a later one a frame's worth
  // An ENQ this long after the last frame asks for that frame again (the PC repeats its
  // request after 15 s without a frame).
  std::chrono::milliseconds repeatThreshold{10'000};
  std::chrono::milliseconds frameTimeout{5000};  // silence that abandons a partial frame
  // Silence after bytes that form a whole COM test frame but could begin a packet frame:
  // it was a test frame.
  std::chrono::milliseconds testFrameQuiet{200};
  std::chrono::milliseconds attentionEcho{1000};  // 0x17s this soon after an answer are old
};

constexpr std::uint32_t kMaxPacketData = 2991 - 12;

}  // namespace tavrin::sim
