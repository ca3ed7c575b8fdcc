// Shared by the receive processor fuzzers: the host objects a Transfer needs and an
// independent model of the receive processor (upload half, download half, blanking) to
// compare the Transfer against, byte for byte and flag for flag, after every block.
#pragma once

#include <algorithm>
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <numeric>
#include <span>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "serial/error_reporter.h"
#include "serial/status_log.h"
#include "terminal/capture_sink.h"
#include "transfer/clock.h"
#include "transfer/transfer.h"
#include "transfer/transfer_port.h"
#include "transfer/transfer_view.h"

namespace tavrin::fuzz {

// The line and the window in one: takes every write, and traps on a message box, which
// only comes when a file in the harness's own directory could not be made.
class NullLine : public transfer::TransferPort, public transfer::TransferView {
 public:
  std::size_t Write(std::span<const std::uint8_t> bytes, const serial::StopSignal&) override {
    return bytes.size();
  }
  serial::DeviceResult PurgeReceive() override { return serial::DeviceResult::Ok(); }
  void ShowMessage(std::string, std::string, transfer::MessageIcon) override { __builtin_trap(); }
};

class NullCapture final : public terminal::CaptureSink {
 public:
  void WriteToCapture(std::span<const std::uint8_t>, terminal::ColourMark) override {}
};

class QuietErrors final : public serial::ErrorSink {
 public:
  void ShowError(std::string) override {}
  void EndProcess() override {}
  void Debug(std::string_view) override {}
};

class FixedClock final : public transfer::Clock {
 public:
  int SecondOfHour() override { return 0; }
};

// The Transfer and everything it talks to. Unless the fuzzer starts a transfer, no
// transfer thread runs: the fuzzer sets the shared flags itself, as it would have left them.
template <typename Line = NullLine>
struct Bench {
  Line line;
  NullCapture capture;
  FixedClock clock;
  QuietErrors errors;
  serial::StatusLog status;
  transfer::Transfer transfer{
      transfer::TransferContext{line, line, capture, clock, errors, status}};
};

// The receive processor as the target's protocol describes it, written apart from the
// Transfer so that the two can be compared.
class ReceiveModel {
 public:
  // Flags shared with the transfer thread.
  bool running = false;
  bool cancelRequest = false;
  // A transfer thread runs: only then does a pending cancel leave the blocks alone (it
  // ends with its transfer).
  bool transferActive = false;
  bool download = false;
  bool ackSeen = false;
  bool attention = true;
  bool ready = false;
  int targetCode = 0;
  bool expectingAnswer = false;
  bool verified = false;
  bool answerComplete = false;
  bool receiving = false;
  bool regionReady = false;
  bool inFrame = false;
  bool enqPending = false;
  bool nakPending = false;

  // Region data stored so far (DumpBin.dbi).
  std::vector<std::uint8_t> regionData;

  // Processes one block in place, as ProcessReceivedBytes does.
  void Process(std::span<std::uint8_t> block) {
    std::size_t i = 0;
    while (i < block.size() && !(cancelRequest && transferActive)) {
      if (running && Gathering() && answerMissing_ > 0) {
        i += TakeAnswer(block.subspan(i));
        if (answerMissing_ > 0) return;
        continue;
      }
      const std::uint8_t b = block[i];
      std::size_t answerBytes = 0;
      if (running) answerBytes = UploadByte(b, block.subspan(i + 1));
      if (receiving && !DumpByte(b)) return;
      if (IsBlanked(b)) block[i] = ' ';
      i += 1 + answerBytes;
      if (answerMissing_ > 0) return;
    }
  }

  // The transfer thread's who-am-I step between two blocks: on the target's ENQ it sends
  // the command again and waits for a new answer.
  void AskAgain() {
    ready = false;
    answerComplete = false;
    expectingAnswer = true;
  }

  bool AskAgainDue() const { return running && !download && !verified && ready; }

  // A frame has begun and its three length bytes have all come.
  bool FrameLengthKnown() const { return inFrame && lengthMissing_ == 0; }

 private:
  static constexpr std::uint8_t kAck = 0x06;
  static constexpr std::uint8_t kEnq = 0x05;
  static constexpr std::uint8_t kEtb = 0x17;
  static constexpr std::uint8_t kStart = 0x02;
  static constexpr std::uint8_t kEnd = 0x03;
  static constexpr std::size_t kAnswerSize = 11;
  static constexpr std::uint32_t kLongestPayload = 2991;

  static bool IsBlanked(std::uint8_t b) {
    constexpr std::array<std::uint8_t, 10> kBlanked = {0x00, 0x04, 0x05, 0x06, 0x11,
                                                       0x13, 0x15, 0x17, 0x91, 0x99};
    return std::find(kBlanked.begin(), kBlanked.end(), b) != kBlanked.end();
  }

  bool Gathering() const { return expectingAnswer && !verified; }

  // The upload half for one byte; returns how many answer bytes after it were taken.
  std::size_t UploadByte(std::uint8_t b, std::span<const std::uint8_t> after) {
    const bool gathering = Gathering();
    if (b == kAck) {
      ackSeen = true;
      attention = false;
    } else if (b == kEnq && ackSeen) {
      attention = false;
      ready = true;
    }
    std::size_t taken = 0;
    if (gathering) {
      if (b == 0xFE) {
        feSeen_ = true;
      } else if (feSeen_ && b == 0x01) {
        oneSeen_ = true;
      } else if (oneSeen_ && b == 0x00) {
        answer_.clear();
        answerMissing_ = kAnswerSize;
        taken = TakeAnswer(after);
      }
    }
    if (!ready && (b == 0x13 || b == 0x15 || b == 0x04 || b == kEtb)) {
      targetCode = b;
      attention = false;
    }
    return taken;
  }

  std::size_t TakeAnswer(std::span<const std::uint8_t> bytes) {
    const std::size_t taken = std::min(answerMissing_, bytes.size());
    answer_.insert(answer_.end(), bytes.begin(),
                   bytes.begin() + static_cast<std::ptrdiff_t>(taken));
    answerMissing_ -= taken;
    if (answerMissing_ == 0) {
      expectingAnswer = false;
      feSeen_ = false;
      oneSeen_ = false;
      // The harness's identity is all zeros; a download takes any answer.
      const bool matches =
          std::all_of(answer_.begin(), answer_.begin() + 7, [](std::uint8_t a) { return a == 0; });
      if (download || matches) verified = true;
      answerComplete = true;
    }
    return taken;
  }

  // The download half for one byte; false when the rest of the block is dropped.
  bool DumpByte(std::uint8_t b) {
    if (lengthMissing_ > 0) {
      frameLength_ = (frameLength_ << 8) | b;
      if (--lengthMissing_ == 0 && frameLength_ > kLongestPayload) {
        Reject();
        return false;
      }
      return true;
    }
    if (b == kEtb) regionReady = true;
    if (!regionReady) return true;
    if (!inFrame) {
      if (b == kStart) {
        inFrame = true;
        frame_.clear();
        frameLength_ = 0;
        lengthMissing_ = 3;
      }
      return true;
    }
    if (b == kEnd && frame_.size() == frameLength_ + 4) {
      Judge();
      return false;
    }
    if (frame_.size() < frameLength_ + 4) {
      frame_.push_back(b);
      return true;
    }
    Reject();
    return false;
  }

  void Judge() {
    const auto payload = std::span<const std::uint8_t>(frame_).first(frameLength_);
    std::uint32_t sum = std::accumulate(payload.begin(), payload.end(), std::uint32_t{0});
    std::uint32_t given = 0;
    for (std::size_t k = frameLength_; k < frame_.size(); ++k) given = (given << 8) | frame_[k];
    bool accepted = sum == given;
    if (accepted && !payload.empty() && payload[0] == 0xF1) {
      accepted = InfoPacketHolds(payload);
    } else if (accepted && payload.size() > 12 && payload[0] == 0xF2) {
      regionData.insert(regionData.end(), payload.begin() + 12, payload.end());
    }
    if (!accepted) return Reject();
    inFrame = false;
    nakPending = false;
    enqPending = true;
  }

  // An info packet must hold its entry count and every entry it announces.
  static bool InfoPacketHolds(std::span<const std::uint8_t> payload) {
    if (payload.size() < 47) return false;
    const std::size_t entries =
        std::size_t{payload[44]} << 16 | std::size_t{payload[45]} << 8 | payload[46];
    return 47 + entries * 14 <= payload.size();
  }

  void Reject() {
    lengthMissing_ = 0;
    inFrame = false;
    enqPending = false;
    nakPending = true;
  }

  bool feSeen_ = false;
  bool oneSeen_ = false;
  std::vector<std::uint8_t> answer_;
  std::size_t answerMissing_ = 0;
  int lengthMissing_ = 0;
  std::uint32_t frameLength_ = 0;
  std::vector<std::uint8_t> frame_;
};

// The flags the model and the Transfer share, besides the mode and the target's code.
struct SharedFlag {
  bool ReceiveModel::*model;
  std::atomic<bool> transfer::TransferState::*state;
};
inline constexpr SharedFlag kSharedFlags[] = {
    {&ReceiveModel::running, &transfer::TransferState::running},
    {&ReceiveModel::cancelRequest, &transfer::TransferState::cancelRequest},
    {&ReceiveModel::ackSeen, &transfer::TransferState::ackSeen},
    {&ReceiveModel::attention, &transfer::TransferState::attention},
    {&ReceiveModel::ready, &transfer::TransferState::ready},
    {&ReceiveModel::expectingAnswer, &transfer::TransferState::expectingAnswer},
    {&ReceiveModel::verified, &transfer::TransferState::verified},
    {&ReceiveModel::answerComplete, &transfer::TransferState::answerComplete},
    {&ReceiveModel::receiving, &transfer::TransferState::receiving},
    {&ReceiveModel::regionReady, &transfer::TransferState::regionReady},
    {&ReceiveModel::inFrame, &transfer::TransferState::inFrame},
    {&ReceiveModel::enqPending, &transfer::TransferState::enqPending},
    {&ReceiveModel::nakPending, &transfer::TransferState::nakPending},
};

// Copies the model's starting flags into the Transfer's state.
inline void ApplyFlags(const ReceiveModel& model, transfer::TransferState& state) {
  state.mode = model.download ? transfer::TransferMode::kDownload : transfer::TransferMode::kUpload;
  state.targetCode = model.targetCode;
  for (const auto& flag : kSharedFlags) state.*flag.state = model.*flag.model;
}

// A model that starts where the Transfer's shared flags stand.
inline ReceiveModel ModelFromState(const transfer::TransferState& state, bool transferActive) {
  ReceiveModel model;
  model.transferActive = transferActive;
  model.download = state.mode == transfer::TransferMode::kDownload;
  model.targetCode = state.targetCode;
  for (const auto& flag : kSharedFlags) model.*flag.model = state.*flag.state;
  return model;
}

inline void CheckFlags(const ReceiveModel& model, const transfer::TransferState& state) {
  Check(state.targetCode == model.targetCode);
  for (const auto& flag : kSharedFlags) Check(state.*flag.state == model.*flag.model);
  Check(!(state.enqPending && state.nakPending));
}

// Feeds every block to both and compares the blanked blocks and the flags after each;
// returns the blanked stream. With `askAgain`, the transfer thread's who-am-I step runs
// between blocks.
inline std::vector<std::uint8_t> FeedBoth(transfer::Transfer& transfer, ReceiveModel& model,
                                          const FuzzInput& input, bool askAgain,
                                          const auto& afterBlock) {
  auto& state = transfer.State();
  std::vector<std::uint8_t> blanked;
  for (const auto& received : input.blocks) {
    std::vector<std::uint8_t> actual = received;
    std::vector<std::uint8_t> expected = received;
    transfer.ProcessReceivedBytes(actual);
    model.Process(expected);
    Check(actual == expected);
    CheckFlags(model, state);
    afterBlock();
    if (askAgain && model.AskAgainDue()) {
      model.AskAgain();
      ApplyFlags(model, state);
    }
    blanked.insert(blanked.end(), actual.begin(), actual.end());
  }
  return blanked;
}

}  // namespace tavrin::fuzz
