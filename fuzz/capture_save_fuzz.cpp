// Feeds arbitrary blocks through the capture log (append and show, Clear) and saves the
// capture, checking that the output showed exactly what was appended and that the saved
// log is the capture with NUL, XON and the attention byte blanked.
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <span>
#include <string>

#include "serial/error_reporter.h"
#include "terminal/capture_log.h"
#include "terminal/output_sink.h"

namespace {

using tavrin::terminal::CaptureLog;
using tavrin::terminal::ColourMark;
using tavrin::terminal::SaveOutcome;

class CollectingOutput : public tavrin::terminal::OutputSink {
 public:
  void Show(std::span<const std::uint8_t> bytes, ColourMark) override {
    text_.append(bytes.begin(), bytes.end());
  }
  void ClearOutput() override { text_.clear(); }
  const std::string& Text() const { return text_; }

 private:
  std::string text_;
};

// A failure to report would mean the harness itself is broken (it owns the directory).
class TrappingErrors : public tavrin::serial::ErrorSink {
 public:
  void ShowError(std::string) override { __builtin_trap(); }
  void EndProcess() override { __builtin_trap(); }
  void Debug(std::string_view) override {}
};

std::string ReadAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string Blanked(std::string text) {
  for (char& c : text) {
    if (c == '\0' || c == '\x11' || c == '\x17') c = ' ';
  }
  return text;
}

// Input: a list of operations. Op byte % 4: 0, 1, 2 append the next `length byte` bytes
// in that colour; 3 clears.
std::string RunOperations(CaptureLog& log, std::span<const std::uint8_t> input) {
  std::string expected;
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
    expected.append(block.begin(), block.end());
  }
  return expected;
}

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string pattern = (std::filesystem::temp_directory_path() / "capture_fuzz_XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) return 0;
  const std::filesystem::path dir(pattern);
  {
    CollectingOutput output;
    TrappingErrors errorSink;
    tavrin::serial::ErrorReporter errors(errorSink);
    CaptureLog log(dir, output, errors);
    const std::string expected = RunOperations(log, std::span(data, size));
    Check(output.Text() == expected);
    Check(ReadAll(log.Path()) == expected);

    const std::filesystem::path saved = dir / "saved.Log";
    const auto result = log.Save(saved);
    if (expected.empty()) {
      Check(result.outcome == SaveOutcome::kEmpty && !std::filesystem::exists(saved));
    } else {
      Check(result.outcome == SaveOutcome::kSaved && ReadAll(saved) == Blanked(expected));
    }
    log.CloseAndDelete();
  }
  std::filesystem::remove_all(dir);
  return 0;
}
