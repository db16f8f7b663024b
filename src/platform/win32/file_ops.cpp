// The settings store's file operations on Windows.
#include "platform/file_ops.h"

#include <windows.h>

#include <atomic>

namespace platform {

FileProbe ProbeFile(const std::string& path) {
  FileProbe probe{false, false, 0};
  if (path.empty()) return probe;
  if (GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
    // A file held open without sharing still exists.
    const DWORD error = GetLastError();
    if (error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED) return probe;
  }
  probe.exists = true;
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return probe;
  LARGE_INTEGER size;
  if (GetFileType(file) == FILE_TYPE_DISK && GetFileSizeEx(file, &size)) {
    probe.readable = true;
    probe.size = static_cast<uint64_t>(size.QuadPart);
  }
  CloseHandle(file);
  return probe;
}

bool ClearReadOnly(const std::string& path) {
  return SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL) != 0;
}

std::string TemporaryFileBeside(const std::string& path) {
  static std::atomic<unsigned> counter{0};
  return path + ".~" + std::to_string(GetCurrentProcessId()) + "-" +
         std::to_string(counter.fetch_add(1)) + ".tmp";
}

uint32_t ReplaceWithTemporaryFile(const std::string& temporary, const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    DeleteFileA(temporary.c_str());
    return ERROR_ACCESS_DENIED;
  }
  HANDLE file = CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    DeleteFileA(temporary.c_str());
    return error;
  }
  if (!FlushFileBuffers(file)) {
    const DWORD error = GetLastError();
    CloseHandle(file);
    DeleteFileA(temporary.c_str());
    return error;
  }
  CloseHandle(file);
  if (!MoveFileExA(temporary.c_str(), path.c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    const DWORD error = GetLastError();
    DeleteFileA(temporary.c_str());
    return error;
  }
  return 0;
}

void RemoveFile(const std::string& path) { DeleteFileA(path.c_str()); }

}  // namespace platform
