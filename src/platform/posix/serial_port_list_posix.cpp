// The COM ports of this machine: the COM<n> entries of the ports directory
// beside the library, and the built-in serial ports /dev/ttyS<n-1> that have
// a UART behind them.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <string>
#include <vector>

#include "platform/posix/serial_device_posix.h"
#include "platform/serial_port_list.h"

namespace platform {
namespace {

constexpr int kHighestPort = 255;

// The number n of a name "<prefix><n>", n written without leading zeros;
// -1 for any other name.
int NumberAfter(const std::string& name, const std::string& prefix) {
  if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) return -1;
  const std::string digits = name.substr(prefix.size());
  if (digits.size() > 4 || (digits.size() > 1 && digits[0] == '0')) return -1;
  int n = 0;
  for (char c : digits) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return -1;
    n = n * 10 + (c - '0');
  }
  return n;
}

std::vector<std::string> DirectoryEntries(const std::string& dir) {
  std::vector<std::string> names;
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) return names;
  while (const dirent* entry = readdir(d)) names.emplace_back(entry->d_name);
  closedir(d);
  return names;
}

bool Exists(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0;
}

// The serial core reports the UART type of each ttyS line; 0 means no UART
// answered there. A driver without that attribute but with a device counts.
bool HasUart(const std::string& ttyName) {
  const std::string sys = "/sys/class/tty/" + ttyName;
  std::ifstream typeFile(sys + "/type");
  int type = 0;
  if (typeFile >> type) return type != 0;
  return Exists(sys + "/device");
}

}  // namespace

std::vector<int> ListSerialPorts() {
  std::vector<int> ports;
  const std::string portDir = PortDirectory();
  if (!portDir.empty()) {
    for (const std::string& name : DirectoryEntries(portDir)) {
      const int n = NumberAfter(name, "COM");
      if (n >= 1 && n <= kHighestPort) ports.push_back(n);
    }
  }
  for (const std::string& name : DirectoryEntries("/sys/class/tty")) {
    const int k = NumberAfter(name, "ttyS");
    if (k < 0 || k >= kHighestPort) continue;
    if (Exists("/dev/" + name) && HasUart(name)) ports.push_back(k + 1);
  }
  std::sort(ports.begin(), ports.end());
  ports.erase(std::unique(ports.begin(), ports.end()), ports.end());
  return ports;
}

std::vector<std::string> SerialPortNames() {
  std::vector<std::string> names;
  for (int n : ListSerialPorts()) names.push_back("COM" + std::to_string(n));
  return names;
}

}  // namespace platform
