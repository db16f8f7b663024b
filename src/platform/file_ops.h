// File operations of the settings store: probing and reading the file,
// clearing its read-only mark, locking it against other processes, and
// replacing it atomically.
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

// The whole content of the file (through symbolic links). False when it is
// missing or cannot be read.
bool ReadFileBytes(const std::string& path, std::string* bytes);

// Creates the file, or empties it when it exists, and writes the bytes. False
// when it cannot be created or the bytes cannot all be written; what was
// written may then remain, for the caller to remove.
bool WriteNewFile(const std::string& path, const std::string& bytes);

// A name for a new temporary file in the directory of the file `path` names
// (the target, when `path` is a symbolic link), not used by any other thread
// or process at the moment. The name carries the process id, so that
// RemoveStaleTemporaries can tell whose it is.
std::string TemporaryFileBeside(const std::string& path);

// Flushes the finished temporary file to disk and renames it over the file
// `path` names (the target of a symbolic link, which stays a link), so that
// it holds either the old or the new content at every moment, also across a
// crash. An existing file that is read-only is not replaced. 0, or the
// system's error code; the temporary file is gone in either case.
uint32_t ReplaceWithTemporaryFile(const std::string& temporary, const std::string& path);

// The result of PlaceTemporaryFile when something already carries the name.
constexpr uint32_t kErrorNameTaken = 0xFFFFFFFFu;

// Flushes the finished temporary file and gives it the name `path`, but only
// while nothing carries that name: a file, a link (even one whose target is
// missing) or anything else there stays as it is and the result is
// kErrorNameTaken. 0, kErrorNameTaken or the system's error code; the
// temporary file is gone in every case.
uint32_t PlaceTemporaryFile(const std::string& temporary, const std::string& path);

// Deletes the temporary files beside `path` (TemporaryFileBeside) that were
// left by processes that no longer run, e.g. killed while they saved.
void RemoveStaleTemporaries(const std::string& path);

// A lock on the settings file shared by every process of the system, held
// from LockFile to UnlockFile; the system drops it when its process ends,
// however it ends. Not re-entrant: one holder per thread at a time.
struct FileLock;
// Blocks until the lock is held. Null when the file is missing (there is
// nothing to lock; whoever writes it next creates it).
FileLock* LockFile(const std::string& path);
void UnlockFile(FileLock* lock);

// Deletes the file; a failure is ignored.
void RemoveFile(const std::string& path);

}  // namespace platform
