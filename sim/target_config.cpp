#include "sim/target_config.h"

#include <algorithm>
#include <cctype>
#include <utility>

namespace tavrin::sim {

namespace {

constexpr std::pair<Scenario, std::string_view> kScenarioNames[] = {
    {Scenario::kNormal, "normal"},
    {Scenario::kAckThenEnqLater, "ack-then-enq"},
    {Scenario::kAckEnqBurst, "ack-enq-burst"},
    {Scenario::kSplitAnswer, "split-answer"},
    {Scenario::kWrongIdentityFirst, "wrong-identity-first"},
    {Scenario::kRefuseEot, "refuse-eot"},
    {Scenario::kRefuseDc3, "refuse-dc3"},
    {Scenario::kRefuseEtb, "refuse-etb"},
    {Scenario::kRefuseEotAfterFrames, "refuse-eot-after-frames"},
    {Scenario::kRefuseDc3AfterFrames, "refuse-dc3-after-frames"},
    {Scenario::kRefuseEtbAfterFrames, "refuse-etb-after-frames"},
    {Scenario::kNakAtAttention, "nak-at-attention"},
    {Scenario::kSilent, "silent"},
    {Scenario::kAnswerEndsWithEot, "answer-ends-with-eot"},
    {Scenario::kEotAfterEnq, "eot-after-enq"},
};

constexpr std::pair<Fault, std::string_view> kFaultNames[] = {
    {Fault::kBadSum, "bad-sum"},
    {Fault::kOversize, "oversize"},
    {Fault::kDropByte, "drop-byte"},
    {Fault::kWrongCrc, "wrong-crc"},
};

template <typename Enum, std::size_t N>
std::optional<Enum> Find(const std::pair<Enum, std::string_view> (&table)[N],
                         std::string_view name) {
  for (const auto& [value, text] : table) {
    if (text == name) return value;
  }
  return std::nullopt;
}

template <typename Enum, std::size_t N>
std::string_view NameOf(const std::pair<Enum, std::string_view> (&table)[N], Enum value) {
  for (const auto& [entry, text] : table) {
    if (entry == value) return text;
  }
  return "?";
}

template <typename Enum, std::size_t N>
std::vector<std::string_view> Names(const std::pair<Enum, std::string_view> (&table)[N]) {
  std::vector<std::string_view> names;
  for (const auto& entry : table) names.push_back(entry.second);
  return names;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

std::optional<Scenario> ParseScenario(std::string_view name) {
  return Find(kScenarioNames, name);
}
std::string_view ScenarioName(Scenario scenario) {
  return NameOf(kScenarioNames, scenario);
}
std::optional<Fault> ParseFault(std::string_view name) {
  return Find(kFaultNames, name);
}
std::string_view FaultName(Fault fault) {
  return NameOf(kFaultNames, fault);
}
std::vector<std::string_view> ScenarioNames() {
  return Names(kScenarioNames);
}
std::vector<std::string_view> FaultNames() {
  return Names(kFaultNames);
}

std::optional<Identity> ParseIdentity(std::string_view hex) {
  Identity identity{};
  std::size_t count = 0;
  int high = -1;
  for (char c : hex) {
    if (c == ' ' || c == ':' || c == '-') {
      if (high >= 0) return std::nullopt;  // a separator inside a byte
      continue;
    }
    int digit = HexDigit(c);
    if (digit < 0) return std::nullopt;
    if (high < 0) {
      high = digit;
      continue;
    }
    if (count == identity.size()) return std::nullopt;
    identity[count++] = static_cast<std::uint8_t>(high * 16 + digit);
    high = -1;
  }
  if (high >= 0 || count != identity.size()) return std::nullopt;
  return identity;
}

}  // namespace tavrin::sim
