// File operations of the settings store: probing the file, clearing its
// read-only mark, and replacing it atomically.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

struct FileProbe {
  bool exists;    // something carries the name (a file, a directory...)
  bool readable;  // a regular file that opens for reading
  uint64_t size;  // its size in bytes when readable, else 0
};

FileProbe ProbeFile(const std::string& path);

// Makes the file writable by its owner (Windows: plain attributes). False
// when that failed.
bool ClearReadOnly(const std::string& path);

// A name for a new temporary file in the directory of `path`, not used by
// any other thread or process at the moment.
std::string TemporaryFileBeside(const std::string& path);

// Flushes the finished temporary file to disk and renames it over `path`,
// so that `path` names either the old or the new content at every moment,
// also across a crash. An existing `path` that is read-only is not replaced.
// 0, or the system's error code; the temporary file is gone in either case.
uint32_t ReplaceWithTemporaryFile(const std::string& temporary, const std::string& path);

// Deletes the file; a failure is ignored.
void RemoveFile(const std::string& path);

}  // namespace platform
