#include "cli/run_outcome.h"

#include <algorithm>
#include <array>
#include <cinttypes>
#include <cstdio>

#include "transfer/report_texts.h"

namespace tavrin::cli {
namespace {

constexpr double kBitsPerByte = 10;  // start bit, 8 data bits, stop bit
constexpr std::string_view kHeadingMark = "==========";
constexpr std::string_view kProblemMark = "Problem : ";
constexpr std::size_t kColumns = 5;
constexpr std::string_view kColumnGap = "  ";

std::string_view Trimmed(std::string_view text) {
  const auto first = text.find_first_not_of(" \t\r\n<=>");
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(" \t\r\n<=>");
  return text.substr(first, last - first + 1);
}

// The text between the block's "<==========" and "==========>".
std::string_view Heading(std::string_view block) {
  const auto open = block.find(kHeadingMark);
  if (open == std::string_view::npos) return {};
  const auto close = block.find(kHeadingMark, open + kHeadingMark.size());
  if (close == std::string_view::npos) return {};
  return Trimmed(block.substr(open, close - open));
}

// The block's problem line, without its label and line end.
std::string_view Problem(std::string_view block) {
  const auto at = block.find(kProblemMark);
  if (at == std::string_view::npos) return {};
  const auto begin = at + kProblemMark.size();
  const auto end = block.find_first_of("\r\n", begin);
  return Trimmed(block.substr(begin, end == std::string_view::npos ? end : end - begin));
}

std::string Format(const char* format, double value) {
  std::array<char, 32> text{};
  std::snprintf(text.data(), text.size(), format, value);
  return text.data();
}

}  // namespace

double PortOutcome::LineEfficiency() const {
  if (seconds <= 0 || baud == 0) return 0;
  return static_cast<double>(bytes) / (seconds * baud / kBitsPerByte);
}

std::string ResultText(int code) {
  const auto block = transfer::ReportBlockFor(code);
  if (!block) return {};
  std::string text(Heading(block->text));
  const auto problem = Problem(block->text);
  if (!problem.empty()) text += ": " + std::string(problem);
  return text;
}

int CombinedStatus(std::span<const PortOutcome> outcomes) {
  int status = 0;
  for (const auto& outcome : outcomes) status = std::max(status, outcome.status);
  return status;
}

std::string SummaryTable(std::span<const PortOutcome> outcomes) {
  using Row = std::array<std::string, kColumns>;
  std::vector<Row> rows{{"PORT", "STATUS", "RESULT", "SECONDS", "BYTES/S"}};
  for (const auto& outcome : outcomes) {
    rows.push_back({outcome.port, std::to_string(outcome.status), outcome.result,
                    Format("%.2f", outcome.seconds), Format("%.0f", outcome.BytesPerSecond())});
  }
  std::array<std::size_t, kColumns> widths{};
  for (const auto& row : rows) {
    for (std::size_t c = 0; c < kColumns; ++c) widths[c] = std::max(widths[c], row[c].size());
  }
  std::string table;
  for (const auto& row : rows) {
    std::string line;
    for (std::size_t c = 0; c < kColumns; ++c) {
      if (c > 0) line += kColumnGap;
      // Numbers to the right, words to the left; the last column needs no padding after.
      const std::size_t pad = widths[c] - row[c].size();
      const bool number = c == 1 || c >= 3;
      if (number) line.append(pad, ' ');
      line += row[c];
      if (!number && c + 1 < kColumns) line.append(pad, ' ');
    }
    table += line + "\n";
  }
  return table;
}

std::string ProgressText(const Progress& progress) {
  std::array<char, 128> line{};
  const double rate = progress.BytesPerSecond();
  switch (progress.phase) {
    case Progress::Phase::kWaiting:
      return "waiting for the target";
    case Progress::Phase::kFrames: {
      const double framesPerSecond =
          progress.seconds > 0 ? progress.framesSent / progress.seconds : 0;
      const double eta =
          framesPerSecond > 0 ? (progress.framesTotal - progress.framesSent) / framesPerSecond : 0;
      std::snprintf(line.data(), line.size(), "frames %u/%u  %.0f bytes/s  ETA %.0f s",
                    progress.framesSent, progress.framesTotal, rate, eta);
      break;
    }
    case Progress::Phase::kRegion:
      std::snprintf(line.data(), line.size(), "region %d  %" PRIu64 " bytes  %.0f bytes/s",
                    progress.region, progress.regionBytes, rate);
      break;
    case Progress::Phase::kEnded:
      std::snprintf(line.data(), line.size(), "ended  %" PRIu64 " bytes  %.0f bytes/s",
                    progress.bytes, rate);
      break;
  }
  return line.data();
}

std::string RegionList(std::span<const int> regions) {
  std::string text;
  for (const int region : regions) {
    if (!text.empty()) text += ", ";
    text += std::to_string(region);
  }
  return text;
}

}  // namespace tavrin::cli
