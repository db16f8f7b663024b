// The serial ports the system offers.
#pragma once

#include <vector>

namespace platform {

// COM port numbers that exist on this machine, ascending.
std::vector<int> ListSerialPorts();

}  // namespace platform
