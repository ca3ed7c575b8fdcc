#include "app/output_text.h"

#include <algorithm>

namespace tavrin::app {
namespace {

constexpr std::uint8_t kTab = 0x09;
constexpr std::uint8_t kDel = 0x7F;
constexpr std::uint8_t kFirstPrintable = 0x20;
constexpr std::uint8_t kFirstC1 = 0x80;
constexpr std::uint8_t kLastC1 = 0x9F;
constexpr char16_t kBlank = u' ';
// The file is read in pieces of this size to index new text and to find a block's lines.
constexpr std::size_t kReadChunk = 64 * 1024;
// Blocks of lines kept after they were read (each kLinesPerBlock ranges).
constexpr std::size_t kCachedBlocks = 16;
// The end of the last line, which is open.
constexpr std::size_t kOpenEnd = SIZE_MAX;

}  // namespace

char16_t DisplayChar(std::uint8_t byte) {
  if (byte == kTab) return u'\t';
  if (byte < kFirstPrintable || byte == kDel || (byte >= kFirstC1 && byte <= kLastC1)) {
    return kBlank;
  }
  return static_cast<char16_t>(byte);
}

// Where a line that has grown to kMaxLineBytes before `offset` goes on: after the last
// blank among its final bytes, so a word is not cut in two, else at `offset`.
std::size_t LineScanner::CutPoint(std::size_t offset) const {
  const std::size_t lookFrom = std::max(lineStart_ + 1, offset - std::min(offset, kCutLookBack));
  if (lastBlank_ != kNoBlank && lastBlank_ >= lookFrom) return lastBlank_ + 1;
  return offset;
}

OutputText::OutputText() {
  Clear();
}

void OutputText::SetFile(std::shared_ptr<const CaptureReader> file) {
  file_ = std::move(file);
  Clear();
}

void OutputText::Clear() {
  size_ = 0;
  ++generation_;
  scanner_ = LineScanner();
  checkpoints_.assign(1, 0);
  checkpoints_.shrink_to_fit();
  tail_.assign(1, TextRange{0, kOpenEnd});
  colours_.assign(1, ColourRun{0, ColourMark::kNone});
  colours_.shrink_to_fit();
  cache_.clear();
}

void OutputText::AppendColour(ColourMark colour) {
  if (colour == colours_.back().colour) return;
  if (colours_.back().start == size_) {
    colours_.back().colour = colour;  // the last run is empty: recolour it
    if (colours_.size() > 1 && colours_[colours_.size() - 2].colour == colour) colours_.pop_back();
  } else {
    colours_.push_back({size_, colour});
  }
}

// A new line begins: the last one of its block, or the first of a new block.
void OutputText::StartLine(std::size_t start) {
  if (tail_.size() == kLinesPerBlock) {
    checkpoints_.push_back(start);
    tail_.clear();
  }
  tail_.push_back({start, kOpenEnd});
}

void OutputText::Append(std::size_t length, ColourMark colour) {
  if (length == 0) return;
  AppendColour(colour);
  std::vector<std::uint8_t> chunk(std::min(length, kReadChunk));
  const auto onBreak = [this](std::size_t end, std::size_t next) {
    tail_.back().end = end;
    StartLine(next);
  };
  const auto onMove = [this](std::size_t next) {
    tail_.back().start = next;
    if (tail_.size() == 1) checkpoints_.back() = next;
  };
  while (length > 0) {
    const std::span<std::uint8_t> piece = std::span(chunk).first(std::min(length, chunk.size()));
    const std::size_t read = file_ ? file_->ReadAt(piece, size_) : 0;
    std::fill(piece.begin() + static_cast<std::ptrdiff_t>(read), piece.end(), std::uint8_t{0});
    scanner_.Feed(piece, size_, onBreak, onMove);
    size_ += piece.size();
    length -= piece.size();
  }
}

std::size_t OutputText::ReadAt(std::span<std::uint8_t> into, std::size_t offset) const {
  if (offset >= size_) return 0;
  into = into.first(std::min(into.size(), size_ - offset));
  const std::size_t read = file_ ? file_->ReadAt(into, offset) : 0;
  std::fill(into.begin() + static_cast<std::ptrdiff_t>(read), into.end(), std::uint8_t{0});
  return into.size();
}

std::string OutputText::Read(TextRange range) const {
  range.end = std::min(range.end, size_);
  if (range.start >= range.end) return {};
  std::string bytes(range.Length(), '\0');
  ReadAt(std::span(reinterpret_cast<std::uint8_t*>(bytes.data()), bytes.size()), range.start);
  return bytes;
}

// Finds the lines of an earlier block again from the file: the same scan as when the text
// came, from the block's first line, which is where a line began then.
OutputText::Block OutputText::ReadBlock(std::size_t block) const {
  Block lines;
  lines.reserve(kLinesPerBlock);
  const std::size_t first = checkpoints_[block];
  // The lines of a block end before the next block's first line, and the scan needs at
  // most one line more to see the last of them end.
  const std::size_t limit = std::min(size_, checkpoints_[block + 1] + kMaxLineBytes + 2);
  LineScanner scanner(first);
  lines.push_back({first, kOpenEnd});
  const auto onBreak = [&lines](std::size_t end, std::size_t next) {
    lines.back().end = end;
    lines.push_back({next, kOpenEnd});
  };
  const auto onMove = [&lines](std::size_t next) { lines.back().start = next; };
  std::vector<std::uint8_t> chunk(kReadChunk);
  for (std::size_t offset = first; offset < limit && lines.size() <= kLinesPerBlock;) {
    const std::span<std::uint8_t> piece = std::span(chunk).first(
        ReadAt(std::span(chunk).first(std::min(chunk.size(), limit - offset)), offset));
    if (piece.empty()) break;
    scanner.Feed(piece, offset, onBreak, onMove);
    offset += piece.size();
  }
  // Only a file that changed under the log could end the scan early; its lines then end
  // where the next block begins.
  while (lines.size() <= kLinesPerBlock) lines.push_back({checkpoints_[block + 1], kOpenEnd});
  lines.resize(kLinesPerBlock);
  for (TextRange& line : lines) {
    line.end = std::min(line.end, checkpoints_[block + 1]);
  }
  return lines;
}

const OutputText::Block& OutputText::BlockOf(std::size_t block) const {
  if (block + 1 == checkpoints_.size()) return tail_;
  ++uses_;
  for (CachedBlock& cached : cache_) {
    if (cached.index == block) {
      cached.lastUse = uses_;
      return cached.lines;
    }
  }
  if (cache_.size() >= kCachedBlocks) {
    const auto oldest =
        std::min_element(cache_.begin(), cache_.end(),
                         [](const auto& a, const auto& b) { return a.lastUse < b.lastUse; });
    cache_.erase(oldest);
  }
  cache_.push_back({block, uses_, ReadBlock(block)});
  return cache_.back().lines;
}

TextRange OutputText::Line(std::size_t index) const {
  const TextRange line = BlockOf(index / kLinesPerBlock)[index % kLinesPerBlock];
  return {line.start, std::min(line.end, size_)};
}

std::size_t OutputText::LineOf(std::size_t offset) const {
  const auto after = std::upper_bound(checkpoints_.begin(), checkpoints_.end(), offset);
  const auto block =
      static_cast<std::size_t>(std::max<std::ptrdiff_t>(0, after - checkpoints_.begin() - 1));
  const Block& lines = BlockOf(block);
  const auto line = std::upper_bound(lines.begin(), lines.end(), offset,
                                     [](std::size_t o, const TextRange& l) { return o < l.start; });
  const auto inBlock =
      static_cast<std::size_t>(std::max<std::ptrdiff_t>(0, line - lines.begin() - 1));
  return block * kLinesPerBlock + inBlock;
}

std::vector<ColourSpan> OutputText::ColoursIn(TextRange range) const {
  std::vector<ColourSpan> spans;
  auto run =
      std::upper_bound(colours_.begin(), colours_.end(), range.start,
                       [](std::size_t offset, const ColourRun& r) { return offset < r.start; });
  if (run != colours_.begin()) --run;
  for (; run != colours_.end() && run->start < range.end; ++run) {
    const std::size_t runEnd = (run + 1 != colours_.end()) ? (run + 1)->start : size_;
    const TextRange cut{std::max(run->start, range.start), std::min(runEnd, range.end)};
    if (run->colour != ColourMark::kNone && cut.start < cut.end)
      spans.push_back({cut, run->colour});
  }
  return spans;
}

ColourMark OutputText::ColourAt(std::size_t offset) const {
  const auto spans = ColoursIn({offset, offset + 1});
  return spans.empty() ? ColourMark::kNone : spans.front().colour;
}

}  // namespace tavrin::app
