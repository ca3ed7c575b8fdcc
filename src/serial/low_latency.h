// Low-latency mode of a serial driver (ASYNC_LOW_LATENCY through TIOCGSERIAL and
// TIOCSSERIAL). Every frame of a transfer waits for the target's ENQ, so every byte the
// driver holds back before passing it on costs each frame that long; USB serial adapters
// hold received bytes for their latency timer (16 ms by default on the common parts),
// and their drivers lower it to 1 ms in low-latency mode. A device without the mode (a
// pseudo-terminal, a UART whose driver refuses) keeps working as it is: that is not an
// error.
//
// The two driver calls are a parameter, so that a test can play a driver that takes the
// mode without a real UART.
#pragma once

#include <functional>
#include <optional>

struct serial_struct;

namespace tavrin::serial {

struct SerialInfoCalls {
  // TIOCGSERIAL and TIOCSSERIAL on `fd`: 0, or the errno of the refusal.
  std::function<int(int fd, serial_struct& info)> get;
  std::function<int(int fd, const serial_struct& info)> set;
};

// The kernel's ioctls.
SerialInfoCalls KernelSerialInfoCalls();

// Turns low-latency mode on. Returns the driver's flags as they were when this call
// changed them (for LeaveLowLatency); nullopt when there is nothing to undo: the mode
// was on already, or the device does not have it or refused it.
std::optional<int> EnterLowLatency(int fd, const SerialInfoCalls& calls);

// Puts the low-latency bit of `previousFlags` back, leaving every other setting of the
// driver as it is now. False when the driver refused (nothing else can be done at close).
bool LeaveLowLatency(int fd, int previousFlags, const SerialInfoCalls& calls);

}  // namespace tavrin::serial
