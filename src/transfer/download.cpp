// The receive phase of a download: region by region, the target's dump frames are
// gathered into DumpBin.dbi and the regions assembled into zvqDumpBIN.fdb.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "transfer/crc32.h"
#include "transfer/packet_frame.h"
#include "transfer/report_texts.h"
#include "transfer/transfer.h"

namespace tavrin::transfer {
namespace {

using std::chrono::milliseconds;

constexpr milliseconds kRegionPollPeriod{800};  // waiting for the target's region
constexpr milliseconds kFramePollPeriod{100};   // waiting for a frame to be judged
constexpr milliseconds kAnswerPollPeriod{100};  // waiting for the save question's answer
constexpr std::size_t kCopyChunk = 64 * 1024;   // bytes moved at a time into the DBF
// A command packet: HeaderStart, LEN 16, then count (4), memory type (1), start address (4),
// end address (4), three zeros, the sum and HeaderEnd.
constexpr std::size_t kCommandPacketSize = 25;
constexpr std::size_t kStartAddressAt = 9;  // big-endian u32
constexpr std::size_t kEndAddressAt = 13;   // big-endian u32

constexpr const char* kDumpFile = "DumpBin.dbi";
constexpr const char* kFrameFile = "pckurt.bin";
constexpr const char* kResultFile = "zvqDumpBIN.fdb";

// Creates (or truncates) a file without following a link planted in its place.
int CreateEmpty(const std::filesystem::path& path) {
  return ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
}

bool WriteAll(int fd, std::span<const std::uint8_t> bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// The size of the region a command packet asks for: EndAddress - StartAddress, nothing
// for an end below the start. nullopt for a frame that is not a command packet.
std::optional<std::uint32_t> AskedRegionSize(std::span<const std::uint8_t> frame) {
  if (frame.size() != kCommandPacketSize) return std::nullopt;
  const std::uint32_t start = ReadBigEndian(frame.subspan(kStartAddressAt, 4));
  const std::uint32_t end = ReadBigEndian(frame.subspan(kEndAddressAt, 4));
  return end > start ? end - start : 0;
}

}  // namespace

HeaderDataBytes BlockHeader(HeaderDataBytes header, std::uint64_t endOffset) {
  header[2] = 0xFF;
  header[3] = 0xFF;
  header[11] = 0xFF;
  for (std::size_t i = 0; i < 4; ++i) {
    header[12 + i] = static_cast<std::uint8_t>(endOffset >> (8 * i));
  }
  return header;
}

// Transfer thread, for each command packet written: what its region must come with.
void Transfer::NoteRegionAsked(std::span<const std::uint8_t> commandPacket) {
  regionsAsked_.push_back(AskedRegionSize(commandPacket));
}

void Transfer::ReceivePhase() {
  {
    std::lock_guard lock(receiveMutex_);
    dumpDir_ = plan_.tempDir;
  }
  // The result file starts empty: a script without records downloads as an empty file.
  const int result = CreateEmpty(TempFile(kResultFile));
  if (result >= 0) ::close(result);
  state_.receiving = true;
  ctx_.view.ShowProgressBar(true);
  ctx_.view.SetProgressRange(packetCount_);
  ctx_.view.SetProgressPosition(0);
  anyRegionBad_ = false;
  for (std::uint32_t region = 1; region <= packetCount_; ++region) {
    const Outcome outcome = ReceiveRegion(region);
    if (outcome == Outcome::kCancelled) return EndDownloadCancelled();
    if (outcome == Outcome::kFailed) return EndDownloadFailed();
    ctx_.view.StepProgress();
  }
  EndDownload();
}

Transfer::Outcome Transfer::ReceiveRegion(std::size_t regionIndex) {
  if (state_.cancelRequest) return Outcome::kCancelled;
  regionIndex_ = static_cast<int>(regionIndex);
  ctx_.view.SetProgressRange(100);
  ctx_.view.SetProgressPosition(0);
  acknowledged_ = -1;
  lastRequestWasEnq_ = true;
  {
    // The region's figures are cleared before the receive processor takes frames for it.
    std::lock_guard lock(receiveMutex_);
    expectedPackets_ = 0;
    regionSize_ = 0;
    regionHasCrc_ = false;
    regionBytes_ = 0;
    enqIsNew_ = true;
    state_.enqPending = true;
    state_.receiving = true;
    state_.nakPending = false;
    state_.regionReady = false;
    DropDumpFrame();
  }

  const int dump = CreateEmpty(TempFile(kDumpFile));
  if (dump < 0) {
    ctx_.view.ShowMessage("StaticDatabase",
                          "Terminated Receiving. Unable to continue \n Cancel and close the "
                          "Application and Retry !!!",
                          MessageIcon::kStop);
    return Outcome::kFailed;
  }
  {
    // Kept open for the region: the receive processor appends each data packet to it.
    std::lock_guard lock(receiveMutex_);
    dumpFd_ = dump;
  }

  while (!WaitUntil(kRegionPollPeriod,
                    [this] { return state_.regionReady || state_.cancelRequest; })) {
  }
  if (state_.cancelRequest) {
    CloseDumpFile();
    return Outcome::kCancelled;
  }

  constexpr std::uint8_t kAccept[] = {kAck};
  WriteBytes(kAccept);
  PurgeReceive();
  NoteDeadline();
  const Outcome outcome = FrameLoop();
  CloseDumpFile();
  if (outcome != Outcome::kGoOn) return outcome;

  ctx_.view.SetProgressPosition(100);
  {
    std::lock_guard lock(receiveMutex_);
    state_.receiving = false;
    state_.regionReady = false;
    DropDumpFrame();  // a frame begun after the region's last ENQ is not the region's
  }
  CheckAndStoreRegion(regionIndex);
  return Outcome::kGoOn;
}

void Transfer::CloseDumpFile() {
  std::lock_guard lock(receiveMutex_);
  if (dumpFd_ >= 0) ::close(dumpFd_);
  dumpFd_ = -1;
}

// Asks for frames (ENQ for the next, NAK for the same again) until the ENQ after the
// region's last data packet. A request repeated at the time-out asks again for the same
// frame and is not counted.
Transfer::Outcome Transfer::FrameLoop() {
  while (true) {
    WaitWhilePaused();
    if (state_.cancelRequest) return Outcome::kCancelled;
    bool sendEnq = false;
    bool sendNak = false;
    bool counted = false;
    {
      std::lock_guard lock(receiveMutex_);
      if (state_.enqPending) {
        sendEnq = true;
        counted = enqIsNew_;
        state_.enqPending = false;
      } else if (state_.nakPending) {
        sendNak = true;
        state_.nakPending = false;
      } else if (!state_.inFrame && DeadlineDue()) {
        enqIsNew_ = false;
        state_.enqPending = lastRequestWasEnq_;
        state_.nakPending = !lastRequestWasEnq_;
        continue;
      }
    }
    if (sendEnq) {
      const int expected = expectedPackets_;
      ctx_.view.SetProgressPosition(acknowledged_ > 0 && expected > 0
                                        ? static_cast<std::uint32_t>(acknowledged_ * 100 / expected)
                                        : 0);
      ctx_.view.RegionProgress(regionIndex_, regionBytes_);
      PurgeReceive();  // stale bytes must not start a frame
      constexpr std::uint8_t kNext[] = {kEnq};
      WriteBytes(kNext);
      if (counted) ++acknowledged_;
      lastRequestWasEnq_ = true;
      NoteDeadline();
      if (acknowledged_ == expectedPackets_ && acknowledged_ != 0) return Outcome::kGoOn;
    } else if (sendNak) {
      PurgeReceive();
      constexpr std::uint8_t kAgain[] = {kNak};
      WriteBytes(kAgain);
      NoteDeadline();
      lastRequestWasEnq_ = false;
    } else {
      WaitUntil(kFramePollPeriod, [this] {
        return state_.enqPending || state_.nakPending || state_.cancelRequest || state_.pause;
      });
    }
  }
}

// Stores the region and names it when it is not what was asked for: a size other than
// its command packet asked for (the target read a request damaged on the line), or data
// that do not match the CRC the target gave. Either way the region is saved as it came.
void Transfer::CheckAndStoreRegion(std::size_t regionIndex) {
  bool good = RegionSizeAsAsked(regionIndex);
  if (regionSize_ > 0) good = AppendRegionToDbf(regionIndex) && good;
  if (!good) {
    anyRegionBad_ = true;
    ctx_.view.RegionCrcMismatch(static_cast<int>(regionIndex));
  }
}

// False, after the warning, when the info packet's region size is not the size asked for:
// EndAddress - StartAddress, or one more from a loader that takes the end as inclusive.
bool Transfer::RegionSizeAsAsked(std::size_t regionIndex) {
  if (regionIndex > regionsAsked_.size() || !regionsAsked_[regionIndex - 1]) return true;
  const std::uint32_t asked = *regionsAsked_[regionIndex - 1];
  const std::uint32_t sent = regionSize_;
  if (sent == asked || std::uint64_t{sent} == std::uint64_t{asked} + 1) return true;
  const auto warning = RegionSizeWarningBlock(static_cast<int>(regionIndex), asked, sent);
  ShowBlock(warning.text, warning.colour);
  return false;
}

// Appends the region as one block: its header (the first block written always, a later
// one only when its PartitionId is not 0), then region-size bytes of data. The file
// starts empty and an empty region writes nothing, so the first block is the one that
// finds the file empty, whichever region it comes from. A DumpBin.dbi shorter than the
// region leaves zeros in the rest of the block. False, after the warning, when the data
// do not match the region's CRC.
bool Transfer::AppendRegionToDbf(std::size_t regionIndex) {
  const std::uint32_t size = regionSize_;
  const HeaderDataBytes entry = regionIndex <= plan_.headerData.size()
                                    ? plan_.headerData[regionIndex - 1]
                                    : HeaderDataBytes{};
  const int out = ::open(TempFile(kResultFile).c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC);
  const int in = ::open(TempFile(kDumpFile).c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  bool crcMatches = !regionHasCrc_;
  std::optional<std::uint64_t> dataOffset;
  if (out >= 0 && in >= 0) {
    struct stat st {};
    ::fstat(out, &st);
    std::uint64_t offset = static_cast<std::uint64_t>(st.st_size);
    ::lseek(out, 0, SEEK_END);
    if (offset == 0 || entry[0] != 0) {
      const auto header = BlockHeader(entry, offset + kBlockHeaderSize + size);
      WriteAll(out, header);
      offset += kBlockHeaderSize;
    }
    dataOffset = offset;
    Crc32Mpeg2 crc;
    std::vector<std::uint8_t> chunk(kCopyChunk);
    std::uint64_t copied = 0;
    while (copied < size) {
      const std::size_t want =
          static_cast<std::size_t>(std::min<std::uint64_t>(kCopyChunk, size - copied));
      const ssize_t n = ::read(in, chunk.data(), want);
      if (n <= 0) break;
      const auto got = std::span<const std::uint8_t>(chunk).first(static_cast<std::size_t>(n));
      crc.Update(got);
      if (!WriteAll(out, got)) break;
      copied += got.size();
    }
    if (copied < size) {
      // Zeros for what the target did not send: extend the file, then account for them.
      if (::ftruncate(out, static_cast<off_t>(offset + size)) == 0) crc.UpdateZeros(size - copied);
    }
    if (regionHasCrc_) crcMatches = crc.Value() == regionCrc_;
  }
  if (out >= 0) ::close(out);
  if (in >= 0) ::close(in);
  if (!crcMatches) {
    const auto warning = CrcWarningBlock(static_cast<int>(regionIndex));
    ShowBlock(warning.text, warning.colour);
  }
  if (dataOffset) ctx_.view.RegionStored(static_cast<int>(regionIndex), *dataOffset, size);
  return crcMatches;
}

void Transfer::EndDownload() {
  ReportResult(result::kDownloadSuccess);
  CloseDownload();
  SaveDownload();
}

void Transfer::SaveDownload() {
  const auto target = AskSavePath();
  if (target) {
    std::error_code error;
    std::filesystem::copy_file(TempFile(kResultFile), *target,
                               std::filesystem::copy_options::overwrite_existing, error);
    if (error) {
      ctx_.view.ShowMessage(kProgramCaption, kFileAccessError, MessageIcon::kStop);
    } else {
      ctx_.view.ShowMessage(
          kProgramCaption,
          "Downloading process successfully completed.\n And saved as " + target->string(),
          MessageIcon::kInformation);
    }
  }
  ctx_.view.HideProgressLabel();
}

// Asks the view for the path and waits for its answer, or for a Cancel (the operator
// disconnects or closes the window while the question is still to be shown): then
// nothing is saved, as when the dialog is cancelled.
std::optional<std::filesystem::path> Transfer::AskSavePath() {
  const auto slot = std::make_shared<DownloadSaveQuestion::Slot>([this] { state_.Notify(); });
  ctx_.view.AskDownloadSavePath(DownloadSaveQuestion(slot));
  while (!WaitUntil(kAnswerPollPeriod,
                    [this, &slot] { return slot->Answered() || state_.cancelRequest; })) {
  }
  return slot->Close();
}

// Cancelled: report 23; the temporary files stay where they are and nothing is saved.
void Transfer::EndDownloadCancelled() {
  ReportResult(result::kTerminated);
  state_.mode = TransferMode::kUpload;
  {
    // The frame being received is forgotten; its file stays with the others.
    std::lock_guard lock(receiveMutex_);
    state_.receiving = false;
    CloseDumpFrameFile();
    lengthBytesNeeded_ = 0;
    state_.inFrame = false;
  }
  ctx_.view.SetFileName({});
  ctx_.view.RefreshTransferState();
}

// DumpBin.dbi could not be made: the clean-up of the end, without report or saving.
void Transfer::EndDownloadFailed() {
  CloseDownload();
  ctx_.view.HideProgressLabel();
}

// The working files of the last frame and region go; zvqDumpBIN.fdb stays for the save.
void Transfer::CloseDownload() {
  std::error_code ignored;
  std::filesystem::remove(TempFile(kFrameFile), ignored);
  ctx_.view.ShowProgressBar(false);
  state_.receiving = false;
  state_.mode = TransferMode::kUpload;
  ctx_.view.TransferControlsIdle();
  ctx_.view.RefreshTransferState();
  ctx_.view.SetFileName({});
  std::filesystem::remove(TempFile(kDumpFile), ignored);
}

}  // namespace tavrin::transfer
