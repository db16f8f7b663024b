// The settings store's file operations on Windows.
#include "platform/file_ops.h"

#include <windows.h>

#include <atomic>

namespace platform {

namespace {

// Every kind of sharing: another process may read the file, and replace or
// delete it, while this handle is open.
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// How long a rename over the settings file keeps trying while another
// process has the file open (reading it, or in the middle of its own
// replace, whose handle names the new file until it is closed).
constexpr DWORD kReplaceRetryMs = 2000;

bool Transient(DWORD error) {
  return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION ||
         error == ERROR_LOCK_VIOLATION;
}

bool ReadOnly(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0;
}

// MoveFileEx over `path`, tried again for a while when another process holds
// the file at the moment. 0 or the error.
DWORD MoveOver(const std::string& temporary, const std::string& path) {
  const DWORD start = GetTickCount();
  DWORD pause = 1;
  for (;;) {
    if (MoveFileExA(temporary.c_str(), path.c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      return 0;
    }
    const DWORD error = GetLastError();
    // A file that is read-only refuses for good.
    if (!Transient(error) || ReadOnly(path) || GetTickCount() - start >= kReplaceRetryMs) {
      return error;
    }
    Sleep(pause);
    if (pause < 32) pause *= 2;
  }
}

}  // namespace

FileProbe ProbeFile(const std::string& path) {
  FileProbe probe{false, false, 0};
  if (path.empty()) return probe;
  if (GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
    // A file held open without sharing still exists.
    const DWORD error = GetLastError();
    if (error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED) return probe;
  }
  probe.exists = true;
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
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
  if (ReadOnly(path)) {
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
  const DWORD error = MoveOver(temporary, path);
  if (error != 0) DeleteFileA(temporary.c_str());
  return error;
}

void RemoveFile(const std::string& path) { DeleteFileA(path.c_str()); }

}  // namespace platform
