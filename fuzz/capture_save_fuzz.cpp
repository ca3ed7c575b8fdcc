// Feeds arbitrary blocks through the capture log (append and show, Clear) and saves the
// capture, checking that the output showed exactly what was appended and that the saved
// log is the capture with NUL, XON and the attention byte blanked.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "serial/error_reporter.h"
#include "terminal/capture_log.h"
#include "terminal/output_sink.h"

namespace {

using tavrin::fuzz::Check;
using tavrin::terminal::CaptureLog;
using tavrin::terminal::ColourMark;
using tavrin::terminal::SaveOutcome;
using Bytes = std::vector<std::uint8_t>;

class CollectingOutput : public tavrin::terminal::OutputSink {
 public:
  void Show(std::span<const std::uint8_t> bytes, ColourMark) override {
    text.insert(text.end(), bytes.begin(), bytes.end());
  }
  void ClearOutput() override { text.clear(); }
  Bytes text;
};

// A failure to report would mean the harness itself is broken (it owns the directory).
class TrappingErrors : public tavrin::serial::ErrorSink {
 public:
  void ShowError(std::string) override { __builtin_trap(); }
  void EndProcess() override { __builtin_trap(); }
  void Debug(std::string_view) override {}
};

// Input: a list of operations. Op byte % 4: 0, 1, 2 append the next `length byte` bytes
// in that colour; 3 clears.
Bytes RunOperations(CaptureLog& log, std::span<const std::uint8_t> input) {
  Bytes expected;
  std::size_t at = 0;
  while (at < input.size()) {
    const std::uint8_t op = input[at++];
    if (op % 4 == 3) {
      log.Clear();
      expected.clear();
      continue;
    }
    const std::size_t length = at < input.size() ? input[at++] : 0;
    const auto block = input.subspan(at, std::min(length, input.size() - at));
    at += block.size();
    log.WriteToCapture(block, static_cast<ColourMark>(op % 4));
    expected.insert(expected.end(), block.begin(), block.end());
  }
  return expected;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const tavrin::fuzz::ScratchDirectory dir("capture_save_fuzz");
  CollectingOutput output;
  TrappingErrors errorSink;
  tavrin::serial::ErrorReporter errors(errorSink);
  CaptureLog log(dir.Path(), output, errors);
  const Bytes expected = RunOperations(log, std::span(data, size));
  Check(output.text == expected);
  Check(tavrin::fuzz::ReadFile(log.Path()) == expected);

  const auto saved = dir.File("saved.Log");
  const auto result = log.Save(saved);
  if (expected.empty()) {
    Check(result.outcome == SaveOutcome::kEmpty && !std::filesystem::exists(saved));
  } else {
    Bytes blanked = expected;
    std::ranges::replace_if(
        blanked, [](std::uint8_t b) { return b == 0 || b == 0x11 || b == 0x17; }, ' ');
    Check(result.outcome == SaveOutcome::kSaved && tavrin::fuzz::ReadFile(saved) == blanked);
  }
  log.CloseAndDelete();
  return 0;
}
