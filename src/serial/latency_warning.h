// The port opener of a real connection: PosixSerialDevice::Open (which asks for
// low-latency mode), then a look at the adapter's latency timer. A USB serial adapter
// whose timer is still above kLowestLatencyTimer (its driver ignores low-latency mode)
// costs every frame of a transfer that long, so the operator is told once, with the
// sysfs file that lowers it.
//
// Threads: the factory is called by SerialLink::OpenPort on the UI thread; the note goes
// to the status log (any thread may add to it) and to `notice` on that same thread.
#pragma once

#include <filesystem>
#include <functional>
#include <string>

#include "serial/serial_link.h"
#include "serial/usb_latency.h"

namespace tavrin::serial {

class StatusLog;

// The note, without a line end: the timer's value and the file to write 1 to.
std::string SlowAdapterNote(unsigned milliseconds, const std::filesystem::path& latencyFile);

// Where else the note goes (the command line: standard error); may be empty.
using NoticeSink = std::function<void(const std::string& note)>;
// Told the open's errno when a port cannot be opened, so that the host can say why
// (port_diagnosis.h); may be empty. Called on the thread that opens.
using OpenFailureSink = std::function<void(int error)>;

// Opens ports as PosixDeviceFactory does. When the opened adapter's latency timer is
// above kLowestLatencyTimer, adds SlowAdapterNote to `status` (ended by "\r\n") and
// gives it to `notice`: once per adapter for the life of the factory (its copies share
// what they have said). `status` must outlive the factory. A port that cannot be opened
// gives null, and its errno to `openFailure`.
DeviceFactory LatencyCheckedDeviceFactory(StatusLog& status, NoticeSink notice = {},
                                          std::filesystem::path sysfsRoot = kSysfsRoot,
                                          OpenFailureSink openFailure = {});

}  // namespace tavrin::serial
