#include "driver/optex.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/optex_os.h"

namespace {

std::string UniqueName(const char* what) {
  static int serial = 0;
  return std::string("q7test_") + what + "_" + std::to_string(getpid()) + "_" +
         std::to_string(serial++);
}

bool SectionExists(const std::string& name) {
  const int fd = shm_open(("/Optex_MMF_" + name).c_str(), O_RDONLY, 0);
  if (fd < 0) return false;
  close(fd);
  return true;
}

// Waits for a child and tells whether it ended with exit code 0.
bool ChildSucceeded(pid_t child) {
  int status = 0;
  if (waitpid(child, &status, 0) != child) return false;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST(OptexTest, RecursionCountsReturnToZero) {
  COptex lock(100);
  const uint32_t me = platform::CurrentThreadId();
  lock.Enter();
  lock.Enter();
  ASSERT_TRUE(lock.TryEnter());
  COptex::State held = lock.Snapshot();
  EXPECT_EQ(held.LockCount, 3u);
  EXPECT_EQ(held.RecursionCount, 3u);
  EXPECT_EQ(held.OwnerThreadId, me);
  lock.Leave();
  lock.Leave();
  EXPECT_EQ(lock.Snapshot().LockCount, 1u);
  EXPECT_EQ(lock.Snapshot().OwnerThreadId, me);
  lock.Leave();
  const COptex::State free = lock.Snapshot();
  EXPECT_EQ(free.LockCount, 0u);
  EXPECT_EQ(free.OwnerThreadId, 0u);
  EXPECT_EQ(free.RecursionCount, 0u);
}

TEST(OptexTest, LeaveByAThreadThatDoesNotHoldItChangesNothing) {
  COptex lock(0);
  lock.Leave();
  EXPECT_EQ(lock.Snapshot().LockCount, 0u);
  lock.Enter();
  std::thread other([&] { lock.Leave(); });
  other.join();
  EXPECT_EQ(lock.Snapshot().LockCount, 1u);
  EXPECT_EQ(lock.Snapshot().RecursionCount, 1u);
  lock.Leave();
  EXPECT_EQ(lock.Snapshot().LockCount, 0u);
}

TEST(OptexTest, TryEnterOfAnotherThreadGivesUpAfterTheSpinBudget) {
  for (const uint32_t spin : {0u, 1u, 25u}) {
    COptex lock(spin);
    lock.Enter();
    // On a single-processor machine the budget stays 0.
    const uint32_t budget = lock.Snapshot().SpinCount;
    EXPECT_TRUE(budget == spin || (budget == 0 && platform::ProcessorCount() == 1));
    bool got = true;
    uint32_t attempts = 0;
    std::thread other([&] { got = lock.TryEnter(&attempts); });
    other.join();
    EXPECT_FALSE(got);
    EXPECT_EQ(attempts, budget + 1) << "spin count " << spin;
    EXPECT_EQ(lock.Snapshot().LockCount, 1u);
    lock.Leave();
  }
}

TEST(OptexTest, TryEnterOnAFreeLockTakesOneAttempt) {
  COptex lock(4000);
  uint32_t attempts = 0;
  ASSERT_TRUE(lock.TryEnter(&attempts));
  EXPECT_EQ(attempts, 1u);
  lock.Leave();
}

TEST(OptexTest, EnterBlocksUntilTheOwnersLastLeave) {
  COptex lock(50);
  lock.Enter();
  lock.Enter();
  std::atomic<bool> entered{false};
  COptex::State seen{};
  uint32_t waiterId = 0;
  std::thread waiter([&] {
    lock.Enter();
    waiterId = platform::CurrentThreadId();
    seen = lock.Snapshot();
    entered = true;
    lock.Leave();
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(entered.load());
  lock.Leave();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(entered.load());
  lock.Leave();
  waiter.join();
  EXPECT_TRUE(entered.load());
  EXPECT_EQ(seen.RecursionCount, 1u);
  EXPECT_EQ(seen.OwnerThreadId, waiterId);
  EXPECT_EQ(lock.Snapshot().LockCount, 0u);
}

TEST(OptexTest, ThreadsExcludeEachOther) {
  for (const uint32_t spin : {0u, 4000u}) {
    constexpr int kRounds = 2000;
    COptex lock(spin);
    long counter = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
      threads.emplace_back([&] {
        for (int i = 0; i < kRounds; ++i) {
          lock.Enter();
          if (i % 2 == 0) lock.Enter();  // recursion on the way
          ++counter;
          if (i % 2 == 0) lock.Leave();
          lock.Leave();
        }
      });
    }
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(counter, 4 * kRounds);
    EXPECT_EQ(lock.Snapshot().LockCount, 0u);
  }
}

TEST(OptexTest, NameLengthIsBounded) {
  const std::string longest = UniqueName("n") + std::string(COptex::kMaxNameLength, 'x');
  const std::string fits = longest.substr(0, COptex::kMaxNameLength);
  EXPECT_NO_THROW({ COptex lock(0, fits.c_str()); });
  EXPECT_THROW(COptex(0, (fits + "y").c_str()), std::invalid_argument);
  const std::wstring wide(COptex::kMaxNameLength + 1, L'w');
  EXPECT_THROW(COptex(0, wide.c_str()), std::invalid_argument);
  // A name the system refuses is reported, not ignored.
  EXPECT_THROW(COptex(0, "a/b"), std::system_error);
}

TEST(OptexTest, NullNameMakesAProcessLocalLock) {
  COptex lock(0, static_cast<const char*>(nullptr));
  EXPECT_FALSE(lock.IsNamed());
  COptex wide(0, static_cast<const wchar_t*>(nullptr));
  EXPECT_FALSE(wide.IsNamed());
}

TEST(OptexTest, LocksOfOneNameShareTheirStateAndVanishWithTheLastUser) {
  const std::string name = UniqueName("share");
  {
    COptex first(10, name.c_str());
    const std::wstring wideName(name.begin(), name.end());
    COptex second(10, wideName.c_str());
    EXPECT_TRUE(first.IsNamed());
    first.Enter();
    EXPECT_EQ(second.Snapshot().LockCount, 1u);
    EXPECT_EQ(second.Snapshot().OwnerThreadId, platform::CurrentThreadId());
    bool got = true;
    std::thread other([&] { got = second.TryEnter(); });
    other.join();
    EXPECT_FALSE(got);
    first.Leave();
    EXPECT_TRUE(SectionExists(name));
  }
  EXPECT_FALSE(SectionExists(name));
}

TEST(OptexTest, NamedLockExcludesAcrossProcesses) {
  const std::string name = UniqueName("procs");
  COptex lock(100, name.c_str());
  lock.Enter();

  int toParent[2];
  ASSERT_EQ(pipe(toParent), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    bool got = true;
    bool wrote = false;
    {
      COptex mine(100, name.c_str());
      got = mine.TryEnter();
      mine.Enter();  // blocks until the parent leaves
      const char entered = 'e';
      wrote = write(toParent[1], &entered, 1) == 1;
      mine.Leave();
    }
    _exit(!got && wrote ? 0 : 1);
  }
  close(toParent[1]);
  pollfd watch{toParent[0], POLLIN, 0};
  EXPECT_EQ(poll(&watch, 1, 200), 0) << "the child entered while the parent held the lock";
  lock.Leave();
  EXPECT_EQ(poll(&watch, 1, 10000), 1);
  EXPECT_TRUE(ChildSucceeded(child));
  close(toParent[0]);
  EXPECT_EQ(lock.Snapshot().LockCount, 0u);
}

TEST(OptexTest, ProcessesCountingUnderANamedLockLoseNoIncrement) {
  const std::string name = UniqueName("count");
  auto* counter = static_cast<long*>(
      mmap(nullptr, sizeof(long), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
  ASSERT_NE(counter, MAP_FAILED);
  *counter = 0;
  constexpr int kRounds = 20000;
  std::vector<pid_t> children;
  for (int p = 0; p < 3; ++p) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      {
        COptex lock(p == 0 ? 0 : 4000, name.c_str());
        for (int i = 0; i < kRounds; ++i) {
          lock.Enter();
          const long seen = *counter;
          if (i % 64 == 0) sched_yield();
          *counter = seen + 1;
          lock.Leave();
        }
      }
      _exit(0);
    }
    children.push_back(child);
  }
  for (const pid_t child : children) EXPECT_TRUE(ChildSucceeded(child));
  EXPECT_EQ(*counter, 3L * kRounds);
  munmap(counter, sizeof(long));
  EXPECT_FALSE(SectionExists(name));
}

TEST(OptexTest, ASectionLeftByAKilledHolderStartsAfresh) {
  const std::string name = UniqueName("stale");
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    COptex lock(0, name.c_str());
    lock.Enter();
    _exit(0);  // ends holding the lock, without closing it
  }
  ASSERT_TRUE(ChildSucceeded(child));
  ASSERT_TRUE(SectionExists(name));
  COptex lock(0, name.c_str());
  EXPECT_EQ(lock.Snapshot().LockCount, 0u);
  EXPECT_TRUE(lock.TryEnter());
  lock.Leave();
}

}  // namespace
