// The port as a transfer uses it: a synchronous write (WriterGeneric) and a purge of the
// receive buffer. SerialLink provides it; tests may use any byte stream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "serial/serial_device.h"
#include "serial/stop_signal.h"

namespace tavrin::transfer {

class TransferPort {
 public:
  virtual ~TransferPort() = default;
  // Returns when the bytes have been handed to the port, or as soon as `cancel` is raised
  // while the write waits (a target that stopped reading; the rest is abandoned). The
  // count written: fewer on a failed, aborted or cancelled write.
  virtual std::size_t Write(std::span<const std::uint8_t> bytes,
                            const serial::StopSignal& cancel) = 0;
  // Drops what has been received and not yet read. A failure is returned, not reported:
  // the transfer reports it (serial::kPurgeStep) when it holds no lock.
  virtual serial::DeviceResult PurgeReceive() = 0;
};

}  // namespace tavrin::transfer
