// An arbitrary file as an upload image: its header is read (URT and command image), then
// the frames are walked with ReadFrameAt from the first frame's offset until a frame
// error, as the packet phase would send them. Every frame given out must be exactly the
// file's bytes at that offset, start with HeaderStart, end with HeaderEnd and hold
// LEN + 9 bytes, at most 3000. Which error each kind of bad frame gives is pinned by the
// upload tests.
#include <cstddef>
#include <cstdint>
#include <span>
#include <variant>
#include <vector>

#include "fuzz_support.h"
#include "transfer/packet_frame.h"
#include "transfer/urt_file.h"

namespace {

using namespace tavrin::transfer;
using tavrin::fuzz::Check;

// Walks the frames from `offset`; at most `count` frames, as an upload sends them.
void WalkFrames(ImageFile& image, std::span<const std::uint8_t> file, std::uint64_t offset,
                std::uint32_t count) {
  for (std::uint32_t sent = 0; sent < count; ++sent) {
    auto read = image.ReadFrameAt(offset);
    Check(!std::holds_alternative<ReadFailed>(read));
    if (std::holds_alternative<FrameError>(read)) return;
    const auto& frame = std::get<std::vector<std::uint8_t>>(read);
    Check(frame.size() <= kMaxFrameSize && frame.size() >= kFrameOverhead);
    Check(frame.front() == kHeaderStart && frame.back() == kHeaderEnd);
    Check(frame.size() == ReadBigEndian(std::span(frame).subspan(1, 3)) + kFrameOverhead);
    Check(offset + frame.size() <= file.size());
    Check(
        std::equal(frame.begin(), frame.end(), file.begin() + static_cast<std::ptrdiff_t>(offset)));
    offset += frame.size();  // every frame is at least 9 bytes: the walk ends with the file
  }
}

void CheckHeaders(ImageFile& image, std::span<const std::uint8_t> file) {
  const auto lead = image.ReadAt(0, kUrtHeaderSize);
  Check(lead && lead->size() == std::min(file.size(), kUrtHeaderSize));
  if (const auto urt = ParseUrtHeader(*lead)) {
    Check(file[0] == 'B' && file[1] == 'U');
    WalkFrames(image, file, kUrtHeaderSize, urt->packetCount);
  }
  const auto commandLead = image.ReadAt(0, kCommandImageHeaderSize);
  Check(commandLead.has_value());
  if (const auto count = ParseCommandImageHeader(*commandLead)) {
    Check(file[0] == 'M' && file[1] == 'Z');
    WalkFrames(image, file, kCommandImageHeaderSize, *count);
  }
  // The frame reader on its own, from the very first byte.
  WalkFrames(image, file, 0, UINT32_MAX);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const tavrin::fuzz::ScratchDirectory dir("urt_frames_fuzz");
  const std::span<const std::uint8_t> file(data, size);
  tavrin::fuzz::WriteFile(dir.File("image.urt"), file);
  const auto image = ImageFile::Open(dir.File("image.urt"));
  Check(image != nullptr);
  CheckHeaders(*image, file);
  return 0;
}
