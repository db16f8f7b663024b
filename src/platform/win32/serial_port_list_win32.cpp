// The COM ports of this machine, as the serial device map in the registry
// names them: HKLM\HARDWARE\DEVICEMAP\SERIALCOMM holds one value per port,
// its data the port's name "COM<n>".
#include <windows.h>

#include <algorithm>
#include <cctype>
#include <vector>

#include "platform/serial_port_list.h"

namespace platform {
namespace {

constexpr int kHighestPort = 255;

// n of a name "COM<n>" (any case, no leading zeros); -1 otherwise.
int PortNumber(const char* name, DWORD length) {
  if (length < 4 || length > 6) return -1;
  if (std::toupper(static_cast<unsigned char>(name[0])) != 'C' ||
      std::toupper(static_cast<unsigned char>(name[1])) != 'O' ||
      std::toupper(static_cast<unsigned char>(name[2])) != 'M' || name[3] == '0') {
    return -1;
  }
  int n = 0;
  for (DWORD i = 3; i < length; ++i) {
    if (!std::isdigit(static_cast<unsigned char>(name[i]))) return -1;
    n = n * 10 + (name[i] - '0');
  }
  return n >= 1 && n <= kHighestPort ? n : -1;
}

}  // namespace

std::vector<int> ListSerialPorts() {
  std::vector<int> ports;
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_QUERY_VALUE,
                    &key) != ERROR_SUCCESS) {
    return ports;
  }
  for (DWORD index = 0;; ++index) {
    char valueName[256];
    DWORD nameLength = sizeof valueName;
    char data[32];
    DWORD dataLength = sizeof data;
    DWORD type = 0;
    const LONG status = RegEnumValueA(key, index, valueName, &nameLength, nullptr, &type,
                                      reinterpret_cast<BYTE*>(data), &dataLength);
    if (status == ERROR_NO_MORE_ITEMS) break;
    // A value too long for a port name is no port.
    if (status != ERROR_SUCCESS || type != REG_SZ) continue;
    // The stored text may or may not include its terminating zero.
    while (dataLength > 0 && data[dataLength - 1] == '\0') --dataLength;
    const int n = PortNumber(data, dataLength);
    if (n > 0) ports.push_back(n);
  }
  RegCloseKey(key);
  std::sort(ports.begin(), ports.end());
  ports.erase(std::unique(ports.begin(), ports.end()), ports.end());
  return ports;
}

}  // namespace platform
