// The command image CmdUrtFile.urt asks the target for the regions of a download script:
// "M", "Z", the record count n (u32 big-endian), then one command packet per record in
// script order. A command packet is a packet frame with a 16-byte payload, 25 bytes in
// all: n (u32), MemoryType (u8), StartAddress (u32), EndAddress (u32), three zero bytes,
// every number big-endian like everything inside a frame.
//
// The Download command also keeps the HeaderData of every record, in order, in the
// header-data table; the download transfer labels each returned region with its entry.
//
// Threads: PrepareDownload runs on the user-interface thread before the transfer starts;
// the transfer thread then owns the table and reads the image (ReadCommandImageHeader).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "scripts/script_record.h"
#include "scripts/script_result.h"

namespace tavrin::scripts {

constexpr std::uint8_t kCommandImageMagic0 = 0x4D;  // "M"
constexpr std::uint8_t kCommandImageMagic1 = 0x5A;  // "Z"
constexpr std::size_t kCommandImageHeaderSize = 6;  // "MZ" + count; frames start here
constexpr std::size_t kCommandPayloadSize = 16;     // bytes of a command packet's payload
constexpr std::size_t kCommandPacketSize = 25;      // whole command packet frame

// HeaderData of every record of the DSF file chosen for a download, in record order;
// entry k - 1 labels region k. The download transfer reads and patches it.
using HeaderDataTable = std::vector<HeaderData>;

using CommandImageHeaderBytes = std::array<std::uint8_t, kCommandImageHeaderSize>;

// "MZ" and `recordCount` big-endian.
CommandImageHeaderBytes EncodeCommandImageHeader(std::uint32_t recordCount);
// The command packet asking for the region of `command`, in an image of `recordCount`
// records.
std::vector<std::uint8_t> BuildCommandPacket(const CommandData& command, std::uint32_t recordCount);

// Writes the command image of a DSF file.
class CommandImageBuilder {
 public:
  explicit CommandImageBuilder(std::filesystem::path imagePath)
      : imagePath_(std::move(imagePath)) {}

  // Creates the image (replacing an old one, never through a symbolic link), reads the
  // DSF file's records (as many as its bytes hold) and writes one packet per record.
  // Returns the header-data table of those records. On a failure the image is left
  // empty or absent, so that no image of an earlier download is sent in its place.
  Result<HeaderDataTable> Build(const std::filesystem::path& dsfPath) const;

 private:
  std::filesystem::path imagePath_;
};

// What the Download command does with the chosen DSF file before the transfer starts:
// writes CmdUrtFile.urt in `temporaryDirectory` and returns the header-data table.
// Failures (command image cannot be created, DSF file cannot be opened or read) are
// shown as the file-access error box.
Result<HeaderDataTable> PrepareDownload(const std::filesystem::path& dsfPath,
                                        const std::filesystem::path& temporaryDirectory);

// The header of a command image as the download transfer reads it: the record count,
// which is also the number of command packets (frames from kCommandImageHeaderSize on),
// of regions to wait for and the progress range.
struct CommandImageHeader {
  std::uint32_t recordCount = 0;
};

// The header in `bytes`, or nothing when they do not begin with "MZ".
std::optional<CommandImageHeader> DecodeCommandImageHeader(
    std::span<const std::uint8_t, kCommandImageHeaderSize> bytes);
// Opens the command image at `path` (not through a symbolic link) and reads its header.
// kSystemCall when it cannot be opened; kNotCommandImage when it is shorter than the
// header or does not begin with "MZ".
Result<CommandImageHeader> ReadCommandImageHeader(const std::filesystem::path& path);

}  // namespace tavrin::scripts
