// The settings store's file operations on Windows.
#include "platform/file_ops.h"

#include <windows.h>

#include <atomic>
#include <cstdlib>

#include "platform/temporary_name.h"

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

// The process id in a temporary name "<file>.~<pid>-<n>.tmp"; 0 when the
// name is not one.
DWORD TemporaryOwner(const std::string& name, const std::string& file) {
  return static_cast<DWORD>(platform::TemporaryOwner(name, file, 10));
}

bool ProcessRuns(DWORD id) {
  HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, id);
  if (process == nullptr) return GetLastError() != ERROR_INVALID_PARAMETER;
  DWORD code = 0;
  const bool runs = !GetExitCodeProcess(process, &code) || code == STILL_ACTIVE;
  CloseHandle(process);
  return runs;
}

}  // namespace

struct FileLock {
  HANDLE mutex;
};

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

bool ReadFileBytes(const std::string& path, std::string* bytes) {
  bytes->clear();
  // Sharing everything, so that another process may replace the file
  // meanwhile.
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  bool done = GetFileType(file) == FILE_TYPE_DISK;
  char buffer[65536];
  while (done) {
    DWORD n = 0;
    if (!ReadFile(file, buffer, sizeof(buffer), &n, nullptr)) {
      done = false;
    } else if (n == 0) {
      break;
    } else {
      bytes->append(buffer, n);
    }
  }
  CloseHandle(file);
  return done;
}

bool WriteNewFile(const std::string& path, const std::string& bytes) {
  const HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  size_t done = 0;
  while (done < bytes.size()) {
    const DWORD chunk =
        static_cast<DWORD>(bytes.size() - done > 0x100000 ? 0x100000 : bytes.size() - done);
    DWORD written = 0;
    if (!WriteFile(file, bytes.data() + done, chunk, &written, nullptr) || written == 0) break;
    done += written;
  }
  const bool closed = CloseHandle(file) != 0;
  return done == bytes.size() && closed;
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

uint32_t PlaceTemporaryFile(const std::string& temporary, const std::string& path) {
  HANDLE file = CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE || !FlushFileBuffers(file)) {
    const DWORD error = GetLastError();
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    DeleteFileA(temporary.c_str());
    return error;
  }
  CloseHandle(file);
  // Without MOVEFILE_REPLACE_EXISTING an existing name is refused.
  if (MoveFileExA(temporary.c_str(), path.c_str(), MOVEFILE_WRITE_THROUGH)) return 0;
  const DWORD error = GetLastError();
  DeleteFileA(temporary.c_str());
  return error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS ? kErrorNameTaken : error;
}

void RemoveFile(const std::string& path) { DeleteFileA(path.c_str()); }

void RemoveStaleTemporaries(const std::string& path) {
  const size_t slash = path.find_last_of("\\/");
  const std::string directory =
      slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  const std::string file = slash == std::string::npos ? path : path.substr(slash + 1);
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((path + kTemporaryMark + "*" + kTemporaryEnd).c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    const DWORD owner = TemporaryOwner(found.cFileName, file);
    if (owner != 0 && owner != GetCurrentProcessId() && !ProcessRuns(owner)) {
      DeleteFileA((directory + found.cFileName).c_str());
    }
  } while (FindNextFileA(search, &found));
  FindClose(search);
}

FileLock* LockFile(const std::string& path) {
  // A named mutex per settings file; one its holder left by ending counts
  // as released (WAIT_ABANDONED).
  // Windows names are not case-sensitive: the name is made of the path's
  // letters in one case.
  uint32_t hash = 2166136261u;
  for (const char ch : path) {
    unsigned char c = static_cast<unsigned char>(ch);
    if (c >= 'A' && c <= 'Z') c = static_cast<unsigned char>(c - 'A' + 'a');
    if (c == '/') c = '\\';
    hash = (hash ^ c) * 16777619u;
  }
  char name[64];
  wsprintfA(name, "QUARO7K7_PTZ.settings.%08lx", static_cast<unsigned long>(hash));
  HANDLE mutex = CreateMutexA(nullptr, FALSE, name);
  if (mutex == nullptr) return nullptr;
  const DWORD waited = WaitForSingleObject(mutex, INFINITE);
  if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {
    CloseHandle(mutex);
    return nullptr;
  }
  return new FileLock{mutex};
}

void UnlockFile(FileLock* lock) {
  if (lock == nullptr) return;
  ReleaseMutex(lock->mutex);
  CloseHandle(lock->mutex);
  delete lock;
}

}  // namespace platform
