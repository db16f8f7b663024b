// Where the POSIX port layer finds COM port n.
//
// COM port n is the file "COM<n>" in the directory "ports" beside the driver
// library when that entry exists (usually a symlink to any tty: a USB
// adapter's /dev/serial/by-id/... name, /dev/ttyUSB0, a pseudo-terminal);
// otherwise it is /dev/ttyS<n-1>. A COM<n> symlink whose target has vanished
// still names the port, which then reports "no such port".
#pragma once

#include <memory>
#include <string>

#include "platform/port_entry.h"
#include "platform/serial_device.h"

namespace platform {

// The terminal device behind SerialDevice::Create.
std::unique_ptr<SerialDevice> NewPosixSerialDevice();

}  // namespace platform
