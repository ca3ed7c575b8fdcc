// The upload image (URT file): a 28-byte header, then packet frames back to back.
// Also the command image of a download, which has a header of its own ("MZ", big-endian
// count, frames from offset 6) and the same frames.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <variant>
#include <vector>

namespace tavrin::transfer {

constexpr std::size_t kUrtHeaderSize = 28;          // bytes before the first frame
constexpr std::size_t kCommandImageHeaderSize = 6;  // "MZ" + big-endian count
constexpr std::size_t kWhoAmIAnswerSize = 11;       // bytes after FE 01 00

// Identity bytes of the who-am-I exchange, each in file order.
struct Identity {
  std::array<std::uint8_t, 4> id1{};
  std::array<std::uint8_t, 3> id2{};
  std::array<std::uint8_t, 4> id3{};
};

struct UrtHeader {
  std::array<std::uint8_t, kUrtHeaderSize> bytes{};
  Identity identity;
  std::uint32_t packetCount = 0;  // little-endian in the file
};

// The header of a URT file read from its first 28 bytes; nullopt when the file is
// shorter or does not start with "B" "U".
std::optional<UrtHeader> ParseUrtHeader(std::span<const std::uint8_t> bytes);

// Command image header: "MZ" then the big-endian record count; nullopt otherwise.
std::optional<std::uint32_t> ParseCommandImageHeader(std::span<const std::uint8_t> bytes);

// Frame read results that end an upload.
enum class FrameError {
  kInvalidHeaderStart = -1,  // first byte not 0x02, or fewer than 4 bytes left
  kTooLarge = -2,            // more than 3000 bytes
  kInvalidHeaderEnd = -3,    // last byte not 0x03, or the frame is cut short
};

// The system could not read; nothing is decided and the same offset is read again.
struct ReadFailed {
  int error = 0;
};

using FrameReadResult = std::variant<std::vector<std::uint8_t>, FrameError, ReadFailed>;

// An open image file, read one frame at a time; a frame is held only while it is sent.
class ImageFile {
 public:
  // Opens for reading; nullptr with errno set when the file cannot be opened.
  static std::unique_ptr<ImageFile> Open(const std::filesystem::path& path);
  ~ImageFile();
  ImageFile(const ImageFile&) = delete;
  ImageFile& operator=(const ImageFile&) = delete;

  // Reads up to `count` bytes at `offset`; fewer at the end of the file; nullopt on a
  // system failure.
  std::optional<std::vector<std::uint8_t>> ReadAt(std::uint64_t offset, std::size_t count);
  // The frame at `offset` (at most 3000 bytes).
  FrameReadResult ReadFrameAt(std::uint64_t offset);

 private:
  explicit ImageFile(int fd) : fd_(fd) {}
  int fd_;
};

enum class CommandPacket { kModeCommand, kWhoAmICommand, kWhoAmIReply };

// The PC's own frames: mode command (13 bytes), who-am-I command (12), who-am-I reply
// (23: FE 01 00, Id2, Id1, Id3).
std::vector<std::uint8_t> BuildCommandPacket(CommandPacket kind, const Identity& identity = {});

// True when answer bytes 0-2 equal Id2 and bytes 3-6 equal Id1; 7-10 are not compared.
bool VerifyWhoAmIAnswer(std::span<const std::uint8_t, kWhoAmIAnswerSize> answer,
                        const Identity& identity);

// The identity a download sends back: the target's own answer (Id2 = 0-2, Id1 = 3-6,
// Id3 = 7-10).
Identity IdentityFromAnswer(std::span<const std::uint8_t, kWhoAmIAnswerSize> answer);

}  // namespace tavrin::transfer
