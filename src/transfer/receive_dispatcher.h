// OutputABuffer: where the reader/status thread hands every block it reads. While the
// COM port test runs the block goes to it; otherwise the receive processor interprets and
// blanks it, and, unless a download runs or capture hold is set, it is captured and shown.
#pragma once

#include <cstdint>
#include <span>

#include "serial/error_reporter.h"
#include "serial/receive_handler.h"
#include "terminal/capture_sink.h"
#include "transfer/transfer.h"

namespace tavrin::transfer {

// The COM port test as the dispatcher sees it.
class ComTestReceiver {
 public:
  virtual ~ComTestReceiver() = default;
  virtual bool TestActive() const = 0;
  virtual void ComTestReceive(std::span<const std::uint8_t> block) = 0;
};

class ReceiveDispatcher final : public serial::ReceiveHandler {
 public:
  ReceiveDispatcher(Transfer& transfer, terminal::CaptureSink& capture, serial::ErrorSink& errors)
      : transfer_(transfer), capture_(capture), errors_(errors) {}

  // The COM port test, when the host has one (set before the link threads start).
  void SetComTest(ComTestReceiver* comTest) { comTest_ = comTest; }

  void OutputABuffer(std::span<std::uint8_t> block) override;
  std::size_t BytesStillComing() const override;

 private:
  Transfer& transfer_;
  terminal::CaptureSink& capture_;
  serial::ErrorSink& errors_;
  ComTestReceiver* comTest_ = nullptr;
};

}  // namespace tavrin::transfer
