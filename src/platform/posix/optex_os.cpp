// COptex's system objects on POSIX systems. A named lock's section is a POSIX
// shared-memory object "/<section name>" holding the 16-byte lock block and,
// after it, the process-shared semaphore its waiters block on; the event name
// is not needed. Every process that has the section mapped holds a shared
// flock() on it: whoever gets it exclusively is alone with it, starts it
// afresh when opening (its former users are gone, maybe killed while holding
// the lock) and removes its name when closing, so nothing outlives the last
// user, as with the system's named objects elsewhere.
#include "platform/optex_os.h"

#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <semaphore.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstddef>
#include <new>
#include <string>

namespace platform {

namespace {

struct SharedLayout {
  uint32_t block[kOptexBlockSize / sizeof(uint32_t)];
  sem_t waiters;
};
static_assert(offsetof(SharedLayout, block) == 0, "the lock block comes first");

uint32_t ErrnoOr(uint32_t fallback) { return errno != 0 ? static_cast<uint32_t>(errno) : fallback; }

int FlockRetrying(int fd, int operation) {
  int r;
  do {
    r = flock(fd, operation);
  } while (r != 0 && errno == EINTR);
  return r;
}

}  // namespace

struct OptexSection {
  int fd;
  SharedLayout* shared;
  std::string name;
};

struct OptexEvent {
  sem_t* sem;
  bool own;  // a process-local semaphore, destroyed with the event
  sem_t local;
};

OptexSection* OpenOptexSection(const char* sectionName, void** block, uint32_t* error) {
  *error = 0;
  const std::string name = std::string("/") + sectionName;
  // A section removed by its last user between our shm_open() and our flock()
  // is a dead one: open again and meet (or make) the live one.
  for (int attempt = 0; attempt < 1000; ++attempt) {
    const int fd = shm_open(name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
      *error = ErrnoOr(EINVAL);
      return nullptr;
    }
    bool alone = FlockRetrying(fd, LOCK_EX | LOCK_NB) == 0;
    if (!alone && (errno != EWOULDBLOCK || FlockRetrying(fd, LOCK_SH) != 0)) {
      *error = ErrnoOr(EIO);
      close(fd);
      return nullptr;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0) {
      *error = ErrnoOr(EIO);
      close(fd);
      return nullptr;
    }
    if (st.st_nlink == 0 || (!alone && static_cast<size_t>(st.st_size) < sizeof(SharedLayout))) {
      // Removed meanwhile, or its maker died half-way: try again.
      close(fd);
      continue;
    }
    if (alone && (ftruncate(fd, 0) != 0 || ftruncate(fd, sizeof(SharedLayout)) != 0)) {
      *error = ErrnoOr(EIO);
      close(fd);
      return nullptr;
    }
    void* mapped = mmap(nullptr, sizeof(SharedLayout), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (mapped == MAP_FAILED) {
      *error = ErrnoOr(ENOMEM);
      close(fd);
      return nullptr;
    }
    auto* shared = static_cast<SharedLayout*>(mapped);
    if (alone) {
      if (sem_init(&shared->waiters, 1, 0) != 0 || FlockRetrying(fd, LOCK_SH) != 0) {
        *error = ErrnoOr(EIO);
        munmap(mapped, sizeof(SharedLayout));
        close(fd);
        return nullptr;
      }
    }
    auto* section = new (std::nothrow) OptexSection{fd, shared, name};
    if (section == nullptr) {
      *error = ENOMEM;
      munmap(mapped, sizeof(SharedLayout));
      close(fd);
      return nullptr;
    }
    *block = shared->block;
    return section;
  }
  *error = EAGAIN;
  return nullptr;
}

void CloseOptexSection(OptexSection* section) {
  if (section == nullptr) return;
  munmap(section->shared, sizeof(SharedLayout));
  // Exclusive now means no other process has it open: take its name away.
  if (FlockRetrying(section->fd, LOCK_EX | LOCK_NB) == 0) {
    struct stat st {};
    if (fstat(section->fd, &st) == 0 && st.st_nlink > 0) shm_unlink(section->name.c_str());
  }
  close(section->fd);
  delete section;
}

OptexEvent* OpenOptexEvent(const char* eventName, OptexSection* section, uint32_t* error) {
  *error = 0;
  auto* event = new (std::nothrow) OptexEvent{};
  if (event == nullptr) {
    *error = ENOMEM;
    return nullptr;
  }
  if (eventName != nullptr && section != nullptr) {
    event->sem = &section->shared->waiters;
    event->own = false;
    return event;
  }
  if (sem_init(&event->local, 0, 0) != 0) {
    *error = ErrnoOr(EINVAL);
    delete event;
    return nullptr;
  }
  event->sem = &event->local;
  event->own = true;
  return event;
}

void WaitOptexEvent(OptexEvent* event) {
  while (sem_wait(event->sem) != 0 && errno == EINTR) {
  }
}

void SignalOptexEvent(OptexEvent* event) { sem_post(event->sem); }

void CloseOptexEvent(OptexEvent* event) {
  if (event == nullptr) return;
  if (event->own) sem_destroy(&event->local);
  delete event;
}

namespace {
// A forked child's thread has an id of its own: the cached ids are renewed
// after every fork.
std::atomic<unsigned> g_forkGeneration{0};
void RenewThreadIds() { g_forkGeneration.fetch_add(1, std::memory_order_relaxed); }
const int g_forkHandler = pthread_atfork(nullptr, nullptr, RenewThreadIds);
}  // namespace

uint32_t CurrentThreadId() {
  // Asked for on every lock operation: the system call is made once per
  // thread (and once more after a fork).
  struct Cached {
    unsigned generation = ~0u;
    uint32_t id = 0;
  };
  static thread_local Cached cached;
  const unsigned generation = g_forkGeneration.load(std::memory_order_relaxed);
  if (cached.generation != generation) {
    cached.id = static_cast<uint32_t>(gettid());
    cached.generation = generation;
  }
  (void)g_forkHandler;
  return cached.id;
}

uint32_t ProcessorCount() {
  const long n = sysconf(_SC_NPROCESSORS_ONLN);
  return n > 0 ? static_cast<uint32_t>(n) : 1;
}

}  // namespace platform
