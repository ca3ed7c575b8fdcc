#include "support/recorders.h"

namespace tavrin::test {

void RecordingErrorSink::ShowError(std::string text) {
  std::lock_guard lock(mutex_);
  errors_.push_back(std::move(text));
}

void RecordingErrorSink::EndProcess() {
  std::lock_guard lock(mutex_);
  ++endProcessCalls_;
}

void RecordingErrorSink::Debug(std::string_view text) {
  std::lock_guard lock(mutex_);
  debug_.emplace_back(text);
}

std::vector<std::string> RecordingErrorSink::Errors() const {
  std::lock_guard lock(mutex_);
  return errors_;
}

std::vector<std::string> RecordingErrorSink::DebugLines() const {
  std::lock_guard lock(mutex_);
  return debug_;
}

int RecordingErrorSink::EndProcessCalls() const {
  std::lock_guard lock(mutex_);
  return endProcessCalls_;
}

void RecordingOutputSink::Show(std::span<const std::uint8_t> bytes, terminal::ColourMark colour) {
  std::lock_guard lock(mutex_);
  blocks_.push_back({std::string(bytes.begin(), bytes.end()), colour});
}

void RecordingOutputSink::ClearOutput() {
  std::lock_guard lock(mutex_);
  blocks_.clear();
}

std::vector<RecordingOutputSink::Block> RecordingOutputSink::Blocks() const {
  std::lock_guard lock(mutex_);
  return blocks_;
}

std::string RecordingOutputSink::Text() const {
  std::lock_guard lock(mutex_);
  std::string text;
  for (const auto& block : blocks_) text += block.bytes;
  return text;
}

}  // namespace tavrin::test
