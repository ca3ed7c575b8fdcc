#include "scripts/command_image.h"

#include "scripts/dsf_file.h"
#include "scripts/script_file_io.h"
#include "scripts/temporary_paths.h"
#include "transfer/packet_frame.h"

namespace tavrin::scripts {
namespace {

constexpr std::size_t kPacketPadding = 3;  // zero bytes ending the payload

Status WritePackets(int image, DsfReader& reader, HeaderDataTable& table) {
  constexpr std::string_view kStep = "write command image";
  if (Status header = WriteFully(image, EncodeCommandImageHeader(reader.RecordCount()), kStep);
      !header) {
    return header;
  }
  for (std::uint32_t i = 0; i < reader.RecordCount(); ++i) {
    Result<ScriptRecord> record = reader.ReadNext();
    if (!record) return record.Error();
    if (Status packet =
            WriteFully(image, BuildCommandPacket(record->command, reader.RecordCount()), kStep);
        !packet) {
      return packet;
    }
    table.push_back(record->header);
  }
  return Ok();
}

}  // namespace

CommandImageHeaderBytes EncodeCommandImageHeader(std::uint32_t recordCount) {
  return {kCommandImageMagic0,
          kCommandImageMagic1,
          static_cast<std::uint8_t>(recordCount >> 24),
          static_cast<std::uint8_t>(recordCount >> 16),
          static_cast<std::uint8_t>(recordCount >> 8),
          static_cast<std::uint8_t>(recordCount)};
}

std::vector<std::uint8_t> BuildCommandPacket(const CommandData& command,
                                             std::uint32_t recordCount) {
  std::vector<std::uint8_t> payload;
  payload.reserve(kCommandPayloadSize);
  transfer::AppendBigEndian(payload, recordCount, 4);
  payload.push_back(command.memoryType);
  transfer::AppendBigEndian(payload, command.startAddress, 4);
  transfer::AppendBigEndian(payload, command.endAddress, 4);
  payload.insert(payload.end(), kPacketPadding, std::uint8_t{0});
  return transfer::BuildFrame(payload);
}

Result<HeaderDataTable> CommandImageBuilder::Build(const std::filesystem::path& dsfPath) const {
  Result<UniqueFd> image =
      OpenTemporaryFile(imagePath_, TemporaryOpen::kCreateTruncated, "create command image");
  if (!image) {
    (void)RemoveFile(imagePath_, "create command image");
    return image.Error();
  }
  Result<DsfReader> reader = DsfReader::Open(dsfPath);
  if (!reader) return reader.Error();
  HeaderDataTable table;
  if (Status written = WritePackets(image->Get(), *reader, table); !written) {
    (void)TruncateFile(image->Get(), 0, "write command image");
    return written.Error();
  }
  return table;
}

Result<HeaderDataTable> PrepareDownload(const std::filesystem::path& dsfPath,
                                        const std::filesystem::path& temporaryDirectory) {
  return CommandImageBuilder{TemporaryPaths::In(temporaryDirectory).commandImage}.Build(dsfPath);
}

std::optional<CommandImageHeader> DecodeCommandImageHeader(
    std::span<const std::uint8_t, kCommandImageHeaderSize> bytes) {
  if (bytes[0] != kCommandImageMagic0 || bytes[1] != kCommandImageMagic1) return std::nullopt;
  return CommandImageHeader{transfer::ReadBigEndian(bytes.subspan<2, 4>())};
}

Result<CommandImageHeader> ReadCommandImageHeader(const std::filesystem::path& path) {
  constexpr std::string_view kStep = "read command image header";
  Result<UniqueFd> image = OpenTemporaryFile(path, TemporaryOpen::kRead, kStep);
  if (!image) return image.Error();
  CommandImageHeaderBytes bytes{};
  Status read = ReadFully(image->Get(), bytes, kStep);
  if (!read && read.Error().fault == FileFault::kSystemCall) return read.Error();
  // Shorter than "MZ" and the count, or another magic: not a command image.
  const std::optional<CommandImageHeader> header =
      read ? DecodeCommandImageHeader(bytes) : std::nullopt;
  if (!header) return FileError{FileFault::kNotCommandImage, kStep, 0};
  return *header;
}

}  // namespace tavrin::scripts
