// Network line files in the directory "ports" beside the DLL: a file
// ports\COM<n> takes COM port n's place of \\.\COMn.
#include <windows.h>

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

// n of a file name "COM<n>" (any case, no leading zeros, 1..255); 0 otherwise.
int PortOfName(const char* name) {
  if (std::toupper(static_cast<unsigned char>(name[0])) != 'C' ||
      std::toupper(static_cast<unsigned char>(name[1])) != 'O' ||
      std::toupper(static_cast<unsigned char>(name[2])) != 'M' || name[3] == '0')
    return 0;
  int n = 0;
  int digits = 0;
  for (const char* c = name + 3; *c != '\0'; ++c, ++digits) {
    if (!std::isdigit(static_cast<unsigned char>(*c)) || digits >= 3) return 0;
    n = n * 10 + (*c - '0');
  }
  return digits > 0 && n <= kHighestPort ? n : 0;
}

bool IsRegularFile(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES &&
         (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) == 0;
}

}  // namespace

std::string PortDirectory() {
  {
    std::lock_guard<std::mutex> lock(gPortDirectoryMutex);
    if (!gPortDirectoryOverride.empty()) return gPortDirectoryOverride;
  }
  std::string library;
  if (!LibraryFileName(&library)) return std::string();
  const size_t slash = library.find_last_of("\\/");
  if (slash == std::string::npos) return std::string();
  return library.substr(0, slash) + "\\ports";
}

void SetPortDirectoryForTesting(const std::string& dir) {
  std::lock_guard<std::mutex> lock(gPortDirectoryMutex);
  gPortDirectoryOverride = dir;
}

bool ReadNetworkLineFile(int comPort, std::string* path, std::string* firstLine, bool* readable) {
  if (comPort < 1) return false;
  const std::string dir = PortDirectory();
  if (dir.empty()) return false;
  const std::string name = dir + "\\COM" + std::to_string(comPort);
  if (!IsRegularFile(name)) return false;
  HANDLE file = CreateFileA(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  // An entry that leads to a device (a link to a serial device or a
  // pseudo-terminal, which Wine shows with the attributes of a plain file)
  // is no line file: reading it would wait for the device's input.
  if (file != INVALID_HANDLE_VALUE && GetFileType(file) != FILE_TYPE_DISK) {
    CloseHandle(file);
    return false;
  }
  bool ok = file != INVALID_HANDLE_VALUE;
  std::string line;
  if (ok) {
    char buffer[kNetworkLineFileLimit];
    DWORD total = 0;
    while (total < sizeof buffer) {
      DWORD n = 0;
      if (!ReadFile(file, buffer + total, static_cast<DWORD>(sizeof buffer) - total, &n, nullptr)) {
        ok = false;
        break;
      }
      if (n == 0) break;
      total += n;
    }
    CloseHandle(file);
    DWORD end = 0;
    while (end < total && buffer[end] != '\n' && buffer[end] != '\r') ++end;
    line.assign(buffer, end);
  }
  if (path != nullptr) *path = name;
  if (firstLine != nullptr) *firstLine = ok ? line : std::string();
  if (readable != nullptr) *readable = ok;
  return true;
}

std::vector<int> NetworkLinePorts() {
  std::vector<int> ports;
  const std::string dir = PortDirectory();
  if (dir.empty()) return ports;
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((dir + "\\COM*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return ports;
  do {
    const int n = PortOfName(found.cFileName);
    if (n > 0 && (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
        ReadNetworkLineFile(n, nullptr, nullptr, nullptr))
      ports.push_back(n);
  } while (FindNextFileA(search, &found));
  FindClose(search);
  std::sort(ports.begin(), ports.end());
  ports.erase(std::unique(ports.begin(), ports.end()), ports.end());
  return ports;
}

}  // namespace platform
