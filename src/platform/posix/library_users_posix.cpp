// Library users on POSIX systems: a shared flock() on the library file,
// held by each user; one that gets the file exclusively, for a moment, finds
// none. The library file is never replaced by the driver, so every user
// locks the same file.
#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <new>

#include "platform/library_users.h"

namespace platform {

namespace {

int FlockRetrying(int fd, int operation) {
  int r;
  do {
    r = flock(fd, operation);
  } while (r != 0 && errno == EINTR);
  return r;
}

}  // namespace

struct UserMark {
  int fd;
};

UserMark* MarkLibraryUser(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  // Waits only while another process looks (LibraryHasUsers), a moment.
  if (FlockRetrying(fd, LOCK_SH) != 0) {
    close(fd);
    return nullptr;
  }
  auto* mark = new (std::nothrow) UserMark{fd};
  if (mark == nullptr) close(fd);
  return mark;
}

void UnmarkLibraryUser(UserMark* mark) {
  if (mark == nullptr) return;
  close(mark->fd);
  delete mark;
}

bool LibraryHasUsers(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool alone = FlockRetrying(fd, LOCK_EX | LOCK_NB) == 0;
  close(fd);
  return !alone;
}

}  // namespace platform
