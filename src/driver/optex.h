// COptex: a recursive lock that first spins in user mode and only then
// blocks on an event, so that short holds cost no system call. Unnamed, its
// state is private to the process; named, every process that constructs a
// lock of the same name shares one lock.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace platform {
struct OptexEvent;
struct OptexSection;
}  // namespace platform

class COptex {
 public:
  // The four fields of the lock's state, read at one moment.
  struct State {
    uint32_t SpinCount;
    uint32_t LockCount;
    uint32_t OwnerThreadId;
    uint32_t RecursionCount;
  };

  // Longest name, in bytes (UTF-8 for a wide name), that fits with the
  // longer of the two prefixes into the system's 100-byte name buffer.
  static constexpr size_t kMaxNameLength = 100 - 1 - 12;

  // A process-local lock.
  explicit COptex(uint32_t spinCount = 4000);
  // A named lock; a null name makes a process-local one. A name longer than
  // kMaxNameLength throws std::invalid_argument (cutting it could make two
  // different names share one lock); a section or event that the system
  // refuses throws std::system_error.
  COptex(uint32_t spinCount, const char* name);
  COptex(uint32_t spinCount, const wchar_t* name);
  virtual ~COptex();

  COptex(const COptex&) = delete;
  COptex& operator=(const COptex&) = delete;

  // Sets how many extra attempts TryEnter makes; ignored on a machine with a
  // single processor, where spinning cannot help.
  void SetSpinCount(uint32_t spinCount);
  // True when the calling thread now holds the lock. Makes SpinCount + 1
  // attempts at most, without pausing; *attempts (when given) tells how many.
  bool TryEnter(uint32_t* attempts = nullptr);
  // Returns holding the lock, blocking as long as another thread holds it.
  void Enter();
  // Undoes one Enter or successful TryEnter of the owning thread. A thread
  // that does not hold the lock changes nothing.
  void Leave();

  State Snapshot() const;
  bool IsNamed() const { return Mapping != nullptr; }

 private:
  struct Block {
    std::atomic<uint32_t> SpinCount;
    std::atomic<uint32_t> LockCount;
    std::atomic<uint32_t> OwnerThreadId;
    std::atomic<uint32_t> RecursionCount;
  };
  static_assert(sizeof(Block) == 16, "the block is shared between processes");

  void Construct(uint32_t spinCount, const char* utf8Name);
  void TakeOwnership(uint32_t threadId);

  platform::OptexEvent* Event = nullptr;
  platform::OptexSection* Mapping = nullptr;
  Block* Shared = nullptr;
};

// Holds a COptex for the lifetime of a scope.
class COptexGuard {
 public:
  explicit COptexGuard(COptex& lock) : Lock(lock) { Lock.Enter(); }
  ~COptexGuard() { Lock.Leave(); }
  COptexGuard(const COptexGuard&) = delete;
  COptexGuard& operator=(const COptexGuard&) = delete;

 private:
  COptex& Lock;
};
