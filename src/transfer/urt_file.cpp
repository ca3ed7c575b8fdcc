#include "transfer/urt_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "transfer/packet_frame.h"

namespace tavrin::transfer {
namespace {

constexpr std::uint8_t kModePayload[] = {0xFE, 0x01, 0xFD, 0x02};  // switch the loader's mode
constexpr std::uint8_t kWhoAmIPayload[] = {0xFE, 0x01, 0x00};  // who-am-I, and its answer's lead
constexpr std::size_t kFrameLeadSize = 4;                      // HeaderStart + LEN

template <std::size_t N>
std::array<std::uint8_t, N> Slice(std::span<const std::uint8_t> bytes, std::size_t offset) {
  std::array<std::uint8_t, N> out{};
  std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(offset), N, out.begin());
  return out;
}

}  // namespace

std::optional<UrtHeader> ParseUrtHeader(std::span<const std::uint8_t> bytes) {
  if (bytes.size() < kUrtHeaderSize || bytes[0] != 'B' || bytes[1] != 'U') return std::nullopt;
  UrtHeader header;
  std::copy_n(bytes.begin(), kUrtHeaderSize, header.bytes.begin());
  header.identity.id1 = Slice<4>(bytes, 12);
  header.identity.id2 = Slice<3>(bytes, 16);
  header.identity.id3 = Slice<4>(bytes, 20);
  header.packetCount =
      static_cast<std::uint32_t>(bytes[24]) | static_cast<std::uint32_t>(bytes[25]) << 8 |
      static_cast<std::uint32_t>(bytes[26]) << 16 | static_cast<std::uint32_t>(bytes[27]) << 24;
  return header;
}

std::optional<std::uint32_t> ParseCommandImageHeader(std::span<const std::uint8_t> bytes) {
  if (bytes.size() < kCommandImageHeaderSize || bytes[0] != 'M' || bytes[1] != 'Z') {
    return std::nullopt;
  }
  return ReadBigEndian(bytes.subspan(2, 4));
}

std::unique_ptr<ImageFile> ImageFile::Open(const std::filesystem::path& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  return std::unique_ptr<ImageFile>(new ImageFile(fd));
}

ImageFile::~ImageFile() {
  ::close(fd_);
}

std::optional<std::vector<std::uint8_t>> ImageFile::ReadAt(std::uint64_t offset,
                                                           std::size_t count) {
  std::vector<std::uint8_t> bytes(count);
  std::size_t got = 0;
  while (got < count) {
    const ssize_t n =
        ::pread(fd_, bytes.data() + got, count - got, static_cast<off_t>(offset + got));
    if (n < 0) {
      if (errno == EINTR) continue;
      return std::nullopt;
    }
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  bytes.resize(got);
  return bytes;
}

FrameReadResult ImageFile::ReadFrameAt(std::uint64_t offset) {
  const auto lead = ReadAt(offset, kFrameLeadSize);
  if (!lead) return ReadFailed{errno};
  // Fewer than four bytes left: the file holds fewer frames than its count says.
  if (lead->size() < kFrameLeadSize || (*lead)[0] != kHeaderStart) {
    return FrameError::kInvalidHeaderStart;
  }
  const std::size_t size = ReadBigEndian(std::span(*lead).subspan(1, 3)) + kFrameOverhead;
  if (size > kMaxFrameSize) return FrameError::kTooLarge;
  auto frame = ReadAt(offset, size);
  if (!frame) return ReadFailed{errno};
  if (frame->empty() || (*frame)[0] != kHeaderStart) return FrameError::kInvalidHeaderStart;
  // A frame cut short by the end of the file has no HeaderEnd where it should be.
  if (frame->size() < size || frame->back() != kHeaderEnd) return FrameError::kInvalidHeaderEnd;
  return std::move(*frame);
}

std::vector<std::uint8_t> BuildCommandPacket(CommandPacket kind, const Identity& identity) {
  switch (kind) {
    case CommandPacket::kModeCommand:
      return BuildFrame(kModePayload);
    case CommandPacket::kWhoAmICommand:
      return BuildFrame(kWhoAmIPayload);
    case CommandPacket::kWhoAmIReply: {
      std::vector<std::uint8_t> payload(std::begin(kWhoAmIPayload), std::end(kWhoAmIPayload));
      payload.insert(payload.end(), identity.id2.begin(), identity.id2.end());
      payload.insert(payload.end(), identity.id1.begin(), identity.id1.end());
      payload.insert(payload.end(), identity.id3.begin(), identity.id3.end());
      return BuildFrame(payload);
    }
  }
  return {};
}

bool VerifyWhoAmIAnswer(std::span<const std::uint8_t, kWhoAmIAnswerSize> answer,
                        const Identity& identity) {
  return std::equal(identity.id2.begin(), identity.id2.end(), answer.begin()) &&
         std::equal(identity.id1.begin(), identity.id1.end(), answer.begin() + 3);
}

Identity IdentityFromAnswer(std::span<const std::uint8_t, kWhoAmIAnswerSize> answer) {
  Identity identity;
  std::copy_n(answer.begin(), 3, identity.id2.begin());
  std::copy_n(answer.begin() + 3, 4, identity.id1.begin());
  std::copy_n(answer.begin() + 7, 4, identity.id3.begin());
  return identity;
}

}  // namespace tavrin::transfer
