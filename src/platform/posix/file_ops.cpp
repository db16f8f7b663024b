// The settings store's file operations on POSIX systems.
#include "platform/file_ops.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>

namespace platform {

namespace {

uint32_t LastError() { return errno != 0 ? static_cast<uint32_t>(errno) : EIO; }

std::string DirectoryOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// The rename itself becomes durable with the directory's entry.
void SyncDirectory(const std::string& path) {
  const int fd = open(DirectoryOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}

}  // namespace

FileProbe ProbeFile(const std::string& path) {
  FileProbe probe{false, false, 0};
  struct stat st {};
  if (path.empty() || stat(path.c_str(), &st) != 0) return probe;
  probe.exists = true;
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return probe;
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
    probe.readable = true;
    probe.size = static_cast<uint64_t>(st.st_size);
  }
  close(fd);
  return probe;
}

bool ClearReadOnly(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return false;
  if ((st.st_mode & S_IWUSR) != 0) return true;
  return chmod(path.c_str(), (st.st_mode & 07777) | S_IWUSR) == 0;
}

std::string TemporaryFileBeside(const std::string& path) {
  static std::atomic<unsigned> counter{0};
  return path + ".~" + std::to_string(getpid()) + "-" + std::to_string(counter.fetch_add(1)) +
         ".tmp";
}

uint32_t ReplaceWithTemporaryFile(const std::string& temporary, const std::string& path) {
  struct stat old {};
  const bool hasOld = stat(path.c_str(), &old) == 0;
  if (hasOld && (old.st_mode & S_IWUSR) == 0) {
    unlink(temporary.c_str());
    return EACCES;
  }
  const int fd = open(temporary.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) {
    const uint32_t error = LastError();
    unlink(temporary.c_str());
    return error;
  }
  // The new file keeps the old one's permissions.
  if (hasOld) fchmod(fd, old.st_mode & 07777);
  if (fsync(fd) != 0) {
    const uint32_t error = LastError();
    close(fd);
    unlink(temporary.c_str());
    return error;
  }
  close(fd);
  if (rename(temporary.c_str(), path.c_str()) != 0) {
    const uint32_t error = LastError();
    unlink(temporary.c_str());
    return error;
  }
  SyncDirectory(path);
  return 0;
}

void RemoveFile(const std::string& path) { unlink(path.c_str()); }

}  // namespace platform
