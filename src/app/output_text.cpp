#include "app/output_text.h"

#include <algorithm>

namespace tavrin::app {
namespace {

constexpr std::uint8_t kTab = 0x09;
constexpr std::uint8_t kLf = 0x0A;
constexpr std::uint8_t kCr = 0x0D;
constexpr std::uint8_t kDel = 0x7F;
constexpr std::uint8_t kFirstPrintable = 0x20;
constexpr std::uint8_t kFirstC1 = 0x80;
constexpr std::uint8_t kLastC1 = 0x9F;
constexpr char16_t kBlank = u' ';
// A line cut for length is cut after a blank found among this many bytes before the cut.
constexpr std::size_t kCutLookBack = 64;

}  // namespace

char16_t DisplayChar(std::uint8_t byte) {
  if (byte == kTab) return u'\t';
  if (byte < kFirstPrintable || byte == kDel || (byte >= kFirstC1 && byte <= kLastC1)) {
    return kBlank;
  }
  return static_cast<char16_t>(byte);
}

OutputText::OutputText() {
  Clear();
}

void OutputText::Clear() {
  bytes_.clear();
  bytes_.shrink_to_fit();
  lineStarts_.assign(1, 0);
  lineStarts_.shrink_to_fit();
  colours_.assign(1, ColourRun{0, ColourMark::kNone});
  lastWasCr_ = false;
}

// Where a line that has grown to kMaxLineBytes before `offset` goes on: after the last
// blank among its final bytes, so a word is not cut in two, else at `offset`.
std::size_t OutputText::CutPoint(std::size_t offset) const {
  const std::size_t lineStart = lineStarts_.back();
  const std::size_t lookFrom = std::max(lineStart + 1, offset - std::min(offset, kCutLookBack));
  for (std::size_t i = offset; i-- > lookFrom;) {
    if (bytes_[i] == ' ') return i + 1;
  }
  return offset;
}

void OutputText::Append(std::span<const std::uint8_t> bytes, ColourMark colour) {
  if (bytes.empty()) return;
  if (colour != colours_.back().colour) {
    if (colours_.back().start == bytes_.size()) {
      colours_.back().colour = colour;  // the last run is empty: recolour it
      if (colours_.size() > 1 && colours_[colours_.size() - 2].colour == colour) {
        colours_.pop_back();
      }
    } else {
      colours_.push_back({bytes_.size(), colour});
    }
  }
  std::size_t offset = bytes_.size();
  bytes_.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  for (const std::uint8_t byte : bytes) {
    const bool completesCrLf = lastWasCr_ && byte == kLf;
    lastWasCr_ = byte == kCr;
    if (completesCrLf) {
      lineStarts_.back() = offset + 1;
    } else if (byte == kLf || byte == kCr) {
      lineStarts_.push_back(offset + 1);
    } else if (offset - lineStarts_.back() >= kMaxLineBytes) {
      lineStarts_.push_back(CutPoint(offset));  // shown on a new line; no break in the bytes
    }
    ++offset;
  }
}

TextRange OutputText::Line(std::size_t index) const {
  const std::size_t start = lineStarts_[index];
  if (index + 1 >= lineStarts_.size()) return {start, bytes_.size()};
  std::size_t end = lineStarts_[index + 1];
  // Take the break off: LF, CR or CR LF; a line cut for length has none.
  if (end > start && bytes_[end - 1] == static_cast<char>(kLf)) --end;
  if (end > start && bytes_[end - 1] == static_cast<char>(kCr)) --end;
  return {start, end};
}

std::size_t OutputText::LineOf(std::size_t offset) const {
  const auto after = std::upper_bound(lineStarts_.begin(), lineStarts_.end(), offset);
  return static_cast<std::size_t>(after - lineStarts_.begin()) - 1;
}

std::vector<ColourSpan> OutputText::ColoursIn(TextRange range) const {
  std::vector<ColourSpan> spans;
  auto run =
      std::upper_bound(colours_.begin(), colours_.end(), range.start,
                       [](std::size_t offset, const ColourRun& r) { return offset < r.start; });
  if (run != colours_.begin()) --run;
  for (; run != colours_.end() && run->start < range.end; ++run) {
    const std::size_t runEnd = (run + 1 != colours_.end()) ? (run + 1)->start : bytes_.size();
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
