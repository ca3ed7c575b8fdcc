// The download side of the loader: offering regions and serving their dump frames.
#include <algorithm>
#include <array>

#include "sim/loader.h"
#include "transfer/packet_frame.h"

namespace tavrin::sim {

namespace {

using namespace transfer;  // control bytes

constexpr std::uint32_t kOversizeLength = 2992;  // one above the largest LEN a PC takes

}  // namespace

void Loader::StartRegion(std::size_t index) {
  region_ = Region{};
  region_.index = index;
  const RegionPlan& plan = region_.plan.emplace(session_.requests[index], memory_,
                                                config_.packetSize, config_.packetsPerEntry);
  if (plan.Clamped()) {
    Problem("region " + std::to_string(index + 1) + " is larger than one info packet can " +
            "describe; served cut short to " + std::to_string(plan.Size()) + " bytes");
  }
  region_.nextOfferAt = Now() + config_.regionReadyDelay;
  phase_ = Phase::kOffering;
}

void Loader::TickOffering(TimePoint now) {
  if (now < region_.nextOfferAt) return;
  if (region_.offers >= config_.regionReadyTries) {
    Problem("region " + std::to_string(region_.index + 1) + " was offered " +
            std::to_string(region_.offers) + " times and never accepted");
    phase_ = Phase::kIdle;
    return;
  }
  Write(std::array{kEtb});  // a region is ready to be sent
  ++region_.offers;
  region_.nextOfferAt = now + config_.regionReadyRepeat;
}

std::size_t Loader::TakeOffering(std::uint8_t b) {
  if (b == kAck) {
    OnRegionAccepted();
  } else if (b == kEnq) {
    Problem("ENQ before the region was accepted with ACK");
    OnRegionAccepted();
    OnEnq();
  } else if (b == kEtb) {
    Attention();  // the PC has given up the download and starts a new transfer
  } else if (b == kHeaderStart) {
    return LeaveDownload();
  } else {
    Problem("unexpected byte " + HexByte(b) + " while offering a region");
  }
  return 1;
}

void Loader::OnRegionAccepted() {
  phase_ = Phase::kServing;
  region_.lastFrameAt = Now();
}

std::size_t Loader::TakeServing(std::uint8_t b) {
  switch (b) {
    case kEnq:
      OnEnq();
      break;
    case kNak:
      OnNak();
      break;
    case kEtb:
      Attention();
      break;
    case kHeaderStart:
      return LeaveDownload();
    default:
      Problem("unexpected byte " + HexByte(b) + " while sending a region");
      break;
  }
  return 1;
}

std::size_t Loader::LeaveDownload() {
  // The PC never sends a frame during a download: it has given it up, and this is a COM
  // test frame. The byte is taken again outside the transfer.
  Problem("download of region " + std::to_string(region_.index + 1) + " given up by the PC");
  phase_ = Phase::kIdle;
  return 0;
}

void Loader::OnEnq() {
  if (!region_.frameSent) {
    SendFrame(0);
    return;
  }
  // The PC asks again after 15 s without a frame: the last one never began at its end.
  if (Now() - region_.lastFrameAt >= config_.repeatThreshold) {
    Resend();
    return;
  }
  if (region_.nextFrame > region_.plan->DataPackets()) {
    RegionDone();
    return;
  }
  SendFrame(region_.nextFrame);
}

void Loader::OnNak() {
  if (!region_.frameSent) {
    Problem("NAK before any frame of the region");
    return;
  }
  Resend();
}

void Loader::SendFrame(std::uint32_t index) {
  const RegionPlan& plan = *region_.plan;
  Bytes frame;
  if (index == 0) {
    frame = BuildFrame(plan.InfoPayload(wrongCrcPending_));
    wrongCrcPending_ = false;
  } else {
    frame = BuildFrame(plan.DataPayload(index));
  }
  if (index > 0 && !dataFaults_.empty()) {
    Write(FaultyForm(frame));
  } else {
    Write(frame);
  }
  region_.lastFrame = std::move(frame);
  region_.frameSent = true;
  region_.nextFrame = index + 1;
  region_.lastFrameAt = Now();
  region_.nudges = 0;
}

void Loader::Resend() {
  Write(region_.lastFrame);
  region_.lastFrameAt = Now();
  region_.nudges = 0;
}

Bytes Loader::FaultyForm(const Bytes& frame) {
  const Fault fault = dataFaults_.front();
  dataFaults_.pop_front();
  Bytes faulty = frame;
  switch (fault) {
    case Fault::kBadSum:
      faulty[faulty.size() - 2] ^= 0x01;  // lowest byte of the sum
      break;
    case Fault::kOversize:
      // The header alone: the PC refuses the frame as soon as it knows the length.
      faulty.assign({kHeaderStart});
      AppendBigEndian(faulty, kOversizeLength, 3);
      break;
    case Fault::kDropByte:
      faulty.erase(faulty.begin() + static_cast<std::ptrdiff_t>(faulty.size() / 2));
      break;
    case Fault::kWrongCrc:
      break;
  }
  return faulty;
}

void Loader::RegionDone() {
  journal_.RegionServed();
  if (region_.index + 1 < session_.requests.size()) {
    StartRegion(region_.index + 1);
  } else {
    phase_ = Phase::kIdle;
  }
}

void Loader::TickServing(TimePoint now) {
  if (!region_.frameSent || region_.nudges >= config_.nudgeTries) return;
  auto quietSince = std::max({region_.lastFrameAt, region_.lastNudgeAt, lastByteAt_});
  if (now - quietSince < config_.resendTimeout) return;
  const std::size_t size = region_.nudges == 0 ? 1 : region_.lastFrame.size();
  Write(Bytes(size, 0x00));
  ++region_.nudges;
  region_.lastNudgeAt = Now();
}

}  // namespace tavrin::sim
