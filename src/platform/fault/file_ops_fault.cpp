// The settings file's operations, each failing on request as the system's
// would: the file looks missing, cannot be read, created or written (half
// of it is), the flush or the rename over the old file fails (the temporary
// is gone either way), the lock cannot be taken, a delete does nothing.
#include <errno.h>

#include <atomic>
#include <cstdlib>

#include "platform/fault/fault_points.h"
#include "platform/fault/real_calls.h"

namespace platform {

FileProbe ProbeFile(const std::string& path) {
  if (fault::ShouldFail("settings.probe")) return FileProbe{false, false, 0};
  return OsProbeFile(path);
}

bool ClearReadOnly(const std::string& path) {
  if (fault::ShouldFail("settings.chmod")) return false;
  return OsClearReadOnly(path);
}

bool ReadFileBytes(const std::string& path, std::string* bytes) {
  if (fault::ShouldFail("settings.read")) {
    bytes->clear();
    return false;
  }
  return OsReadFileBytes(path, bytes);
}

// With Q7FAULT_WRITES naming a directory, every whole text the store asks
// to write is kept there too (1.xml, 2.xml, ...): the files the settings
// file may become.
void KeepCandidate(const std::string& bytes) {
  static std::atomic<unsigned> counter{0};
  const char* dir = std::getenv("Q7FAULT_WRITES");
  if (dir == nullptr || *dir == 0) return;
  OsWriteNewFile(std::string(dir) + "/" + std::to_string(++counter) + ".xml", bytes);
}

bool WriteNewFile(const std::string& path, const std::string& bytes) {
  KeepCandidate(bytes);
  if (fault::ShouldFail("settings.open")) return false;
  if (fault::ShouldFail("settings.write")) {
    OsWriteNewFile(path, bytes.substr(0, bytes.size() / 2));
    return false;
  }
  return OsWriteNewFile(path, bytes);
}

std::string TemporaryFileBeside(const std::string& path) { return OsTemporaryFileBeside(path); }

uint32_t ReplaceWithTemporaryFile(const std::string& temporary, const std::string& path) {
  if (fault::ShouldFail("settings.flush")) {
    OsRemoveFile(temporary);
    return EIO;
  }
  if (fault::ShouldFail("settings.rename")) {
    OsRemoveFile(temporary);
    return ENOSPC;
  }
  return OsReplaceWithTemporaryFile(temporary, path);
}

uint32_t PlaceTemporaryFile(const std::string& temporary, const std::string& path) {
  if (fault::ShouldFail("settings.flush")) {
    OsRemoveFile(temporary);
    return EIO;
  }
  if (fault::ShouldFail("settings.rename")) {
    OsRemoveFile(temporary);
    return ENOSPC;
  }
  return OsPlaceTemporaryFile(temporary, path);
}

void RemoveStaleTemporaries(const std::string& path) { OsRemoveStaleTemporaries(path); }

FileLock* LockFile(const std::string& path) {
  if (fault::ShouldFail("settings.lock")) return nullptr;
  return OsLockFile(path);
}

void UnlockFile(FileLock* lock) { OsUnlockFile(lock); }

void RemoveFile(const std::string& path) {
  if (fault::ShouldFail("settings.remove")) return;
  OsRemoveFile(path);
}

}  // namespace platform
