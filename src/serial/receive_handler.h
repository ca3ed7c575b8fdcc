// Where the reader/status thread hands every block it reads from the port.
#pragma once

#include <cstdint>
#include <span>

namespace tavrin::serial {

class ReceiveHandler {
 public:
  virtual ~ReceiveHandler() = default;
  // Called on the reader/status thread, once per block, in arrival order. The handler
  // may rewrite the bytes in place (protocol bytes are blanked before display).
  virtual void OutputABuffer(std::span<std::uint8_t> block) = 0;
};

}  // namespace tavrin::serial
