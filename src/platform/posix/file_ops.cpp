// The settings store's file operations on POSIX systems.
#include "platform/file_ops.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>

#include "platform/temporary_name.h"

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

std::string BaseNameOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The file a symbolic link names; any other path as it is. A link whose
// target is missing stays the link.
std::string TargetOf(const std::string& path) {
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
  char* real = realpath(path.c_str(), nullptr);
  if (real == nullptr) return path;
  const std::string target = real;
  std::free(real);
  return target;
}

// The process id in a temporary name "<file>.~<pid>-<n>.tmp"; 0 when the
// name is not one.
pid_t TemporaryOwner(const std::string& name, const std::string& file) {
  return static_cast<pid_t>(platform::TemporaryOwner(name, file, 9));
}

void RemoveStaleIn(const std::string& path) {
  const std::string directory = DirectoryOf(path);
  const std::string file = BaseNameOf(path);
  DIR* dir = opendir(directory.c_str());
  if (dir == nullptr) return;
  while (const dirent* entry = readdir(dir)) {
    const pid_t owner = TemporaryOwner(entry->d_name, file);
    if (owner <= 0 || owner == getpid()) continue;
    if (kill(owner, 0) != 0 && errno == ESRCH) unlink((directory + "/" + entry->d_name).c_str());
  }
  closedir(dir);
}

}  // namespace

struct FileLock {
  int fd;
};

FileProbe ProbeFile(const std::string& path) {
  FileProbe probe{false, false, 0};
  struct stat st {};
  if (path.empty() || stat(path.c_str(), &st) != 0) return probe;
  probe.exists = true;
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
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

bool ReadFileBytes(const std::string& path, std::string* bytes) {
  bytes->clear();
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st {};
  bool done = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  if (done) bytes->reserve(static_cast<size_t>(st.st_size));
  char buffer[65536];
  while (done) {
    const ssize_t n = read(fd, buffer, sizeof(buffer));
    if (n > 0) {
      bytes->append(buffer, static_cast<size_t>(n));
    } else if (n == 0) {
      break;
    } else if (errno != EINTR) {
      done = false;
    }
  }
  close(fd);
  return done;
}

bool WriteNewFile(const std::string& path, const std::string& bytes) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  const bool closed = close(fd) == 0;
  return done == bytes.size() && closed;
}

std::string TemporaryFileBeside(const std::string& path) {
  static std::atomic<unsigned> counter{0};
  return TargetOf(path) + kTemporaryMark + std::to_string(getpid()) + "-" +
         std::to_string(counter.fetch_add(1)) + ".tmp";
}

uint32_t ReplaceWithTemporaryFile(const std::string& temporary, const std::string& link) {
  const std::string path = TargetOf(link);
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

uint32_t PlaceTemporaryFile(const std::string& temporary, const std::string& path) {
  const int fd = open(temporary.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0 || fsync(fd) != 0) {
    const uint32_t error = LastError();
    if (fd >= 0) close(fd);
    unlink(temporary.c_str());
    return error;
  }
  close(fd);
  // A hard link is made only when the name is free; the temporary name goes
  // afterwards.
  if (link(temporary.c_str(), path.c_str()) != 0) {
    const uint32_t error = errno == EEXIST ? kErrorNameTaken : LastError();
    unlink(temporary.c_str());
    return error;
  }
  unlink(temporary.c_str());
  SyncDirectory(path);
  return 0;
}

void RemoveFile(const std::string& path) { unlink(path.c_str()); }

void RemoveStaleTemporaries(const std::string& path) {
  RemoveStaleIn(path);
  const std::string target = TargetOf(path);
  if (target != path) RemoveStaleIn(target);
}

FileLock* LockFile(const std::string& path) {
  // The file is replaced by renaming, so the lock is on the file that the
  // path names once the lock is held: a file replaced meanwhile is locked
  // again.
  for (;;) {
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return nullptr;
    int r;
    do {
      r = flock(fd, LOCK_EX);
    } while (r != 0 && errno == EINTR);
    struct stat held {};
    struct stat named {};
    if (r != 0 || fstat(fd, &held) != 0) {
      close(fd);
      return nullptr;
    }
    if (stat(path.c_str(), &named) == 0 && named.st_dev == held.st_dev &&
        named.st_ino == held.st_ino) {
      return new FileLock{fd};
    }
    close(fd);
  }
}

void UnlockFile(FileLock* lock) {
  if (lock == nullptr) return;
  close(lock->fd);
  delete lock;
}

}  // namespace platform
