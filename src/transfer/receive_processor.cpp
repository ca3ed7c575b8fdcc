// The receive processor: runs on the reader thread for every block read from the port.

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <utility>

#include "transfer/packet_frame.h"
#include "transfer/transfer.h"

namespace tavrin::transfer {
namespace {

constexpr std::uint8_t kAnswerLead1 = 0xFE;  // the who-am-I answer follows FE 01 00
constexpr std::uint8_t kAnswerLead2 = 0x01;
constexpr std::uint8_t kAnswerLead3 = 0x00;
constexpr std::uint8_t kInfoPacket = 0xF1;      // first payload byte of a region's info packet
constexpr std::uint8_t kDataPacket = 0xF2;      // first payload byte of a data packet
constexpr std::size_t kDataOffset = 12;         // region data starts here in a data packet
constexpr std::size_t kSumSize = 4;             // frame sum after the payload
constexpr std::size_t kInfoSizeOffset = 24;     // region size, big-endian u32
constexpr std::size_t kInfoCountOffset = 44;    // entry count, big-endian u24
constexpr std::size_t kInfoEntriesOffset = 47;  // entries of 14 bytes
constexpr std::size_t kInfoEntrySize = 14;
constexpr std::size_t kInfoEntryPackets = 4;  // data packets of the entry

// Protocol bytes never shown in the terminal or the capture file.
bool IsBlanked(std::uint8_t b) {
  switch (b) {
    case 0x00:
    case 0x04:
    case 0x05:
    case 0x06:
    case 0x11:
    case 0x13:
    case 0x15:
    case 0x17:
    case 0x91:
    case 0x99:
      return true;
    default:
      return false;
  }
}

bool IsTargetCode(std::uint8_t b) {
  return b == kDc3 || b == kNak || b == kEot || b == kEtb;
}

}  // namespace

void Transfer::ProcessReceivedBytes(std::span<std::uint8_t> block) {
  ctx_.view.SetReceiveIndicator(true);
  bool wake = false;
  {
    std::lock_guard lock(receiveMutex_);
    std::size_t i = 0;
    while (i < block.size()) {
      // While a cancelled transfer ends, the rest is neither interpreted nor blanked.
      if (state_.cancelRequest && active_) break;
      const std::uint8_t b = block[i];
      std::size_t answerBytes = 0;
      if (state_.running) {
        const bool gathering = state_.expectingAnswer && !state_.verified;
        // The continuation of a split answer is answer bytes, whatever their values.
        if (gathering && answerMissing_ > 0) {
          const std::size_t taken = TakeAnswerBytes(block.subspan(i));
          if (answerMissing_ > 0) break;
          i += taken;
          continue;
        }
        if (b == kAck) {
          state_.ackSeen = true;
          wakeTransfer_ |= TransferState::Lower(state_.attention);
        } else if (b == kEnq && state_.ackSeen) {
          wakeTransfer_ |= TransferState::Lower(state_.attention);
          wakeTransfer_ |= TransferState::Raise(state_.ready);
        }
        if (gathering) {
          if (b == kAnswerLead1) {
            feSeen_ = true;
          } else if (feSeen_ && b == kAnswerLead2) {
            oneSeen_ = true;
          } else if (oneSeen_ && b == kAnswerLead3) {
            answerHave_ = 0;
            answerMissing_ = kWhoAmIAnswerSize;
            answerBytes = TakeAnswerBytes(block.subspan(i + 1));
          }
        }
        // A refusal counts only while the target has not asked for a frame: a 0x04 right
        // after an ENQ is line noise, not "same version".
        if (!state_.ready && IsTargetCode(b)) {
          wakeTransfer_ |= state_.targetCode.exchange(b) != b;
          wakeTransfer_ |= TransferState::Lower(state_.attention);
        }
      }
      if (state_.receiving && !DumpByte(b)) break;  // the rest of the block is dropped
      if (IsBlanked(b)) block[i] = ' ';
      i += 1 + answerBytes;
      if (answerMissing_ > 0) break;  // the answer goes on in the next block
    }
    wake = std::exchange(wakeTransfer_, false);
    frameBytesComing_ = FrameBytesStillToCome();
  }
  if (wake) state_.Notify();
  ReleaseHeldNotices();
  ctx_.view.SetReceiveIndicator(false);
}

void Transfer::ReleaseHeldNotices() {
  std::vector<HeldMessage> messages;
  std::vector<int> purgeErrors;
  {
    std::lock_guard lock(receiveMutex_);
    messages.swap(heldMessages_);
    purgeErrors.swap(heldPurgeErrors_);
  }
  for (int error : purgeErrors) {
    serial::ErrorReporter(ctx_.errors).ReportError(serial::kPurgeStep, error);
  }
  for (HeldMessage& message : messages) {
    ctx_.view.ShowMessage(std::move(message.caption), std::move(message.text), message.icon);
  }
}

// Takes answer bytes from the start of `bytes`; returns how many were taken.
std::size_t Transfer::TakeAnswerBytes(std::span<const std::uint8_t> bytes) {
  const std::size_t taken = std::min(answerMissing_, bytes.size());
  std::copy_n(bytes.begin(), taken, answer_.begin() + static_cast<std::ptrdiff_t>(answerHave_));
  answerHave_ += taken;
  answerMissing_ -= taken;
  if (answerMissing_ == 0) AnswerComplete();
  return taken;
}

// A download accepts any answer and sends it back as its reply.
void Transfer::AnswerComplete() {
  state_.expectingAnswer = false;
  feSeen_ = false;
  oneSeen_ = false;
  if (state_.mode == TransferMode::kDownload) {
    identity_ = IdentityFromAnswer(answer_);
    state_.verified = true;
  } else if (VerifyWhoAmIAnswer(answer_, identity_)) {
    state_.verified = true;
  }
  state_.answerComplete = true;
  wakeTransfer_ = true;
}

// The rest of the dump frame part-way in: its payload and sum bytes not yet stored,
// and its HeaderEnd. The receive lock is held.
std::size_t Transfer::FrameBytesStillToCome() const {
  if (!state_.receiving || !state_.inFrame || lengthBytesNeeded_ > 0) return 0;
  const std::uint32_t whole = frameLength_ + kSumSize;
  return stored_ < whole ? std::size_t{whole - stored_} + 1 : 0;
}

// One byte of a dump; false when the rest of the block is to be dropped.
bool Transfer::DumpByte(std::uint8_t b) {
  if (lengthBytesNeeded_ > 0) {  // LEN may arrive in a later block than its HeaderStart
    frameLength_ = (frameLength_ << 8) | b;
    if (--lengthBytesNeeded_ == 0 && frameLength_ > kMaxPayload) {
      RejectDumpFrame();  // a dump frame is at most 3000 bytes
      return false;
    }
    return true;
  }
  // Inside a frame it is also data; only the first one of a region wakes the transfer.
  if (b == kEtb) wakeTransfer_ |= TransferState::Raise(state_.regionReady);
  if (!state_.regionReady) return true;
  if (!state_.inFrame) {
    if (b != kHeaderStart) return true;
    BeginDumpFrame();
    return state_.inFrame;  // without its file the frame is lost, and the block with it
  }
  const std::uint32_t whole = frameLength_ + kSumSize;
  if (b == kHeaderEnd && stored_ == whole) {
    JudgeDumpFrame();
    return false;
  }
  if (stored_ < whole) {
    std::fputc(b, frameFile_);
    ++stored_;
    return true;
  }
  RejectDumpFrame();  // a byte other than HeaderEnd after the frame's bytes
  return false;
}

void Transfer::BeginDumpFrame() {
  DropDumpFrameFile();
  const auto path = TempFile("pckurt.bin");
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
  frameFile_ = fd >= 0 ? ::fdopen(fd, "w+b") : nullptr;
  if (!frameFile_) {
    if (fd >= 0) ::close(fd);
    // The frame is lost; the time-out brings a new request.
    heldMessages_.push_back(
        {kProgramCaption, "File Access Error ( Error : 0x0002 )", MessageIcon::kStop});
    return;
  }
  state_.inFrame = true;
  stored_ = 0;
  frameLength_ = 0;
  lengthBytesNeeded_ = 3;
}

void Transfer::JudgeDumpFrame() {
  std::vector<std::uint8_t> bytes(stored_);
  std::fflush(frameFile_);
  std::rewind(frameFile_);
  const bool readBack = std::fread(bytes.data(), 1, bytes.size(), frameFile_) == bytes.size();
  const auto payload = std::span<const std::uint8_t>(bytes).first(frameLength_);
  const bool good =
      readBack && FrameSum(payload) == ReadBigEndian(std::span(bytes).subspan(frameLength_));
  bool accepted = good;
  if (good && !payload.empty() && payload[0] == kInfoPacket) {
    accepted = AcceptInfoPacket(payload);
  } else if (good && !payload.empty() && payload[0] == kDataPacket &&
             payload.size() > kDataOffset) {
    StoreRegionData(payload.subspan(kDataOffset));
  }
  if (!accepted) {
    RejectDumpFrame();
    return;
  }
  DropDumpFrameFile();
  enqIsNew_ = true;
  state_.nakPending = false;
  state_.inFrame = false;
  state_.enqPending = true;
  wakeTransfer_ = true;
}

// The acknowledged-packet counter is left as it is: the ENQ after the good resend is the
// one that counts.
void Transfer::RejectDumpFrame() {
  // Here, before the NAK can go out: the target's resend must not be purged with the rest.
  const serial::DeviceResult purged = ctx_.port.PurgeReceive();
  if (!purged.ok) heldPurgeErrors_.push_back(purged.error);
  DropDumpFrameFile();
  lengthBytesNeeded_ = 0;
  state_.inFrame = false;
  state_.enqPending = false;
  state_.nakPending = true;
  wakeTransfer_ = true;
}

// Forgets a frame being received, with its file. The receive lock is held.
void Transfer::DropDumpFrame() {
  DropDumpFrameFile();
  lengthBytesNeeded_ = 0;
  state_.inFrame = false;
}

void Transfer::DropDumpFrameFile() {
  CloseDumpFrameFile();
  std::error_code ignored;
  std::filesystem::remove(TempFile("pckurt.bin"), ignored);
}

// Closes the frame's file and leaves it where it is (a cancel). The receive lock is held.
void Transfer::CloseDumpFrameFile() {
  if (frameFile_) std::fclose(frameFile_);
  frameFile_ = nullptr;
}

// Region size, expected-packet total and CRC from a good info packet; false when the
// packet is too short to hold what it announces.
bool Transfer::AcceptInfoPacket(std::span<const std::uint8_t> payload) {
  if (payload.size() < kInfoEntriesOffset) return false;
  const std::uint32_t entries = ReadBigEndian(payload.subspan(kInfoCountOffset, 3));
  const std::size_t crcOffset = kInfoEntriesOffset + entries * kInfoEntrySize;
  if (crcOffset > payload.size()) return false;
  int expected = 1;
  for (std::size_t e = 0; e < entries; ++e) {
    expected += payload[kInfoEntriesOffset + e * kInfoEntrySize + kInfoEntryPackets];
  }
  regionSize_ = ReadBigEndian(payload.subspan(kInfoSizeOffset, 4));
  regionHasCrc_ = crcOffset + 4 <= payload.size();
  if (regionHasCrc_) regionCrc_ = ReadBigEndian(payload.subspan(crcOffset, 4));
  expectedPackets_ = expected;
  return true;
}

// Appends to DumpBin.dbi, which the transfer thread keeps open for the region.
void Transfer::StoreRegionData(std::span<const std::uint8_t> data) {
  if (dumpFd_ < 0) return;
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::write(dumpFd_, data.data() + done, data.size() - done);
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  regionBytes_ += done;
}

std::filesystem::path Transfer::TempFile(const char* name) const {
  return dumpDir_ / name;
}

}  // namespace tavrin::transfer
