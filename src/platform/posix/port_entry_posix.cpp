// The ports directory beside the library and the network line files among
// its COM<n> entries.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <mutex>
#include <string>
#include <vector>

#include "platform/module_path.h"
#include "platform/port_entry.h"

namespace platform {
namespace {

constexpr int kHighestPort = 255;

std::mutex gPortDirectoryMutex;
std::string gPortDirectoryOverride;

// n of an entry name "COM<n>" (no leading zeros, 1..255); 0 otherwise.
int PortOfName(const char* name) {
  if (name[0] != 'C' || name[1] != 'O' || name[2] != 'M' || name[3] == '0') return 0;
  int n = 0;
  int digits = 0;
  for (const char* c = name + 3; *c != '\0'; ++c, ++digits) {
    if (!std::isdigit(static_cast<unsigned char>(*c)) || digits >= 3) return 0;
    n = n * 10 + (*c - '0');
  }
  return digits > 0 && n <= kHighestPort ? n : 0;
}

bool IsRegularFile(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

std::string PortDirectory() {
  {
    std::lock_guard<std::mutex> lock(gPortDirectoryMutex);
    if (!gPortDirectoryOverride.empty()) return gPortDirectoryOverride;
  }
  std::string library;
  if (!LibraryFileName(&library)) return std::string();
  const size_t slash = library.rfind('/');
  if (slash == std::string::npos) return std::string();
  return library.substr(0, slash) + "/ports";
}

void SetPortDirectoryForTesting(const std::string& dir) {
  std::lock_guard<std::mutex> lock(gPortDirectoryMutex);
  gPortDirectoryOverride = dir;
}

bool ReadNetworkLineFile(int comPort, std::string* path, std::string* firstLine, bool* readable) {
  if (comPort < 1) return false;
  const std::string dir = PortDirectory();
  if (dir.empty()) return false;
  const std::string name = dir + "/COM" + std::to_string(comPort);
  if (!IsRegularFile(name)) return false;
  if (path != nullptr) *path = name;
  std::string line;
  // O_NOFOLLOW: a link put there since the check above is no network line
  // file; O_NONBLOCK: nor is a FIFO.
  const int fd = open(name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  bool ok = fd >= 0;
  if (ok) {
    char buffer[kNetworkLineFileLimit];
    size_t total = 0;
    while (total < sizeof buffer) {
      const ssize_t n = read(fd, buffer + total, sizeof buffer - total);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) ok = false;
      if (n <= 0) break;
      total += static_cast<size_t>(n);
    }
    close(fd);
    size_t end = 0;
    while (end < total && buffer[end] != '\n' && buffer[end] != '\r') ++end;
    line.assign(buffer, end);
  }
  if (firstLine != nullptr) *firstLine = ok ? line : std::string();
  if (readable != nullptr) *readable = ok;
  return true;
}

std::vector<int> NetworkLinePorts() {
  std::vector<int> ports;
  const std::string dir = PortDirectory();
  if (dir.empty()) return ports;
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) return ports;
  while (const dirent* entry = readdir(d)) {
    const int n = PortOfName(entry->d_name);
    if (n > 0 && IsRegularFile(dir + "/" + entry->d_name)) ports.push_back(n);
  }
  closedir(d);
  std::sort(ports.begin(), ports.end());
  return ports;
}

}  // namespace platform
