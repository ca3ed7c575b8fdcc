// The report blocks of transfer results, exactly as the output window shows them.
// Line ends differ between blocks on purpose: the -1 block ends its lines with a line
// feed alone.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "terminal/output_sink.h"

namespace tavrin::transfer {

// Result codes that end or mark a transfer.
namespace result {
constexpr int kInvalidHeaderStart = -1;
constexpr int kPacketTooLarge = -2;
constexpr int kInvalidHeaderEnd = -3;
constexpr int kNoResponse = -4;  // the transfer goes on
constexpr int kUploadSuccess = 1;
constexpr int kScriptUploadSuccess = 2;
constexpr int kDownloadSuccess = 3;
constexpr int kSameVersion = 4;     // target sent 0x04
constexpr int kTargetWaiting = 19;  // target sent 0x13
constexpr int kTerminated = 23;     // target sent 0x17, or the user cancelled
}  // namespace result

struct ReportBlock {
  std::string text;
  terminal::ColourMark colour;
};

// The block of `code`; nullopt for a code that has none.
std::optional<ReportBlock> ReportBlockFor(int code);

// The red warning shown when a downloaded region does not match its CRC (1-based index).
ReportBlock CrcWarningBlock(int region);
// The red warning shown when the target sends a region of another size than its command
// packet asked for (a request damaged on the line is served as the target read it).
ReportBlock RegionSizeWarningBlock(int region, std::uint32_t asked, std::uint32_t sent);

}  // namespace tavrin::transfer
