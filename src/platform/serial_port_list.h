// The serial ports the system offers.
#pragma once

#include <string>
#include <vector>

namespace platform {

// COM port numbers that exist on this machine, ascending.
std::vector<int> ListSerialPorts();

// The system's serial ports by name ("COM3"), in the system's own stable
// order, as the connection setup dialog lists them. Windows: the values of
// the serial device map HKLM\HARDWARE\DEVICEMAP\SERIALCOMM in value order;
// elsewhere the ports of ListSerialPorts() named "COM<n>".
std::vector<std::string> SerialPortNames();

// Probes COM port <digits> ("3" for COM3): opens it for reading and writing,
// exclusively, as the driver opens its ports, and reads its line settings.
// True when both work. Waits 100 ms after a successful probe and after a
// failed open (not when the settings could not be read).
bool ProbePort(const std::string& digits);

}  // namespace platform
