// Recording fakes of the host interfaces, shared by the suites.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "serial/error_reporter.h"
#include "terminal/output_sink.h"

namespace tavrin::test {

class RecordingErrorSink : public serial::ErrorSink {
 public:
  void ShowError(std::string text) override;
  void EndProcess() override;
  void Debug(std::string_view text) override;

  std::vector<std::string> Errors() const;
  std::vector<std::string> DebugLines() const;
  int EndProcessCalls() const;

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> errors_;
  std::vector<std::string> debug_;
  int endProcessCalls_ = 0;
};

class RecordingOutputSink : public terminal::OutputSink {
 public:
  struct Block {
    std::string bytes;
    terminal::ColourMark colour;
  };
  void Show(std::span<const std::uint8_t> bytes, terminal::ColourMark colour) override;
  void ClearOutput() override;

  std::vector<Block> Blocks() const;
  std::string Text() const;  // every block's bytes, in order

 private:
  mutable std::mutex mutex_;
  std::vector<Block> blocks_;
};

}  // namespace tavrin::test
