// The COM ports of this machine, as the serial device map in the registry
// names them: HKLM\HARDWARE\DEVICEMAP\SERIALCOMM holds one value per port,
// its data the port's name "COM<n>".
#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "platform/port_entry.h"
#include "platform/serial_port_list.h"

namespace platform {
namespace {

constexpr int kHighestPort = 255;
constexpr char kSerialDeviceMap[] = "HARDWARE\\DEVICEMAP\\SERIALCOMM";
// Longest value name the registry allows, with its terminating zero.
constexpr DWORD kMaxValueName = 16384;
// A port name is short; longer data is no port name.
constexpr DWORD kMaxValueData = 4096;
// The serial device map never holds this many ports.
constexpr int kMaxListedPorts = 1024;

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
  for (int n : NetworkLinePorts()) ports.push_back(n);
  std::sort(ports.begin(), ports.end());
  ports.erase(std::unique(ports.begin(), ports.end()), ports.end());
  return ports;
}

namespace {

// The value with the given index of the key HKLM\<keyPath>: false when the
// key cannot be opened or has no value with that index; *text is its data
// when that is text, else empty. The key is opened for reading and writing
// (and created when missing); a user who may only read it still gets its
// values.
bool ReadRegistryValue(const std::string& keyPath, int index, std::string* text) {
  text->clear();
  HKEY key = nullptr;
  DWORD disposition = 0;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                      KEY_READ | KEY_WRITE, nullptr, &key, &disposition) != ERROR_SUCCESS &&
      RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return false;
  }
  std::vector<char> valueName(kMaxValueName);
  DWORD nameLength = kMaxValueName;
  DWORD type = 0;
  DWORD size = 0;
  const bool found =
      index >= 0 && RegEnumValueA(key, static_cast<DWORD>(index), valueName.data(), &nameLength,
                                  nullptr, &type, nullptr, &size) == ERROR_SUCCESS;
  if (found && size > 0 && size <= kMaxValueData && (type == REG_SZ || type == REG_EXPAND_SZ)) {
    std::vector<char> data(size + 1, '\0');
    nameLength = kMaxValueName;
    DWORD got = size;
    if (RegEnumValueA(key, static_cast<DWORD>(index), valueName.data(), &nameLength, nullptr, &type,
                      reinterpret_cast<BYTE*>(data.data()), &got) == ERROR_SUCCESS) {
      // The stored text may or may not include its terminating zero.
      text->assign(data.data(), strnlen(data.data(), got));
    }
  }
  RegCloseKey(key);
  return found;
}

}  // namespace

std::vector<std::string> SerialPortNames() {
  std::vector<std::string> names;
  // A value that holds no text names no port; the list goes on after it.
  std::string name;
  for (int i = 0; i < kMaxListedPorts && ReadRegistryValue(kSerialDeviceMap, i, &name); ++i) {
    if (!name.empty()) names.push_back(name);
  }
  // The network lines beside the DLL, after the system's ports; a line file
  // takes the place of a system port of the same number.
  for (int n : NetworkLinePorts()) {
    const std::string line = "COM" + std::to_string(n);
    bool listed = false;
    for (const std::string& other : names)
      listed = listed || _stricmp(other.c_str(), line.c_str()) == 0;
    if (!listed) names.push_back(line);
  }
  return names;
}

}  // namespace platform
