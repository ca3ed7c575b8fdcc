// Where the reader/status thread hands every block it reads from the port.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace tavrin::serial {

class ReceiveHandler {
 public:
  virtual ~ReceiveHandler() = default;
  // Called on the reader/status thread, once per block, in arrival order. The handler
  // may rewrite the bytes in place (protocol bytes are blanked before display).
  virtual void OutputABuffer(std::span<std::uint8_t> block) = 0;
  // Asked right after OutputABuffer: how many more bytes the handler knows are on their
  // way as part of what it is receiving (the rest of a frame whose length it has read).
  // Nobody waits on part of them, so the reader may let them gather in the driver. A
  // handler that passes blocks on passes this question on too.
  virtual std::size_t BytesStillComing() const = 0;
};

}  // namespace tavrin::serial
