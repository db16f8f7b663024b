// The COM ports the driver opens: terminal devices.
#include "platform/posix/serial_device_posix.h"

namespace platform {

std::unique_ptr<SerialDevice> SerialDevice::Create() { return NewPosixSerialDevice(); }

}  // namespace platform
