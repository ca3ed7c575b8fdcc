// The port as a transfer uses it: a synchronous write (WriterGeneric) and a purge of the
// receive buffer. SerialLink provides it; tests may use any byte stream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace tavrin::transfer {

class TransferPort {
 public:
  virtual ~TransferPort() = default;
  // Returns when the bytes have been handed to the port; the count written (fewer on a
  // failed or aborted write).
  virtual std::size_t Write(std::span<const std::uint8_t> bytes) = 0;
  // Drops what has been received and not yet read.
  virtual void PurgeReceive() = 0;
};

}  // namespace tavrin::transfer
